// One submission's turn on a requests file of 10,000 rows (be_reqs_record, as a submission runs
// it: read, drop old rows, add one, write, under the file's locks) against a plain read of the same bytes and a write
// of them to another file, flushed to disk as every rewrite of a shared file is: in elapsed time and in the process's
// CPU time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "bench_standin.h"
#include "bench_support.h"
#include "gm_param.h"

namespace {

constexpr int kRows = 10000;
constexpr const char* kReqs = "data/DUZ_reqs.dat";

void write_requests() { bench::write_file(kReqs, bench::requests_file(kRows)); }

void BM_RequestsCycle(benchmark::State& state) {
    write_requests();
    const std::string now = std::to_string(std::time(nullptr));
    for (auto _ : state) {
        ZPAError error{};
        const CM_RC rc = be_reqs_record(kReqs, "9999999", now.c_str(), &error);
        if (rc != CM_RC_OK) state.SkipWithError("cycle failed");
    }
}

void BM_PlainReadWrite(benchmark::State& state) {
    write_requests();
    for (auto _ : state) {
        std::string content;
        char buffer[65536];
        const int in = ::open(kReqs, O_RDONLY);
        for (ssize_t n; (n = ::read(in, buffer, sizeof buffer)) > 0;)
            content.append(buffer, static_cast<std::size_t>(n));
        ::close(in);
        const int out = ::open("data/plain_copy.dat", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(out, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
            state.SkipWithError("write failed");
        ::fsync(out);
        ::close(out);
    }
}

BENCHMARK(BM_RequestsCycle);
BENCHMARK(BM_PlainReadWrite);

const bench::Ratio kCycle("requests file of 10,000 rows: one submission's cycle / plain read and write",
                          "BM_RequestsCycle", "BM_PlainReadWrite", bench::at_most(3));
const bench::Ratio kCycleCpu("requests file of 10,000 rows: one submission's cycle / plain read and write, CPU",
                             "BM_RequestsCycle", "BM_PlainReadWrite", bench::at_most(3), bench::Clock::cpu);

}  // namespace
