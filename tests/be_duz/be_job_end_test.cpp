// KILL, DELETE and DEQUEUE in-process: the cancel block with its binds and result, the checks that
// run no statement, the removal of the job's work files, and the calling process's temp file
// losing one request and keeping the others (a failed save reported).
#include "be_job_fixture.h"
#include "os_proc.h"
#include "testbed.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using betest::outs;
using betest::Pairs;
using oci_standin::substring_rule;

constexpr const char* kBlock = "FND_CONCURRENT_REQUESTS SET";
constexpr const char* kProcid = "procid/ORD6_1.DAT";

class JobEnd : public betest::JobTest {
protected:
    ZPARC kill(ZPAError& error) {
        betest::OwnedList out{};
        return BE_action_kill(session, nullptr, job({{"ORDERNO", "ORD6"}, {"RUNNO", "1"}}), out.list(), &error);
    }
    std::string temp_file() const { return "temp/" + std::string(OS_PROC_get_curr_proc_id()); }
    // DEQUEUE with the request id in the PROCID slot (none: no slot).
    ZPARC dequeue(const char* request_id, ZPAError& error) {
        betest::OwnedList out = request_id != nullptr ? betest::OwnedList{{"PROCID", request_id}} : betest::OwnedList{};
        return BE_action_dequeue(nullptr, job({}), out.list(), &error);
    }
};

