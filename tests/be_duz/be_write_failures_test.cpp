// Writers under a file-size limit and on a full disk: the output build, the watcher's action log,
// the daily log and the submission's files each report the failed write and leave no cut file or
// entry in place; once there is room again, the next write is whole and nothing is glued to a
// piece of the one before.
#include "be_job_fixture.h"
#include "be_ow.h"
#include "gm_log.h"
#include "gm_param.h"
#include "gm_time.h"
#include "testbed.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using betest::Pairs;
using oci_standin::Answer;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::out_value;
using oci_standin::Row;
using oci_standin::substring_rule;

constexpr std::size_t kPage = 4096;

// Whole lines that fill a file to a few bytes short of a page, so that the next entry needs a page
// the full disk does not have (and crosses the file-size limit put just above it).
std::string whole_lines_short_of_a_page() {
    std::string lines;
    while (lines.size() + 81 <= kPage - 5) lines += std::string(80, 'w') + "\n";
    lines += std::string(kPage - 5 - lines.size() - 1, 'w') + "\n";
    return lines;
}

// A row of the requests file as its writer writes it.
std::string reqs_row(const std::string& key, const std::string& value) {
    return key + std::string(66 - key.size(), ' ') + value + "\n\n";
}

std::string today() {
    DATETIME_D_typ day = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, day);
    return day;
}

