// Bench of TRACK in-process on the stand-in database: a tree of 45 requests (44 ended, one still
// running) tracked many times. Prints what one TRACK call costs: the statements it prepares, the
// fetch calls, the attributes it appends, and the plug-in's own CPU time (the calling thread's CPU
// time of the call less that of the bare tree statement run straight on the stand-in).
//   track_bench [calls]   (default 500)
#include "be_def.h"
#include "standin.h"
#include "testbed.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using oci_standin::Row;

constexpr int kRequests = 45;
constexpr int kRoot = 1000;
constexpr const char* kTreeMatch = "FROM fnd_concurrent_requests f";
// The bare statement: the same rule and rows as TRACK's query, without the plug-in around it.
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

BE_DUZ_Handles* open_session() {
    static char user[] = "APPS", password[] = "apps", connect[] = "VIS";
    static char n_login[] = "DB_LOGIN", n_password[] = "DB_PASSWD", n_sid[] = "DB_SID";
    ZPAAttr attrs[] = {{n_login, sizeof user, user}, {n_password, sizeof password, password}, {n_sid, sizeof connect, connect}};
    ZPAAttrList account{3, attrs, 0};
    auto* session = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
    BE_DUZ_OCI_Init_Handle(session);
    ZPAError error{};
    if (BE_DUZ_OCI_START_Session(&account, session, &error) != 0) {
        std::fprintf(stderr, "track_bench: no session: %s\n", error.text);
        std::exit(1);
    }
    return session;
}

// The tree statement run straight on the stand-in: prepare, bind, ten defines, execute, fetch to
// the end. 0, or 1 when a call failed.
int bare_statement(BE_DUZ_Handles* s) {
    int id = kRoot, request_id = 0, parent = 0, priority = 0;
    char texts[7][241] = {};
    OCIBind* bind = nullptr;
    OCIDefine* define = nullptr;
    if (OCIStmtPrepare(s->stmthp, s->errhp, reinterpret_cast<const OraText*>(kBareSql),
                       static_cast<ub4>(std::strlen(kBareSql)), OCI_NTV_SYNTAX, OCI_DEFAULT) != OCI_SUCCESS)
        return 1;
    if (OCIBindByName(s->stmthp, &bind, s->errhp, reinterpret_cast<const OraText*>(":ID"), -1, &id, sizeof id, SQLT_INT,
                      nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
        return 1;
    int* ints[] = {&request_id, &parent, &priority};
    const ub4 int_positions[] = {1, 6, 7};
    for (int i = 0; i < 3; ++i)
        if (OCIDefineByPos(s->stmthp, &define, s->errhp, int_positions[i], ints[i], sizeof(int), SQLT_INT, nullptr,
                           nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
            return 1;
    const ub4 text_positions[] = {2, 3, 4, 5, 8, 9, 10};
    for (int i = 0; i < 7; ++i)
        if (OCIDefineByPos(s->stmthp, &define, s->errhp, text_positions[i], texts[i], sizeof texts[i], SQLT_STR, nullptr,
                           nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS)
            return 1;
    if (OCIStmtExecute(s->svchp, s->stmthp, s->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT) != OCI_SUCCESS) return 1;
    sword status = OCI_SUCCESS;
    while ((status = OCIStmtFetch(s->stmthp, s->errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT)) == OCI_SUCCESS) {
    }
    return status == OCI_NO_DATA ? 0 : 1;
}

struct Counts {
    std::size_t prepared = 0;
    unsigned fetches = 0;
};
Counts counts() {
    const oci_standin::Journal journal = oci_standin::journal();
    Counts c;
    c.prepared = journal.prepared.size();
    for (const auto& e : journal.executions) c.fetches += e.fetch_calls;
    return c;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
double mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    testbed::AgentHome home;
    home.write_file("procid/BENCH_1.DAT", "PROCID  1000\nDUZ-INSTANCE  VIS\nDUZ-TASKTYPE  REQUEST\n");
    oci_standin::reset();
    oci_standin::add_rule(oci_standin::substring_rule(kTreeMatch, {oci_standin::answer_rows(tree())}));
    BE_DUZ_Handles* session = open_session();

    static char n_orderno[] = "ORDERNO", n_runno[] = "RUNNO", n_procid[] = "PROCID";
    static char orderno[] = "BENCH", runno[] = "1", procid[] = "1000";
    ZPAAttr in_attrs[] = {{n_orderno, sizeof orderno, orderno}, {n_runno, sizeof runno, runno}, {n_procid, sizeof procid, procid}};
    ZPAAttrList in{3, in_attrs, 0};
    ZPAAttrList connection{0, nullptr, 0};

    std::vector<double> track_us, bare_us;
    std::size_t prepared = 0, appended = 0;
    unsigned fetches = 0;
    for (int call = 0; call < calls; ++call) {
        static char n_status[] = "JOBSTATUS", n_prop[] = "CMRTPROP";
        char status[8] = "", prop[24] = "";
        ZPAAttr out_attrs[] = {{n_status, sizeof status, status}, {n_prop, sizeof prop, prop}};
        ZPAAttrList out{2, out_attrs, 0};
        ZPAError error{};
        const Counts before = counts();
        const double start = thread_cpu_us();
        const ZPARC rc = BE_action_track(session, &connection, &in, &out, &error);
        track_us.push_back(thread_cpu_us() - start);
        const Counts after = counts();
        if (rc != 0 || std::strcmp(out.Attributes[0].Value, "4") != 0) {
            std::fprintf(stderr, "track_bench: TRACK gave %d, JOBSTATUS '%s': %s\n", rc, out.Attributes[0].Value,
                         error.text);
            return 1;
        }
        prepared = after.prepared - before.prepared;
        fetches = after.fetches - before.fetches;
        appended = static_cast<std::size_t>(out.Count - 2);
        if (out.Attributes != out_attrs) ZPAAPI_ReleaseAttr(&out);

        const double bare_start = thread_cpu_us();
        if (bare_statement(session) != 0) {
            std::fprintf(stderr, "track_bench: the bare statement failed\n");
            return 1;
        }
        bare_us.push_back(thread_cpu_us() - bare_start);
    }
    ZPAError error{};
    BE_DUZ_OCI_CLOSE_Session(session, 'Y', &error);

    std::printf("TRACK of a tree of %d requests, %d calls (per call)\n", kRequests, calls);
    std::printf("  statements prepared   %zu\n", prepared);
    std::printf("  fetch calls           %u\n", fetches);
    std::printf("  attributes appended   %zu\n", appended);
    std::printf("  thread CPU, TRACK     mean %8.1f us  median %8.1f us\n", mean(track_us), median(track_us));
    std::printf("  thread CPU, stand-in  mean %8.1f us  median %8.1f us  (the bare statement)\n", mean(bare_us),
                median(bare_us));
    std::printf("  thread CPU, plug-in   mean %8.1f us  median %8.1f us\n", mean(track_us) - mean(bare_us),
                median(track_us) - median(bare_us));
    return 0;
}
