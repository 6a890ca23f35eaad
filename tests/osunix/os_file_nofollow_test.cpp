// Files and folders at names that the owner of the agent home can foresee, while the library runs
// as root: a link planted at such a name, pointing at a root-owned victim, never lets a call change
// the victim's content, mode or owner. The call fails, or makes a file of its own at the name.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "be_def.h"
#include "be_ow.h"
#include "dsect_appl.h"
#include "file_probe.h"
#include "gm_avstat.h"
#include "gm_log.h"
#include "gm_param.h"
#include "gm_time.h"
#include "os_comm.h"
#include "os_diag.h"
#include "os_ipc.h"
#include "os_proc.h"
#include "os_shared_file_internal.h"
#include "os_spv.h"
#include "os_workfile.h"
#include "testbed.h"

namespace {

using file_probe::kNobody;
using file_probe::kNogroup;

std::string pid_text() { return std::to_string(getpid()); }

// What a call must leave as it was: the bytes of a file or the entries of a folder, the mode and
// the owner.
struct Snapshot {
    std::string content;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;

    static Snapshot of(const std::string& path) {
        Snapshot s;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) return s;
        s.mode = status.st_mode;
        s.uid = status.st_uid;
        s.gid = status.st_gid;
        if (S_ISDIR(status.st_mode)) {
            std::set<std::string> names;
            if (DIR* dir = opendir(path.c_str())) {
                while (const dirent* entry = readdir(dir)) names.insert(entry->d_name);
                closedir(dir);
            }
            for (const std::string& name : names) s.content += name + "/";
        } else {
            s.content = testbed::read_whole_file(path);
        }
        return s;
    }
    bool operator==(const Snapshot&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Snapshot& s) {
    return out << std::oct << s.mode << std::dec << " " << s.uid << ":" << s.gid << " '" << s.content << "'";
}

struct Rows {
    ZPALIST_handle_typ list = {};
    Rows(std::initializer_list<std::pair<const char*, const char*>> rows) {
        for (const auto& row : rows) GM_PARAM_list_append(&list, row.first, row.second);
    }
    ~Rows() { GM_PARAM_list_clear(&list); }
};

int run_utility() {
    Rows attrs{{"EXE_LINUX", "/bin/cat"}};
    char out[OS_PROC_OUTPUT_ROOM] = "", err[OS_PROC_OUTPUT_ROOM] = "", code[OS_PROC_EXIT_CODE_ROOM] = "";
    const CM_RC rc = OS_PROC_exec_util_with_params("act", &attrs.list, nullptr, "input", nullptr, out, err, code);
    return rc == CM_RC_OK && std::string(out) == "input" ? CM_RC_OK : rc == CM_RC_OK ? -1 : rc;
}

int gather_machine_details() {
    ORV_MACHINE_INFO_typ info{};
    return static_cast<int>(OS_PROC_gather_machine_details(&info));
}

std::string utility_file(const char* kind) { return "runtime/PKM_" + pid_text() + ".tmp." + kind; }

std::string owner_name() {
    struct stat home {};
    stat(".", &home);
    const passwd* entry = getpwuid(home.st_uid);
    return entry ? entry->pw_name : "";
}

std::string instream_name() {
    PATHNAME_D_typ full = "", name = "";
    OS_FILE_build_filetype("4711", 2, full, name, OS_FILE_INSTREAM);
    return full;
}

std::string today() {
    DATETIME_D_typ day = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, day);
    return day;
}

int write_action_log() {
    testbed::write_whole_file("cm/DUZ/data/event_cfg.dat",
                              "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 3\nACTION_LOG Y\n"
                              "WATCHING_INTERVAL_TIME 6\nALERT_MAX_OUTPUT 20\n");
    EW_cfg_file_params_type settings{};
    DATETIME_D_typ mark = "";
    ZPAError error{};
    if (EW_load_event_config(&settings, mark, &error) != 0) return -1;
    return EW_write_log("%s", "an action\n");
}

const char* const kSysout = "sysout/ORD7_3.DAT";

CM_RC set_sysout_mode() {
    testbed::write_whole_file("data/OEBS.dat", "SYSOUT_MODE 640\n");
    GM_PARAM_clear();
    char orderno[] = "ORD7", runno[] = "3";
    ZPAAttr attrs[] = {{const_cast<char*>("ORDERNO"), sizeof orderno, orderno},
                       {const_cast<char*>("RUNNO"), sizeof runno, runno}};
    ZPAAttrList in{2, attrs, 0};
    ZPAError error{};
    return BE_SYSOUT_chmod_sysout(&in, &error);
}

