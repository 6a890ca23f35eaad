// TRACK of a tree of 45 requests (44 ended, one running) in-process on the stand-in database,
// against the bare tree statement run straight on the stand-in. Each TRACK call also reports, as
// counters, the statements it prepared, the fetch calls, the round trips a real client needs, the
// attributes it appended, and the plug-in's own CPU time: the thread's CPU time of the call less
// that of the bare statement.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "be_def.h"
#include "bench_standin.h"
#include "bench_support.h"
#include "os_diag.h"
#include "standin.h"

namespace {

using oci_standin::Row;

constexpr int kRequests = 45;
constexpr int kRoot = 1000;
constexpr const char* kTreeMatch = "FROM fnd_concurrent_requests f";
// The bare statement: the rule and rows of TRACK's query, without the plug-in around it.
constexpr const char* kBareSql =
    "SELECT DISTINCT f.request_id, f.program, f.description, f.phase_code, f.status_code, f.parent_request_id, "
    "f.priority, f.hold_flag, f.request_type, f.completed FROM fnd_concurrent_requests f START WITH f.request_id = :ID";

double thread_cpu_us() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

std::vector<Row> tree() {
    std::vector<Row> rows;
    for (int id = kRoot; id < kRoot + kRequests; ++id) {
        const bool running = id == kRoot + kRequests - 1;
        rows.push_back({id, "Program " + std::to_string(id), id == kRoot ? "Month end" : " ", running ? "R" : "C",
                        running ? "R" : "C", id == kRoot ? 0 : kRoot, 50, "N", " ", running ? "NA" : "01/02/2025"});
    }
    return rows;
}

// The stand-in's tree, programmed anew by each benchmark of this file (the others program their own).
void track_database() {
    oci_standin::reset();
    oci_standin::add_rule(oci_standin::substring_rule(kTreeMatch, {oci_standin::answer_rows(tree())}));
}

// The session, and the job's procid file written once for the program.
BE_DUZ_Handles* session() {
    static const bool written = [] {
        bench::write_file("procid/BENCH_1.DAT", "PROCID  1000\nDUZ-INSTANCE  VIS\nDUZ-TASKTYPE  REQUEST\n");
        return true;
    }();
    (void)written;
    return bench::stand_in_session();
}

// The tree statement straight on the stand-in: prepare, bind, ten defines, execute, fetch to the end.
bool bare_statement(BE_DUZ_Handles* s) {
    int id = kRoot, request_id = 0, parent = 0, priority = 0;
    char texts[7][241] = {};
    OCIBind* bind = nullptr;
    OCIDefine* define = nullptr;
    if (OCIStmtPrepare(s->stmthp, s->errhp, reinterpret_cast<const OraText*>(kBareSql),
                       static_cast<ub4>(std::strlen(kBareSql)), OCI_NTV_SYNTAX, OCI_DEFAULT) != OCI_SUCCESS)
        return false;
    if (OCIBindByName(s->stmthp, &bind, s->errhp, reinterpret_cast<const OraText*>(":ID"), -1, &id, sizeof id, SQLT_INT,
                      nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
        return false;
    int* ints[] = {&request_id, &parent, &priority};
    const ub4 int_positions[] = {1, 6, 7};
    for (int i = 0; i < 3; ++i)
        if (OCIDefineByPos(s->stmthp, &define, s->errhp, int_positions[i], ints[i], sizeof(int), SQLT_INT, nullptr,
                           nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
            return false;
    const ub4 text_positions[] = {2, 3, 4, 5, 8, 9, 10};
    for (int i = 0; i < 7; ++i)
        if (OCIDefineByPos(s->stmthp, &define, s->errhp, text_positions[i], texts[i], sizeof texts[i], SQLT_STR,
                           nullptr, nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
            return false;
    if (OCIStmtExecute(s->svchp, s->stmthp, s->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS) return false;
    sword status = OCI_SUCCESS;
    while ((status = OCIStmtFetch(s->stmthp, s->errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT)) == OCI_SUCCESS) {
    }
    return status == OCI_NO_DATA;
}

struct Counts {
    double prepared = 0;
    double fetches = 0;
    double round_trips = 0;
};
Counts counts() {
    const oci_standin::Journal journal = oci_standin::journal();
    Counts c;
    c.prepared = static_cast<double>(journal.prepared.size());
    for (const auto& e : journal.executions) c.fetches += e.fetch_calls;
    c.round_trips = journal.round_trips();
    return c;
}

void BM_Track(benchmark::State& state) {
    BE_DUZ_Handles* s = session();
    if (s == nullptr) {
        state.SkipWithError("no session on the stand-in");
        return;
    }
    static char n_orderno[] = "ORDERNO", n_runno[] = "RUNNO", n_procid[] = "PROCID";
    static char orderno[] = "BENCH", runno[] = "1", procid[] = "1000";
    ZPAAttr in_attrs[] = {
        {n_orderno, sizeof orderno, orderno}, {n_runno, sizeof runno, runno}, {n_procid, sizeof procid, procid}};
    ZPAAttrList in{3, in_attrs, 0};
    ZPAAttrList connection{0, nullptr, 0};
    double plugin_us = 0, prepared = 0, fetches = 0, appended = 0, round_trips = 0;
    track_database();
    for (auto _ : state) {
        static char n_status[] = "JOBSTATUS", n_prop[] = "CMRTPROP";
        char status[8] = "", prop[24] = "";
        ZPAAttr out_attrs[] = {{n_status, sizeof status, status}, {n_prop, sizeof prop, prop}};
        ZPAAttrList out{2, out_attrs, 0};
        ZPAError error{};
        state.PauseTiming();
        const Counts before = counts();
        state.ResumeTiming();
        const double start = thread_cpu_us();
        const ZPARC rc = BE_action_track(s, &connection, &in, &out, &error);
        const double track_us = thread_cpu_us() - start;
        state.PauseTiming();
        const Counts after = counts();
        const bool tracked = rc == 0 && std::strcmp(out.Attributes[0].Value, "4") == 0;
        prepared += after.prepared - before.prepared;
        fetches += after.fetches - before.fetches;
        round_trips += after.round_trips - before.round_trips;
        appended += out.Count - 2;
        if (out.Attributes != out_attrs) ZPAAPI_ReleaseAttr(&out);
        const double bare_start = thread_cpu_us();
        const bool bare = bare_statement(s);
        plugin_us += track_us - (thread_cpu_us() - bare_start);
        // The journal would grow without end over a long run: only the counts matter here.
        track_database();
        state.ResumeTiming();
        if (!tracked || !bare) {
            state.SkipWithError("TRACK or the bare statement failed");
            break;
        }
    }
    const auto per_call = benchmark::Counter::kAvgIterations;
    state.counters["prepared"] = benchmark::Counter(prepared, per_call);
    state.counters["fetches"] = benchmark::Counter(fetches, per_call);
    state.counters["round_trips"] = benchmark::Counter(round_trips, per_call);
    state.counters["appended"] = benchmark::Counter(appended, per_call);
    state.counters["plugin_cpu_us"] = benchmark::Counter(plugin_us, per_call);
}

void BM_BareTreeStatement(benchmark::State& state) {
    BE_DUZ_Handles* s = session();
    if (s == nullptr) {
        state.SkipWithError("no session on the stand-in");
        return;
    }
    track_database();
    for (auto _ : state)
        if (!bare_statement(s)) state.SkipWithError("the bare statement failed");
}

BENCHMARK(BM_Track);
BENCHMARK(BM_BareTreeStatement);

const bench::Ratio kTrack("TRACK of a 45-request tree / its bare tree statement on the stand-in", "BM_Track",
                          "BM_BareTreeStatement", bench::at_most(2));
const bench::Count kTrackTrips("round trips a real client needs for TRACK of a 45-request tree", "BM_Track",
                               "round_trips", bench::at_most(3));

}  // namespace

namespace {

// TRACK as a site runs it for ten minutes after any error line: the debug level raised to 5 and
// every line written to the tracking connection's log, which rotates at its size limit.
void BM_TrackAtLevel5(benchmark::State& state) {
    OS_DIAG_initialize(nullptr, BE_DUZ_LOG_NAME_TRACK);
    DIAG_set_debug_level(5);
    BM_Track(state);
    DIAG_set_debug_level(0);
}

BENCHMARK(BM_TrackAtLevel5);

const bench::Ratio kTrackAtLevel5("TRACK of a 45-request tree at debug level 5 / its bare tree statement",
                                  "BM_TrackAtLevel5", "BM_BareTreeStatement", bench::at_most(6));

}  // namespace