// Files whose name begins with a rewrite's temporary prefix, in a folder.
std::vector<std::string> temporary_files(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

// One writer: the folder and file it writes, the file's content before, a file-size limit that
// cuts its write short, the write (true when it reports the failure as it should) and the write
// once more with room enough, checking what it leaves.
struct Writer {
    const char* name;
    const char* folder;
    std::string file;
    std::string before;
    rlim_t limit;
    std::function<void()> prepare;
    std::function<bool()> reports_failure;
    std::function<void()> writes_whole;
};

class WriteFailures : public betest::JobTest {
protected:
    void SetUp() override {
        betest::JobTest::SetUp();
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDUZ-LOAD_DBPKG Y\n");
        home.write_file("procid/ORDX_1.DAT", "PROCID  2000\nDUZ-INSTANCE  VIS\n");
        home.write_file("data/MSGTBL.dat", "7 Job %s ended with code %d\n");
        home.write_file("cm/DUZ/data/event_cfg.dat",
                        "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 2\nACTION_LOG Y\n"
                        "WATCHING_INTERVAL_TIME 30\nALERT_MAX_OUTPUT 5\n");
        EW_cfg_file_params_type config{};
        DATETIME_D_typ mark = "";
        ZPAError error{};
        ASSERT_EQ(EW_load_event_config(&config, mark, &error), 0) << error.text;
        connection_.UserData = session;
    }

    // The output of a tree of 60 requests whose root has a log of 300 lines: some 30 KB, written
    // in many flushes.
    static void output_database() {
        oci_standin::reset();
        std::vector<Row> tree;
        for (int id = 2000; id < 2060; ++id)
            tree.push_back({id, "PARENT:2000", "C", "C", "MSG:Normal completion", "NULL=2025/01/01 10:00",
                            "NULL=2025/01/01 10:05", "SQLGL", "Journal Import",
                            "NULL=", id == 2000 ? "NULL=/u01/log/l2000.req" : "NULL=", "N", "apphost1"});
        oci_standin::add_rule(substring_rule("FROM fnd_concurrent_requests WHERE", {answer_rows(tree)}));
        oci_standin::add_rule(substring_rule("from v$instance", {answer_rows({{"dbhost"}})}));
        std::vector<Answer> lines;
        for (int i = 0; i <= 300; ++i) {
            Answer line;
            line.outs["rc"] = out_value(Cell(i < 300 ? 0 : 1));
            line.outs["pvalue"] = out_value(Cell("log line " + std::to_string(i) + std::string(60, '.')));
            lines.push_back(line);
        }
        Answer opened;
        opened.outs["rc"] = out_value(Cell(0));
        oci_standin::add_rule(substring_rule("QEL_file.init", {opened}));
        oci_standin::add_rule(substring_rule("QEL_file.read_line", lines));
        for (const char* block : {"QEL_FILE.close", "DECLARE v_exist"})
            oci_standin::add_rule(betest::block_rule(block));
    }
    ZPARC open_output(void** handle, ZPAError& error) {
        return ZPAAPI_SYSOUT_DATA_OPEN(&connection_, handle, job({{"ORDERNO", "ORDX"}, {"RUNNO", "1"}}), &error);
    }
    // The output as a build with room enough writes it (the sysout removed again).
    std::string whole_output() {
        output_database();
        ZPAError error{};
        void* handle = nullptr;
        EXPECT_EQ(open_output(&handle, error), 0) << error.text;
        if (handle != nullptr) ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error);
        const std::string output = home.read_file("sysout/ORDX_1.DAT");
        std::remove("sysout/ORDX_1.DAT");
        return output;
    }

    ZPARC submit(ZPAError& error) {
        betest::OwnedList out{{"PROCID", "                "}};
        const Pairs in{{"ORDERNO", "ORD5"},          {"RUNNO", "1"},
                       {"DUZ-INSTANCE", "VIS"},      {"DUZ-TASKTYPE", "REQUEST"},
                       {"DUZ-USERID", "1318"},       {"DUZ-RESPID", "50559"},
                       {"DUZ-RESPAPPID", "222"},     {"DUZ-SECURITY_GROUPID", "0"},
                       {"DUZ-USERNAME", "SYSADMIN"}, {"DUZ-PROGNAME", "XXREPORT"},
                       {"DUZ-APPNAME", "XXCUST"}};
        betest::submission_database();
        const ZPARC rc = BE_action_submit(session, job({}), job(in), out.list(), &error);
        submitted_id_ = out.list()->Attributes[0].Value;
        return rc;
    }

    std::vector<Writer> writers() {
        const std::string lines = whole_lines_short_of_a_page();
        const std::string action_log = "proclog/oebs_watcher_actions_" + today() + ".log";
        const std::string daily_log = "dailylog/daily_orvag_" + today() + ".log";
        const std::string entry = std::string(40, 'e') + "\n";
        std::string requests;
        for (int id = 1000; id < 1020; ++id)
            requests += reqs_row(std::to_string(id), std::to_string(std::time(nullptr)));
        auto output = std::make_shared<std::string>();
        return {
            {"output build", "sysout", "sysout/ORDX_1.DAT", "", 20000,
             [this, output] {
                 *output = whole_output();
                 output_database();
             },
             [this] {
                 ZPAError error{};
                 void* handle = nullptr;
                 return open_output(&handle, error) == 1 && handle == nullptr && error.code == 1;
             },
             [this, output] {
                 output_database();
                 EXPECT_EQ(whole_output(), *output);
             }},
            {"action log", "proclog", action_log, lines, lines.size() + 5, [] {},
             [entry] { return EW_write_log("%s", entry.c_str()) == 1; },
             [this, action_log, lines, entry] {
                 EXPECT_EQ(EW_write_log("%s", entry.c_str()), 0);
                 EXPECT_EQ(home.read_file(action_log), lines + entry);
             }},
            {"daily log", "dailylog", daily_log, lines, lines.size() + 5, [] {},
             [] { return GM_LOG_write_msg("7", "PAYROLL", 3) == CM_RC_FAIL; },
             [this, daily_log, lines] {
                 EXPECT_EQ(GM_LOG_write_msg("7", "PAYROLL", 3), CM_RC_OK);
                 const std::string content = home.read_file(daily_log);
                 ASSERT_EQ(content.substr(0, lines.size()), lines);
                 EXPECT_TRUE(std::regex_match(content.substr(lines.size()),
                                              std::regex(R"(\d{4} \d{6}   7 Job PAYROLL ended with code 3\n)")))
                     << content.substr(lines.size());
             }},
            {"error message file", "temp", "temp/ora_errors.log", lines, lines.size() + 5, [] {},
             [] { return BE_SYSOUT_ORA_Err_Msg(std::string(40, 'o').c_str(), "temp/ora_errors.log") == 1; },
             [this, lines] {
                 EXPECT_EQ(BE_SYSOUT_ORA_Err_Msg(std::string(40, 'o').c_str(), "temp/ora_errors.log"), 0);
                 EXPECT_EQ(home.read_file("temp/ora_errors.log"), lines + std::string(40, 'o') + "\n");
             }},
            {"job's failure notice", "sysout", "sysout/ORDY_1.DAT", lines, lines.size() + 5, [] {},
             [entry] { return BE_SYSOUT_update_sysout("sysout/ORDY_1.DAT", entry.c_str(), nullptr) == 1; },
             [this, lines, entry] {
                 EXPECT_EQ(BE_SYSOUT_update_sysout("sysout/ORDY_1.DAT", entry.c_str(), nullptr), 0);
                 EXPECT_EQ(home.read_file("sysout/ORDY_1.DAT"), lines + entry);
             }},
            // The request runs whatever becomes of the requests file: the submission succeeds.
            {"submission's requests file", "data", "data/DUZ_reqs.dat", requests, requests.size(), [] {},
             [this] {
                 ZPAError error{};
                 return submit(error) == 0 && submitted_id_ == "4711";
             },
             [this, requests] {
                 ZPAError error{};
                 EXPECT_EQ(submit(error), 0) << error.text;
                 const std::string content = home.read_file("data/DUZ_reqs.dat");
                 EXPECT_EQ(content.substr(0, requests.size()), requests);
                 EXPECT_EQ(content.substr(requests.size(), 6), "4711  ");
             }},
            {"submission's procid file", "procid", "procid/ORD5_1.DAT", "", 200,
             [] { std::remove("procid/ORD5_1.DAT"); },
             [this] {
                 ZPAError error{};
                 return submit(error) == 1 &&
                        std::string(error.text).find("Fail to write job into to file") != std::string::npos;
             },
             [this] {
                 ZPAError error{};
                 EXPECT_EQ(submit(error), 0) << error.text;
                 EXPECT_EQ(home.read_file("procid/ORD5_1.DAT").substr(0, 6), "PROCID");
             }},
        };
    }

    // Runs the write in a child process (that sets the limit when given one) and tells whether it
    // reported the failure.
    static bool child_reports_failure(const Writer& w, rlim_t limit) {
        const pid_t child = fork();
        if (child == 0) {
            if (limit != 0) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit small{limit, limit};
                if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(100);
            }
            _exit(w.reports_failure() ? 0 : 1);
        }
        int status = 0;
        return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // The file as it was, and no temporary file of a rewrite beside it.
    void expect_nothing_cut(const Writer& w) {
        if (w.before.empty())
            EXPECT_FALSE(home.exists(w.file)) << home.read_file(w.file).size() << " bytes";
        else
            EXPECT_EQ(home.read_file(w.file), w.before);
        EXPECT_EQ(temporary_files(w.folder), std::vector<std::string>{});
    }

    ZPAConnHandle connection_{};
    std::string submitted_id_;
};