// The plug-in's SIGCHLD handler reaping a child at debug level 4, when it logs the child's end.
int reap_child() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    const int level = DIAG_debug_level();
    DIAG_set_debug_level(4);
    sigChldHandler(SIGCHLD);
    DIAG_set_debug_level(level);
    return waitpid(child, nullptr, WNOHANG);  // already reaped: -1
}

int write_daily_log() {
    testbed::write_whole_file("data/MSGTBL.dat", "7 Job %s ended\n");
    GM_PARAM_clear();
    return static_cast<int>(GM_LOG_write_msg("7", "PAYROLL"));
}

// An account that is unavailable again: its status file is replaced through a temporary file.
int replace_status_file() {
    testbed::write_whole_file("data/av_status/OEBS_prod1.unav", "AV_ERRCDE OEBS0012\n");
    CM_ACCOUNT_INFO_typ info{};
    std::strcpy(info.applType, "OEBS");
    std::strcpy(info.account, "prod1");
    std::strcpy(info.errorCode, "3113");
    return static_cast<int>(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE));
}

struct Case {
    const char* what;
    std::function<std::string()> name;  // the foreseeable name, relative to the home
    bool folder;                        // the link points at the victim folder, else the file
    std::function<int()> call;
    int expected;
    bool made = false;  // the call leaves a regular file of its own at the name
};

// The home belongs to another user, as an agent home does while the library runs as root; the
// victims are root's (the test's own user's when it does not run as root).
class PlantedLinkTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        if (geteuid() == 0) {
            ASSERT_EQ(chown(home.path().c_str(), kNobody, kNogroup), 0);
        }
        home.write_file("victim/file", "root's own text\n");
        ASSERT_EQ(chmod("victim/file", 0600), 0);
        ASSERT_EQ(mkdir("victim/folder", 0555), 0);
        for (const char* dir : {"locks", "proclog", "temp", "runtime", "pid", "data/SSL/cert", "data/av_status",
                                "sysout", "dailylog", "cm/DUZ/data"})
            std::filesystem::create_directories(dir);
        home.write_file("data/SSL/cert/site.plc", "loglevel=WARNING\n");
    }
};

