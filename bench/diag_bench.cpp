// A line of the diagnostic log at a raised debug level, against what a line must at least cost:
// the same line formatted with snprintf and handed to one write(2) on a file kept open for
// appending. Both files are emptied now and then (outside the timing), so they stay small.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "os_diag.h"

namespace {

constexpr const char* kProcess = "AT";  // the tracking connection's log, which rotates
constexpr const char* kTable = "CONFIG";
constexpr const char* kKey = "DBGLVL";
constexpr long long kLinesBetweenTruncations = 1 << 15;

void BM_LogLineAtLevel5(benchmark::State& state) {
    OS_DIAG_initialize(nullptr, kProcess);
    DIAG_set_debug_level(5);
    const std::string path = "proclog/" + std::string(kProcess) + "_" + std::to_string(getpid()) + ".log";
    long long lines = 0;
    for (auto _ : state) {
        DIAG_TRACE(5, "GM_PARAM_get: table:'%s', key:'%s'", kTable, kKey);
        if (++lines % kLinesBetweenTruncations == 0) {
            state.PauseTiming();
            if (truncate(path.c_str(), 0) != 0) state.SkipWithError("cannot empty the log");
            state.ResumeTiming();
        }
    }
    DIAG_set_debug_level(0);
}

void BM_SnprintfAndWrite(benchmark::State& state) {
    const int fd = open("temp/bench_line.log", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        state.SkipWithError("cannot open the file");
        return;
    }
    char line[512];
    long long lines = 0;
    for (auto _ : state) {
        const int length = std::snprintf(line, sizeof line, "%s %s:GM_PARAM_get: table:'%s', key:'%s'\n",
                                         "1211 08:24:47:123", kProcess, kTable, kKey);
        if (write(fd, line, static_cast<size_t>(length)) != length) {
            state.SkipWithError("write failed");
            break;
        }
        if (++lines % kLinesBetweenTruncations == 0) {
            state.PauseTiming();
            if (ftruncate(fd, 0) != 0) state.SkipWithError("cannot empty the file");
            state.ResumeTiming();
        }
    }
    close(fd);
    unlink("temp/bench_line.log");
}

BENCHMARK(BM_LogLineAtLevel5);
BENCHMARK(BM_SnprintfAndWrite);

const bench::Ratio kLogLine("diagnostic log line at debug level 5 / snprintf and one write(2) to a file kept open",
                            "BM_LogLineAtLevel5", "BM_SnprintfAndWrite", bench::at_most(2));

}  // namespace