// A small tmpfs over a folder of the home, in this test process's own mount namespace: it holds the
// folder's files and a filler that takes every free page. Gone with the object.
class FullDisk {
public:
    // Whether this process can mount; why not when it cannot.
    static bool possible(std::string& why) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why = std::string("mount is not permitted here: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    explicit FullDisk(const std::string& folder) : folder_(folder) {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                files.emplace_back(entry.path().filename(), testbed::read_whole_file(entry.path().string()));
        mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) return;
        for (const auto& [name, content] : files) testbed::write_whole_file(folder + "/" + name, content);
        const int fd = ::open(filler().c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string page(kPage, 'f');
        while (::write(fd, page.data(), page.size()) > 0) {
        }
        ::close(fd);
    }
    ~FullDisk() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    explicit operator bool() const { return mounted_; }
    void make_room() const { std::remove(filler().c_str()); }

private:
    std::string filler() const { return folder_ + "/filler"; }
    std::string folder_;
    bool mounted_ = false;
};

}  // namespace

TEST_F(WriteFailures, UnderAFileSizeLimitEachWriterReportsTheFailureAndLeavesNothingCut) {
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        w.prepare();
        if (!w.before.empty()) home.write_file(w.file, w.before);
        EXPECT_TRUE(child_reports_failure(w, w.limit));
        expect_nothing_cut(w);
        w.writes_whole();
    }
}

TEST_F(WriteFailures, OnAFullDiskEachWriterReportsTheFailureAndLeavesNothingCut) {
    std::string why;
    if (!FullDisk::possible(why)) GTEST_SKIP() << "no full disk: " << why;
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        w.prepare();
        if (!w.before.empty()) home.write_file(w.file, w.before);
        FullDisk disk(w.folder);
        ASSERT_TRUE(disk) << "tmpfs over " << w.folder << ": " << std::strerror(errno);
        EXPECT_TRUE(child_reports_failure(w, 0));
        expect_nothing_cut(w);
        disk.make_room();
        w.writes_whole();
    }
}
