// The benchmark program: runs the Google Benchmark targets of this folder, then prints each
// registered figure as a ratio of the median times of two benchmarks measured in this run, or as
// the median of a count a benchmark reports, with its aim (no thresholds: these are measurements,
// not tests). Unless told otherwise, every benchmark
// runs 13 times, the repetitions of all benchmarks shuffled together, so that a subject and its
// baseline meet the same state of the machine.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

namespace {

const char* const kDefaultArguments[] = {"--benchmark_repetitions=13", "--benchmark_enable_random_interleaving=true",
                                         "--benchmark_display_aggregates_only=true"};

struct Figure {
    std::string label, subject, baseline;
    Aim aim;
    Clock clock;
    double scale;
};

std::vector<Figure>& figures() {
    static std::vector<Figure> all;
    return all;
}

struct CountFigure {
    std::string label, subject, counter;
    Aim aim;
};

std::vector<CountFigure>& count_figures() {
    static std::vector<CountFigure> all;
    return all;
}

std::optional<double> median(std::vector<double> times) {
    if (times.empty()) return std::nullopt;
    std::sort(times.begin(), times.end());
    const std::size_t middle = times.size() / 2;
    return times.size() % 2 != 0 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

std::string aim_text(const Aim& aim) {
    char text[48];
    const char* bound = aim.bound == Aim::Bound::at_most ? "at most" : "at least";
    std::snprintf(text, sizeof text, "aim: %s %g", bound, aim.value);
    return text;
}

// Keeps the times of every repetition of each benchmark while the console shows the runs as usual.
// Google Benchmark's median of the repetitions, when it reports one, stands for them (the console
// may be given the aggregates alone).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
            Times& times = times_[run.run_name.str()];
            if (median) times = {};
            times.real.push_back(run.GetAdjustedRealTime());
            times.cpu.push_back(run.GetAdjustedCPUTime());
            for (const auto& [name, counter] : run.counters) {
                std::vector<double>& values = times.counters[name];
                if (median) values.clear();
                values.push_back(counter.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratios() const {
        std::printf("\nRatios (medians of the repetitions of this run):\n");
        for (const Figure& f : figures()) {
            const std::optional<double> subject = median_of(f.subject, f.clock);
            const std::optional<double> baseline = median_of(f.baseline, f.clock);
            if (!subject || !baseline || *baseline <= 0) continue;
            std::printf("  %-84s %6.2fx   (%s)\n", f.label.c_str(), *subject / *baseline * f.scale,
                        aim_text(f.aim).c_str());
        }
        std::printf("\nCounts (medians of the repetitions of this run):\n");
        for (const CountFigure& f : count_figures()) {
            const auto found = times_.find(f.subject);
            if (found == times_.end()) continue;
            const auto counter = found->second.counters.find(f.counter);
            if (counter == found->second.counters.end()) continue;
            std::printf("  %-84s %7.2f   (%s)\n", f.label.c_str(), *median(counter->second), aim_text(f.aim).c_str());
        }
    }

private:
    struct Times {
        std::vector<double> real, cpu;
        std::map<std::string, std::vector<double>> counters;  // the user counters by name
    };
    std::optional<double> median_of(const std::string& name, Clock clock) const {
        const auto found = times_.find(name);
        if (found == times_.end()) return std::nullopt;
        return median(clock == Clock::cpu ? found->second.cpu : found->second.real);
    }
    std::map<std::string, Times> times_;
};

std::string make_home() {
    char pattern[] = "/tmp/appbridge-bench-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    for (const char* dir : {"data", "procid", "temp", "proclog", "sysout"})
        std::filesystem::create_directories(std::string(pattern) + "/" + dir);
    return pattern;
}

}  // namespace

Ratio::Ratio(std::string label, std::string subject, std::string baseline, Aim aim, Clock clock, double scale) {
    figures().push_back({std::move(label), std::move(subject), std::move(baseline), aim, clock, scale});
}

Count::Count(std::string label, std::string subject, std::string counter, Aim aim) {
    count_figures().push_back({std::move(label), std::move(subject), std::move(counter), aim});
}

const std::string& home() {
    static const std::string path = make_home();
    return path;
}

void write_file(const std::string& relative, const std::string& content) {
    std::ofstream(home() + "/" + relative, std::ios::binary) << content;
}

}  // namespace bench

int main(int argc, char** argv) {
    // The defaults go first: an option given on the command line overrides them.
    std::vector<char*> arguments(argv, argv + argc);
    for (const char* option : bench::kDefaultArguments)
        arguments.insert(arguments.begin() + 1, const_cast<char*>(option));
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    const std::string home = bench::home();
    if (chdir(home.c_str()) != 0) return 1;
    setenv("ORVANTA", home.c_str(), 1);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(home, ignored);
    return 0;
}
