// The job's output built from the stand-in database. The memory of a build whose request has a log
// of 8 MB and of 80 MB (lines of 1,000 characters read one by one through the package), each build
// in a child process: the growth of the child's peak resident size during the build. And the round
// trips a real client needs for the tree statement of a 45-request tree.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "be_def.h"
#include "bench_standin.h"
#include "bench_support.h"
#include "standin.h"

namespace {

using oci_standin::Cell;
using oci_standin::Row;
using oci_standin::substring_rule;

constexpr const char* kTree = "FROM fnd_concurrent_requests WHERE";
constexpr int kRoot = 3000;
constexpr std::size_t kLineLength = 1000;

Row tree_row(int id, const char* log_file) {
    return {
        id,      "PARENT:" + std::to_string(kRoot), "C", "C",       "MSG:done", "NULL=", "NULL=", "SQLGL", "Program",
        "NULL=", std::string("NULL=") + log_file,   "N", "apphost1"};
}

// The stand-in's database of a build: the tree, the database host, the package that reads `lines`
// lines of the log, and the blocks that answer nothing.
void output_database(std::vector<Row> tree, long lines) {
    oci_standin::reset();
    oci_standin::add_rule(substring_rule(kTree, {oci_standin::answer_rows(std::move(tree))}));
    oci_standin::add_rule(substring_rule("from v$instance", {oci_standin::answer_rows({{"dbhost"}})}));
    oci_standin::Answer opened;
    opened.outs["rc"] = oci_standin::out_value(Cell(0));
    oci_standin::add_rule(substring_rule("QEL_file.init", {opened}));
    // One answer for every line: the count is shared by the copies that each execution takes.
    auto read = std::make_shared<long>(0);
    oci_standin::Answer line;
    line.outs["rc"] = [read, lines](const oci_standin::InBinds&) { return Cell(++*read <= lines ? 0 : 1); };
    line.outs["pvalue"] = oci_standin::out_value(Cell(std::string(kLineLength, 'x')));
    oci_standin::add_rule(substring_rule("QEL_file.read_line", {line}));
    for (const char* block : {"QEL_FILE.close", "DECLARE v_exist"})
        oci_standin::add_rule(substring_rule(block, {oci_standin::Answer{}}));
}

// The job whose output is built (its procid file and account, the package loaded, written once):
// with its log file, or with DUZ-DISPLAY_LOGFILE "N".
ZPAAttrList* job(bool with_log) {
    static const bool written = [] {
        bench::write_file("procid/OUTB_1.DAT", "PROCID  " + std::to_string(kRoot) + "\nDUZ-INSTANCE  VIS\n");
        bench::write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDUZ-LOAD_DBPKG Y\n");
        return true;
    }();
    (void)written;
    static bench::Attributes log{{"ORDERNO", "OUTB"}, {"RUNNO", "1"}, {"DUZ-DISPLAY_OUTPUT", "N"}};
    static bench::Attributes no_log{
        {"ORDERNO", "OUTB"}, {"RUNNO", "1"}, {"DUZ-DISPLAY_OUTPUT", "N"}, {"DUZ-DISPLAY_LOGFILE", "N"}};
    return with_log ? log.list() : no_log.list();
}

// Builds the job's sysout again; true when it was built.
bool build(ZPAConnHandle* connection, ZPAAttrList* attributes) {
    void* handle = nullptr;
    ZPAError error{};
    if (BE_DUZ_HndlSysoutWhenDone(connection, &handle, attributes, 1, &error) != 0 || handle == nullptr) return false;
    std::fclose(static_cast<FILE*>(handle));
    return true;
}

// The peak resident size of this process in kB (VmHWM).
long peak_rss_kb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return kb;
}

// What a build in a child process gives: the growth of the child's peak resident size during the
// build (the child starts with its peak at its resident size) and the size of the sysout, in
// bytes; both -1 when the build failed.
struct Measured {
    long peak_growth = -1;
    long sysout_size = -1;
};

Measured measure_build(ZPAConnHandle* connection, long lines) {
    Measured measured;
    int channel[2];
    if (::pipe(channel) != 0) return measured;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        output_database({tree_row(kRoot, "/u01/log/l3000.req")}, lines);
        oci_standin::keep_journal(false);
        ZPAAttrList* attributes = job(true);
        const long before = peak_rss_kb();
        struct stat sysout {};
        if (build(connection, attributes) && before >= 0 && ::stat("sysout/OUTB_1.DAT", &sysout) == 0)
            measured = {(peak_rss_kb() - before) * 1024, static_cast<long>(sysout.st_size)};
        const ssize_t sent = ::write(channel[1], &measured, sizeof measured);
        ::_exit(sent == sizeof measured ? 0 : 1);
    }
    ::close(channel[1]);
    if (child < 0 || ::read(channel[0], &measured, sizeof measured) != sizeof measured) measured = Measured{};
    ::close(channel[0]);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return measured;
}

// The connection whose session builds the output; null (the benchmark skipped) without a session.
ZPAConnHandle* output_connection(benchmark::State& state) {
    static ZPAConnHandle connection{};
    connection.UserData = bench::stand_in_session();
    if (connection.UserData != nullptr) return &connection;
    state.SkipWithError("no session on the stand-in");
    return nullptr;
}

void BM_OutputBuildMemory(benchmark::State& state) {
    ZPAConnHandle* connection = output_connection(state);
    if (connection == nullptr) return;
    const long lines = state.range(0) * 1000 * 1000 / static_cast<long>(kLineLength + 1);
    Measured measured;
    for (auto _ : state) {
        measured = measure_build(connection, lines);
        if (measured.peak_growth < 0) {
            state.SkipWithError("the output build failed");
            break;
        }
    }
    constexpr double kMegabyte = 1024.0 * 1024.0;
    state.counters["peak_rss_growth_mb"] = static_cast<double>(measured.peak_growth) / kMegabyte;
    state.counters["sysout_mb"] = static_cast<double>(measured.sysout_size) / kMegabyte;
}

// The tree statement of the output build of a 45-request tree (the log files left out).
void BM_OutputBuildTree(benchmark::State& state) {
    ZPAConnHandle* connection = output_connection(state);
    if (connection == nullptr) return;
    std::vector<Row> tree;
    for (int id = kRoot; id < kRoot + 45; ++id) tree.push_back(tree_row(id, ""));
    double round_trips = 0;
    for (auto _ : state) {
        state.PauseTiming();
        output_database(tree, 0);
        state.ResumeTiming();
        if (!build(connection, job(false))) {
            state.SkipWithError("the output build failed");
            break;
        }
        state.PauseTiming();
        for (const auto& execution : oci_standin::journal().executions)
            if (execution.text.find(kTree) != std::string::npos) round_trips += execution.round_trips;
        state.ResumeTiming();
    }
    state.counters["round_trips"] = benchmark::Counter(round_trips, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_OutputBuildMemory)->Arg(8)->Arg(80)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputBuildTree);

const bench::Count kMemory8("output build of a request with an 8 MB log: peak RSS growth, MB",
                            "BM_OutputBuildMemory/8/iterations:1", "peak_rss_growth_mb", bench::at_most(16));
const bench::Count kMemory80("output build of a request with an 80 MB log: peak RSS growth, MB",
                             "BM_OutputBuildMemory/80/iterations:1", "peak_rss_growth_mb", bench::at_most(16));
const bench::Count kTreeTrips("round trips a real client needs for the output build's tree of 45 requests",
                              "BM_OutputBuildTree", "round_trips", bench::at_most(3));

}  // namespace
