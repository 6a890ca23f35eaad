// The benchmark program: runs the Google Benchmark targets of this folder, then prints each
// registered figure as a ratio of two times measured in this run (no thresholds: these are
// measurements, not tests).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

namespace {

struct Figure {
    std::string label, subject, baseline;
    double scale;
};

std::vector<Figure>& figures() {
    static std::vector<Figure> all;
    return all;
}

// Keeps the time of each benchmark while the console shows the runs as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratios() const {
        std::printf("\nRatios (each of two times measured in this run):\n");
        for (const Figure& f : figures()) {
            auto subject = times_.find(f.subject);
            auto baseline = times_.find(f.baseline);
            if (subject == times_.end() || baseline == times_.end() || baseline->second <= 0) continue;
            std::printf("  %-76s %6.2fx\n", f.label.c_str(), subject->second / baseline->second * f.scale);
        }
    }

private:
    std::map<std::string, double> times_;
};

std::string make_home() {
    char pattern[] = "/tmp/appbridge-bench-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    for (const char* dir : {"data", "procid", "temp", "proclog"}) std::filesystem::create_directories(std::string(pattern) + "/" + dir);
    return pattern;
}

}  // namespace

Ratio::Ratio(std::string label, std::string subject, std::string baseline, double scale) {
    figures().push_back({std::move(label), std::move(subject), std::move(baseline), scale});
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
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
