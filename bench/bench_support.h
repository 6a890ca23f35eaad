// Shared by the benchmarks: figures printed as ratios of two benchmarks of the same run or as counts
// the benchmarks report, each with its aim, and a temporary agent home to work in.
#pragma once

#include <string>

namespace bench {

// What a figure should come to: a ratio at most or at least a value. Printed beside the figure;
// nothing fails on it.
struct Aim {
    enum class Bound { at_most, at_least } bound;
    double value;
};
constexpr Aim at_most(double value) { return {Aim::Bound::at_most, value}; }
constexpr Aim at_least(double value) { return {Aim::Bound::at_least, value}; }

// Which time of the two benchmarks a figure divides: the elapsed time or the process's CPU time.
enum class Clock { real, cpu };

// After the run, prints "<label> <ratio> (aim ...)": the median time of `subject` divided by the
// median time of `baseline` over the repetitions (benchmark names as Google Benchmark prints
// them, "BM_Name/100"), times `scale`. Registered from a static initialiser of the benchmark's own
// file, one line a figure:
//     const bench::Ratio kCycle("what it compares", "BM_Subject", "BM_Baseline", bench::at_most(3));
struct Ratio {
    Ratio(std::string label, std::string subject, std::string baseline, Aim aim, Clock clock = Clock::real,
          double scale = 1.0);
};

// After the run, prints "<label> <count> (aim ...)": the median over the repetitions of the user
// counter `counter` that benchmark `subject` reports (as it reports it: per iteration when it says
// so), for figures that are counts rather than times (round trips, megabytes). Registered like a
// Ratio:
//     const bench::Count kTrips("what it counts", "BM_Subject", "round_trips", bench::at_most(3));
struct Count {
    Count(std::string label, std::string subject, std::string counter, Aim aim);
};

// A temporary agent home (data/ and friends) that the process works in; removed at exit.
const std::string& home();

// Writes a file of the home.
void write_file(const std::string& relative, const std::string& content);

}  // namespace bench
