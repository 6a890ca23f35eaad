// The plug-in's shared work files under the agent's way of calling: threads of several processes
// adding requests, failure rows and accounts at once lose none of them.
#include <ctime>
#include <functional>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "concurrency.h"
#include "gm_param.h"
#include "passwords_fixture.h"

namespace {

using pwtest::PasswordsTest;
using pwtest::Sections;

constexpr const char* kReqs = "./data/DUZ_reqs.dat";
constexpr int kProcesses = 2, kThreads = 8, kEach = 3;

std::string id_of(int process, int thread, int i) {
    return std::to_string(1000 * (process * kThreads + thread + 1) + i);
}

bool add_request_in_one_cycle(const std::string& id) {
    ZPAError error{};
    return be_reqs_update(
               kReqs,
               [&](ZPALIST_handle_typ* rows) {
                   return GM_PARAM_list_set(rows, id.c_str(), std::to_string(std::time(nullptr)).c_str()) == CM_RC_OK;
               },
               &error) == CM_RC_OK;
}

// Read, prune, add and write as three separate calls, the way the file's C interface is used.
bool add_request_in_three_steps(const std::string& id) {
    ZPALIST_handle_typ list{};
    ZPAError error{};
    const bool ok = BE_DUZ_read_reqs_file(kReqs, &list, &error) == CM_RC_OK &&
                    BE_DUZ_remove_old_req(&list) == CM_RC_OK &&
                    GM_PARAM_list_set(&list, id.c_str(), std::to_string(std::time(nullptr)).c_str()) == CM_RC_OK &&
                    BE_DUZ_write_reqs_file(kReqs, &list, &error) == CM_RC_OK;
    GM_PARAM_list_clear(&list);
    return ok;
}

bool add_failure_row(const std::string& id) {
    return BE_JOB_write_jobs_failure_file(id.c_str(), "1", "1017 - failed") == 0;
}

bool add_account(const std::string& id) {
    std::string name = "ACC" + id;
    std::string xml =
        "<DBServiceName>VIS</DBServiceName><APPSLoginName>apps</APPSLoginName><APPSPassword>pw"
        "</APPSPassword><NLSLanguage>AMERICAN</NLSLanguage><EnableLogOutput>N</EnableLogOutput>"
        "<AppendLog>Y</AppendLog><AppendOutput>Y</AppendOutput><ConvertWarningToOK>N</ConvertWarningToOK>"
        "<MonitorChildReq>Y</MonitorChildReq><JobCompDependChild>N</JobCompDependChild>";
    ZPAError error{};
    const bool ok = BE_DUZ_PKM_populate_account_data(nullptr, name.data(), xml.data(), nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, &error) == 0;
    BE_DUZ_clean_encyption_info(&error);
    return ok;
}

// Whether every id is in the file, each once.
::testing::AssertionResult all_present(const std::string& what, const std::function<int()>& count,
                                       const std::function<bool(const std::string&)>& has) {
    const int expected = kProcesses * kThreads * kEach;
    if (count() != expected)
        return ::testing::AssertionFailure() << what << ": " << count() << " rows, not " << expected;
    for (int p = 0; p < kProcesses; ++p)
        for (int t = 0; t < kThreads; ++t)
            for (int i = 0; i < kEach; ++i)
                if (!has(id_of(p, t, i)))
                    return ::testing::AssertionFailure() << what << ": " << id_of(p, t, i) << " lost";
    return ::testing::AssertionSuccess();
}

// Rows of the requests file.
struct RequestRows {
    ZPALIST_handle_typ list{};
    RequestRows() {
        ZPAError error{};
        BE_DUZ_read_reqs_file(kReqs, &list, &error);
    }
    ~RequestRows() { GM_PARAM_list_clear(&list); }
    bool has(const std::string& id) {
        char value[64];
        return GM_PARAM_list_get(&list, id.c_str(), value, sizeof value) == CM_RC_OK;
    }
};

::testing::AssertionResult requests_present(const std::string& what) {
    RequestRows rows;
    return all_present(
        what, [&] { return ZPALIST_count(&rows.list); }, [&](const std::string& id) { return rows.has(id); });
}

::testing::AssertionResult failure_rows_present(const std::string& what) {
    ZPALIST_handle_typ rows{};
    GM_PARAM_load_file(&rows, "cm/DUZ/data/jobs_failure_table.dat");
    const int count = ZPALIST_count(&rows);
    GM_PARAM_list_clear(&rows);
    return all_present(
        what, [&] { return count; },
        [&](const std::string& id) {
            char message[BE_JOB_FAILURE_MSG_SIZE];
            return be_job_find_in_jobs_failure_file(id.c_str(), "1", message) == 0;
        });
}

::testing::AssertionResult accounts_present(const std::string& what) {
    Sections accounts;
    if (!accounts.load("./data/DUZ_inst.dat") || accounts.get("SEED", "DB_SID") != "S")
        return ::testing::AssertionFailure() << what << ": the first account is gone";
    return all_present(
        what, [&] { return ZPALIST_count(&accounts.h) - 1; },
        [&](const std::string& id) { return accounts.get("ACC" + id, "DB_SID") == "VIS"; });
}

class SharedWorkFiles : public PasswordsTest {};

TEST_F(SharedWorkFiles, ThreadsOfSeveralProcessesLoseNoRow) {
    use_agent("blowfish");
    home.write_file("data/DUZ_inst.dat", "[SEED]\nDB_SID S\n");
    struct Kind {
        const char* what;
        std::function<bool(const std::string&)> add;
        std::function<::testing::AssertionResult(const std::string&)> all_there;
    } kinds[] = {
        {"requests file, one cycle", add_request_in_one_cycle, requests_present},
        {"requests file, three steps", add_request_in_three_steps, requests_present},
        {"jobs failure table", add_failure_row, failure_rows_present},
        {"accounts file", add_account, accounts_present},
    };
    for (const Kind& kind : kinds) {
        ::unlink(kReqs);
        EXPECT_TRUE(testbed::run_in_threads_and_processes(kProcesses, kThreads, [&](int p, int t) {
            for (int i = 0; i < kEach; ++i)
                if (!kind.add(id_of(p, t, i))) return false;
            return true;
        })) << kind.what;
        EXPECT_TRUE(kind.all_there(kind.what));
    }
}

}  // namespace
