// Shared by the benchmarks: figures printed as ratios of two benchmarks of the same run, and a
// temporary agent home to work in.
#pragma once

#include <string>

namespace bench {

// After the run, prints "<label>: <ratio>": the time of `subject` divided by the time of
// `baseline` (benchmark names as Google Benchmark prints them, "BM_Name/100"), times `scale`.
// Registered from a static initialiser of the benchmark's own file.
struct Ratio {
    Ratio(std::string label, std::string subject, std::string baseline, double scale = 1.0);
};

// A temporary agent home (data/ and friends) that the process works in; removed at exit.
const std::string& home();

// Writes a file of the home.
void write_file(const std::string& relative, const std::string& content);

}  // namespace bench