TEST_F(PlantedLinkTest, NoCallChangesWhatALinkAtItsNamePointsAt) {
    const Case cases[] = {
        {"lock file", [] { return std::string("locks/W.lock"); }, false,
         [] { return static_cast<int>(OS_PROC_check_lock(OS_PROC_TYPE_NAMED, 1, 0, "W")); }, CM_RC_LOCK_HELD},
        {"traffic trace", [] { return "proclog/trace_" + pid_text(); }, false,
         [] {
             OS_COMM_sess_typ session{};
             session.trace_active = 1;
             session.trace_initialized = 1;
             std::snprintf(session.trace_file, sizeof session.trace_file, "./proclog/trace_%d", getpid());
             OS_COMM_trace_write(&session, "%s", "traced message");
             return 0;
         },
         0},
        {"cpu-specs script", [] { return "temp/get_cpu_specs_" + pid_text() + ".sh"; }, false, gather_machine_details,
         CM_RC_OK},
        {"utility script", [] { return utility_file("CMD"); }, false, run_utility, CM_RC_OK},
        {"utility input", [] { return utility_file("STDIN"); }, false, run_utility, CM_RC_OK},
        {"utility output", [] { return utility_file("STDOUT"); }, false, run_utility, CM_RC_OK},
        {"utility errors", [] { return utility_file("STDERR"); }, false, run_utility, CM_RC_OK},
        {"utility folder", [] { return std::string("runtime"); }, true, run_utility, CM_RC_FAIL},
        {"in-stream script", instream_name, false,
         [] { return static_cast<int>(dsect_appl_instream2file("echo hi\n", "4711", 2, 8)); }, CM_RC_OK, true},
        {"pid file", [] { return "pid/xx_" + pid_text(); }, false,
         [] { return static_cast<int>(OS_SPV_write_pid_to_dir("xx", getpid(), 2)); }, CM_RC_OK, true},
        {"watcher lock", [] { return std::string("temp/OW.lock"); }, false,
         [] { return anoter_OEBS_Watcher_running(); }, 1},
        {"pid folder", [] { return std::string("pid"); }, true,
         [] { return static_cast<int>(OS_SPV_write_pid_to_dir("xx", getpid(), 2)); }, CM_RC_FAIL},
        {"semaphore name file", [] { return "locks/sem_P_" + owner_name(); }, false,
         [] {
             char name[sizeof(PATHNAME_D_typ)] = "";
             int owner = 0;
             return static_cast<int>(OS_IPC_sem_make_name("P", name, &owner));
         },
         CM_RC_FAIL},
        {"semaphore id file", [] { return std::string("locks/semid"); }, false,
         [] { return static_cast<int>(OS_IPC_sem_save_id("locks/semid", 7)); }, CM_RC_FAIL},
        {"semaphore key file", [] { return std::string("locks/semkey"); }, false,
         [] {
             OSSemObject id = -1;
             const CM_RC rc = OS_IPC_sem_create2(&id, "locks/semkey", 0, 211);
             if (rc == CM_RC_OK) OS_IPC_sem_delete2(id);
             return static_cast<int>(rc);
         },
         CM_RC_OK},
        {"ssl policy copy", [] { return std::string("data/SSL/cert/site.plc.temp"); }, false,
         [] { return static_cast<int>(OS_DIAG_set_ssl_debug(3)); }, CM_RC_OK},
        {"watcher pid file", [] { return std::string("cm/DUZ/data/ow_pid.dat"); }, false,
         [] { return OW_MAIN_save_PID(); }, 0, true},
        {"watcher action log", [] { return "proclog/oebs_watcher_actions_" + today() + ".log"; }, false,
         write_action_log, 1},
        {"sysout failure notice", [] { return std::string(kSysout); }, false,
         [] { return static_cast<int>(BE_SYSOUT_update_sysout(kSysout, "notice\n", nullptr)); }, 1},
        {"sysout error line", [] { return std::string(kSysout); }, false,
         [] { return static_cast<int>(BE_SYSOUT_ORA_Err_Msg("ORA-12154", kSysout)); }, 1},
        {"sysout permission bits", [] { return std::string(kSysout); }, false,
         [] { return static_cast<int>(set_sysout_mode()); }, CM_RC_FAIL},
        {"child signal log", [] { return std::string(BE_DUZ_SIGNAL_LOG); }, false, reap_child, -1},
        {"daily log", [] { return "dailylog/daily_orvag_" + today() + ".log"; }, false, write_daily_log, CM_RC_FAIL},
        {"availability status, temporary", [] { return std::string("data/av_status/temp_OEBS_prod1.unav"); }, false,
         replace_status_file, CM_RC_OK},
        {"shared file locked itself", [] { return std::string("data/shared.dat"); }, false,
         [] { return static_cast<int>(os_shared::write_file("data/shared.dat", "new")); }, CM_RC_OPEN_FAILED},
        {"shared file read", [] { return std::string("data/shared.dat"); }, false,
         [] {
             std::string content;
             return static_cast<int>(os_shared::read_file("data/shared.dat", content));
         },
         CM_RC_OPEN_FAILED},
        {"shared file under a lock file", [] { return std::string("data/shared.dat"); }, false,
         [] {
             return static_cast<int>(os_shared::write_file("data/shared.dat", "new", {0644, 0, false, "locks/s.lock"}));
         },
         CM_RC_OPEN_FAILED},
        {"shared lock file", [] { return std::string("locks/s.lock"); }, false,
         [] {
             return static_cast<int>(os_shared::write_file("data/other.dat", "new", {0644, 0, false, "locks/s.lock"}));
         },
         CM_RC_CREATE_FAILED},
        {"requests file opened to append", [] { return std::string("data/DUZ_reqs.dat"); }, false,
         [] {
             OS_FD_typ fd = -1;
             const CM_RC rc = BE_DUZ_FILE_open(&fd, "data/DUZ_reqs.dat", OS_FILE_APPEND);
             if (rc == CM_RC_OK) close(fd);
             return static_cast<int>(rc);
         },
         CM_RC_OPEN_FAILED},
        {"jobs failure table", [] { return std::string("cm/DUZ/data/jobs_failure_table.dat"); }, false,
         [] { return static_cast<int>(BE_JOB_write_jobs_failure_file("A1", "1", "failed")); }, 1},
        {"diagnostic log", [] { return testbed::diag_log_path("Linked"); }, false,
         [] {
             OS_DIAG_initialize(nullptr, "Linked");
             DIAG_ERROR("a line for the log");
             return 0;
         },
         0},
        // Folders of the home that lead to another user's folder are not used (last: they go).
        {"cpu-specs folder", [] { return std::string("temp"); }, true, gather_machine_details, CM_RC_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = c.name();
        const std::string victim = home.path() + (c.folder ? "/victim/folder" : "/victim/file");
        std::filesystem::remove_all(name);
        ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0) << name;
        const Snapshot before = Snapshot::of(victim);
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(Snapshot::of(victim), before);
        struct stat status {};
        if (c.made) {
            EXPECT_TRUE(lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode)) << name;
        }
        std::filesystem::remove_all(name);
    }
}

}  // namespace
