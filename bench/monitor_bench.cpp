// The request monitor's poll (BE_DUZ_JOB_monitor: one turn on the submitted-requests file under its
// locks) when the file holds N requests seen within the day and the monitor query finds N others,
// all new, at 1,000 and at 10,000: the time a request should not grow with N.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "be_def.h"
#include "be_discovery_internal.h"
#include "bench_standin.h"
#include "bench_support.h"
#include "standin.h"

namespace {

using oci_standin::Row;

constexpr const char* kMonitorQuery = "nvl(reqs.request_set_name,'NULL')";

// The program query finds n requests the file does not hold; the set query none.
void monitor_database(const std::vector<Row>& found) {
    oci_standin::reset();
    oci_standin::keep_journal(false);
    oci_standin::add_rule(
        oci_standin::substring_rule(kMonitorQuery, {oci_standin::answer_rows(found), oci_standin::answer_rows({})}));
}

void BM_MonitorPoll(benchmark::State& state) {
    BE_DUZ_Handles* session = bench::stand_in_session();
    if (session == nullptr) {
        state.SkipWithError("no session on the stand-in");
        return;
    }
    const int n = static_cast<int>(state.range(0));
    const std::string seen = bench::requests_file(n);
    std::vector<Row> found;
    for (int i = 0; i < n; ++i)
        found.push_back(
            {2000000 + i, 0, 31, "FND", "FNDSCURS", "SYSADMIN", "System Administrator", "NULL", "SYSADMIN"});
    bench::Attributes in{{"EXTRACT_MODE", "ORVCREATE"}};
    for (auto _ : state) {
        state.PauseTiming();
        bench::write_file("data/" BE_DUZ_REQS_FILE_NAME ".dat", seen);
        monitor_database(found);
        state.ResumeTiming();
        void* handle = nullptr;
        ZPAError error{};
        const ZPARC rc = BE_DUZ_JOB_monitor(nullptr, &handle, session, in.list(), &error);
        state.PauseTiming();
        const int reported =
            handle != nullptr ? ZPALIST_count(&static_cast<be_discovery::BE_DUZ_request_list_type*>(handle)->list) : 0;
        be_discovery::free_handle(handle);
        state.ResumeTiming();
        if (rc != 0 || reported != n) {
            state.SkipWithError("the poll failed or missed requests");
            break;
        }
    }
    state.counters["requests"] = n;
}

BENCHMARK(BM_MonitorPoll)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

const bench::Ratio kMonitor("request monitor, time a request at 10,000 requests / at 1,000", "BM_MonitorPoll/10000",
                            "BM_MonitorPoll/1000", bench::at_most(1.5), bench::Clock::real, 0.1);

}  // namespace