TEST_F(JobEnd, KillCancelsTheTreeInOneBlock) {
    home.write_file(kProcid, "PROCID  4711\nDUZ-INSTANCE  VIS\n");
    oci_standin::add_rule(substring_rule(kBlock, {outs({{"rc_code", 0}}), outs({{"rc_code", 1}})}));
    ZPAError error{};
    EXPECT_EQ(kill(error), 0) << error.text;
    const auto runs = executions_of(kBlock);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(binds_of(runs[0]), (Pairs{{"REQ_ID", "4711"}, {"RC_CODE", "0"}}));
    for (const char* part : {"START WITH request_id = :req_id FOR UPDATE", "SET status_code = 'X', phase_code = 'C'",
                             "SET status_code = 'T'", "completion_text = 'Request was calcelled by CONCURRENT MANAGER'",
                             "COMMIT", "EXCEPTION WHEN OTHERS", ":rc_code := 1"})
        EXPECT_NE(runs[0].text.find(part), std::string::npos) << part;
    // The block's own failure flag.
    EXPECT_EQ(kill(error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Error encountered during the cancel job.");
}

// The blocks that change data in the account's shared session: a failure inside one rolls back
// before anything else, so no update and no row lock waits there for the session's next commit.
TEST_F(JobEnd, BlocksThatChangeDataRollBackFirstWhenTheyFail) {
    home.write_file(kProcid, "PROCID  4711\nDUZ-INSTANCE  VIS\n");
    betest::OwnedList request{{"DUZ-REQUEST_ID", "4711"}, {"DUZ-PRIORITY", "40"}};
    char receiver[] = "SYSADMIN", message[] = "Job ended", priority[] = "50";
    struct Case {
        const char* name;
        const char* marker;  // a part of the block's text
        std::function<ZPARC(ZPAError&)> run;
    } cases[] = {
        {"kill", kBlock, [&](ZPAError& e) { return kill(e); }},
        {"priority", "set priority = :prio_num",
         [&](ZPAError& e) { return BE_DUZ_LIST_set_priority(session, request.list(), &e); }},
        {"hold", "set hold_flag = 'Y'",
         [&](ZPAError& e) { return BE_DUZ_LIST_hold_request(session, request.list(), &e); }},
        {"release", "set hold_flag = 'N'",
         [&](ZPAError& e) { return BE_DUZ_LIST_unhold_request(session, request.list(), &e); }},
        {"shout", "WF_NOTIFICATION.send",
         [&](ZPAError& e) { return BE_SHOUT_send_message(session, receiver, message, priority, &e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        oci_standin::add_rule(substring_rule(c.marker, {outs({{"rc_code", 0}})}));
        oci_standin::add_rule(
            substring_rule("from sys.dual where exists", {oci_standin::answer_rows({{1}})}));  // the shout's message
        ZPAError error{};
        EXPECT_EQ(c.run(error), 0) << error.text;
        const auto runs = executions_of(c.marker);
        ASSERT_EQ(runs.size(), 1u);
        const std::string handler = "EXCEPTION WHEN OTHERS THEN ";
        const std::size_t at = runs[0].text.find(handler);
        ASSERT_NE(at, std::string::npos) << runs[0].text;
        EXPECT_EQ(runs[0].text.compare(at + handler.size(), 9, "ROLLBACK;"), 0) << runs[0].text.substr(at);
    }
}

TEST_F(JobEnd, KillWithoutAValidRequestIdRunsNothing) {
    struct Case {
        const char* name;
        const char* procid_file;  // nullptr: no file
        const char* error;
    } cases[] = {
        {"PROCID 0", "PROCID  0\n", "CM for OEBS: Request Id is in wrong format!"},
        {"no PROCID", "DUZ-INSTANCE  VIS\n", "CM for OEBS: the attribute 'PROCID' is mandatory"},
        {"no procid file", nullptr, "CM for OEBS: the attribute 'PROCID' is mandatory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(kProcid);
        if (c.procid_file != nullptr) home.write_file(kProcid, c.procid_file);
        ZPAError error{};
        EXPECT_EQ(kill(error), 1);
        EXPECT_STREQ(error.text, c.error);
    }
    EXPECT_TRUE(prepared().empty());
}

TEST_F(JobEnd, DeleteRemovesTheJobsFilesAndNamesAMissingOne) {
    home.write_file(kProcid, "PROCID  4711\n");
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD6", "1", "1017 - refused"), 0);
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD7", "1", "1017 - refused"), 0);
    char path[] = "procid/ORD6_1.DAT";
    char orderno[] = "ORD6", runno[] = "1";
    ZPAError error{};
    EXPECT_EQ(BE_action_delete(path, &error, orderno, runno), 0);
    EXPECT_FALSE(home.exists(kProcid));
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    EXPECT_EQ(be_job_find_in_jobs_failure_file("ORD6", "1", message), 1);
    EXPECT_EQ(be_job_find_in_jobs_failure_file("ORD7", "1", message), 0);
    // Again, the file being gone: the bare path is the error text.
    EXPECT_EQ(BE_action_delete(path, &error, orderno, runno), 1);
    EXPECT_STREQ(error.text, "procid/ORD6_1.DAT");
    EXPECT_EQ(error.code, 1u);
}

TEST_F(JobEnd, DequeueRemovesOneRequestFromTheProcessTempFile) {
    home.write_file(temp_file(), "4711 A\n4712 B\n4713 C\n");
    ZPAError error{};
    EXPECT_EQ(dequeue("4712", error), 0) << error.text;
    const std::string left = home.read_file(temp_file());
    EXPECT_NE(left.find("4711"), std::string::npos) << left;
    EXPECT_EQ(left.find("4712"), std::string::npos) << left;
    EXPECT_NE(left.find("4713"), std::string::npos) << left;
    // Without a temp file none is made; without PROCID nothing happens.
    std::remove(temp_file().c_str());
    EXPECT_EQ(dequeue("4711", error), 0);
    EXPECT_FALSE(home.exists(temp_file()));
    EXPECT_EQ(dequeue(nullptr, error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: the attribute 'PROCID' is mandatory");
    // A save that fails (under a file-size limit, in a child process with a temp file of its own)
    // is reported, and the file stays as it was.
    const pid_t child = fork();
    if (child == 0) {
        const std::string rows = "4711 A\n4712 B\n";
        home.write_file(temp_file(), rows);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4, 4};
        ZPAError failed{};
        const bool reported = setrlimit(RLIMIT_FSIZE, &small) == 0 && dequeue("4711", failed) == 1 &&
                              std::string(failed.text).find("Failed to save file") != std::string::npos;
        _exit(reported && home.read_file(temp_file()) == rows ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Without the agent's home directory.
    const std::string orvanta = std::getenv("ORVANTA");
    unsetenv("ORVANTA");
    EXPECT_EQ(dequeue("4711", error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Cannot retrieve Product Directory");
    setenv("ORVANTA", orvanta.c_str(), 1);
}

}  // namespace
