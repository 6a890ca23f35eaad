// Running, reading and deleting as root in an agent home that another user owns: every link, FIFO
// and linked folder that the owner plants is refused or harmless, no file outside the home is
// touched, folders linked on purpose to the owner's own disk keep working, and scripts the owner
// swaps in while a run is under way never run as root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"
#include "os_ipc.h"
#include "os_proc.h"
#include "os_workfile.h"
#include "owned_home.h"
#include "process_probe.h"

namespace {

namespace fs = std::filesystem;
using process_probe::ChildOutcome;
using process_probe::in_child;
using process_probe::Rows;
using process_probe::tell;
using testbed::kHomeOwnerGid;
using testbed::kHomeOwnerUid;

// A run of /bin/cat as the agent's utility: "ok" when its output is its input, else what went wrong.
std::string run_cat(const std::string& input) {
    Rows attrs{{"EXE_LINUX", "/bin/cat"}};
    char out[OS_PROC_OUTPUT_ROOM] = "", err[OS_PROC_OUTPUT_ROOM] = "", code[OS_PROC_EXIT_CODE_ROOM] = "";
    const CM_RC rc = OS_PROC_exec_util_with_params("act", &attrs.list, nullptr, input.c_str(), nullptr, out, err, code);
    if (rc != CM_RC_OK) return "rc=" + std::to_string(rc);
    return out == input && std::string(code) == "0" ? "ok" : "wrong output '" + std::string(out) + "'";
}

std::string machine_os() {
    ORV_MACHINE_INFO_typ info = {};
    const CM_RC rc = OS_PROC_gather_machine_details(&info);
    return "rc=" + std::to_string(rc) + " os=" + info.osType;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A file's modification time set back by some days.
void age(const std::string& path, int days) {
    struct timespec times[2] = {{time(nullptr) - days * 86400L, 0}, {time(nullptr) - days * 86400L, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

class OwnedHomeRunTest : public testbed::OwnedHomeTest {
protected:
    void SetUp() override {
        OwnedHomeTest::SetUp();
        if (IsSkipped()) return;
        // The owner's bigger disk: a folder of the owner's outside the home.
        char tmpl[] = "/tmp/appbridge-disk-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        disk_ = tmpl;
        home.write_file("data/CONFIG.dat", "DBGLVL 0\nAGENT_DIR " + home.path() + "\n");
        reset_home();
    }
    void TearDown() override {
        std::error_code ec;
        if (!disk_.empty()) fs::remove_all(disk_, ec);
        OwnedHomeTest::TearDown();
        EXPECT_TRUE(process_probe::no_children_left());
    }

    // The home's work folders as an installation has them, all the owner's, and an empty disk.
    void reset_home() {
        for (const char* dir : {"locks", "pid", "runtime", "temp", "proclog", "exe_old"}) {
            fs::remove_all(home.path() + "/" + dir);
            fs::create_directories(home.path() + "/" + dir);
        }
        for (const char* file : {"data/upgrade_running_jobs.dat", "data/get_cpu_specs_encrypted.dat", "core"})
            fs::remove(home.path() + "/" + file);
        for (const auto& entry : fs::directory_iterator(disk_)) fs::remove_all(entry.path());
        give_home_to_owner();
        ASSERT_EQ(chown(disk_.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }

    // Replaces a folder of the home by a link to `target`.
    void link_folder(const std::string& folder, const std::string& target) const {
        fs::remove_all(home.path() + "/" + folder);
        ASSERT_EQ(symlink(target.c_str(), (home.path() + "/" + folder).c_str()), 0);
        lchown((home.path() + "/" + folder).c_str(), kHomeOwnerUid, kHomeOwnerGid);
    }

    // A folder of the owner's disk.
    std::string disk_folder(const std::string& name) const {
        const std::string dir = disk_ + "/" + name;
        fs::create_directories(dir);
        chown(dir.c_str(), kHomeOwnerUid, kHomeOwnerGid);
        return dir;
    }

    std::string root_tree() const { return outside() + "/tree"; }

    std::string disk_;
};

// What a registration says: its result and whether the log blames another process or names the
// refused lock file.
std::string register_and_say(int type) {
    OS_DIAG_initialize(nullptr, "run");
    DIAG_set_debug_level(4);
    const CM_RC rc = OS_PROC_register(type, nullptr);
    const std::string log = testbed::read_diag_log("run");
    std::string said = has(log, "Another Agent process is running") ? " another-process" : "";
    const size_t refused = log.find("OS_PROC_register: the lock file ");
    const size_t from = refused + std::strlen("OS_PROC_register: ");
    if (refused != std::string::npos) said += " " + log.substr(from, log.find(", exiting", from) - from);
    return "rc=" + std::to_string(rc) + said;
}

TEST_F(OwnedHomeRunTest, PlantedLinksFifosAndLinkedFoldersAreRefusedOrHarmless) {
    struct Case {
        const char* what;
        std::function<void()> plant;           // as root, in the home or outside it
        std::function<std::string(int)> call;  // in a child of its own; says what happened
        std::string expected;
    };
    const Case cases[] = {
        {"lock folder linked to root's folder", [&] { link_folder("locks", root_tree()); },
         [](int) { return register_and_say(OS_PROC_TYPE_AG); },
         ("rc=2 the lock file ./locks/AGENT.lock is refused: a link to a folder that is not the agent owner's")},
        {"lock file a FIFO", [&] { mkfifo((home.path() + "/locks/AGENT.lock").c_str(), 0666); },
         [](int) { return register_and_say(OS_PROC_TYPE_AG); },
         ("rc=2 the lock file ./locks/AGENT.lock is refused: it is not a regular file")},
        {"lock file a link to root's file",
         [&] { symlink((outside() + "/secret").c_str(), (home.path() + "/locks/AGENT.lock").c_str()); },
         [](int) { return register_and_say(OS_PROC_TYPE_AG); },
         ("rc=2 the lock file ./locks/AGENT.lock is refused: a link stands at its name")},
        {"lock and pid folders linked to the owner's disk",
         [&] {
             link_folder("locks", disk_folder("locks"));
             link_folder("pid", disk_folder("pid"));
         },
         [&](int) {
             const std::string said = register_and_say(OS_PROC_TYPE_AG);
             const bool made = access((disk_ + "/locks/AGENT.lock").c_str(), F_OK) == 0 &&
                               access((disk_ + "/pid/ag_" + std::to_string(getpid())).c_str(), F_OK) == 0;
             return said + (made ? " made on the disk" : " missing on the disk");
         },
         ("rc=1 made on the disk")},
        {"pid folder linked to root's folder, start-up and exit of the workload process",
         [&] {
             testbed::write_whole_file(root_tree() + "/wk_1", "");
             link_folder("pid", root_tree());
         },
         [](int out) {
             tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("WK"), 0, nullptr)));
             OS_PROC_exit(0);  // removes the workload's pid files: never there
             return std::string();
         },
         ("rc=2")},
        {"old logs in a log folder linked to root's folder",
         [&] {
             testbed::write_whole_file(root_tree() + "/old.log", "root's log\n");
             age(root_tree() + "/old.log", 40);
             link_folder("proclog", root_tree());
         },
         [](int) { return "rc=" + std::to_string(OS_DIAG_delete_proclogs(30, 0)); }, ("rc=2")},
        {"old logs in a log folder linked to the owner's disk",
         [&] {
             const std::string logs = disk_folder("proclog");
             testbed::write_whole_file(logs + "/old.log", "");
             testbed::write_whole_file(logs + "/new.log", "");
             age(logs + "/old.log", 40);
             link_folder("proclog", logs);
         },
         [&](int) {
             const CM_RC rc = OS_DIAG_delete_proclogs(30, 0);
             return "rc=" + std::to_string(rc) +
                    (access((disk_ + "/proclog/old.log").c_str(), F_OK) == 0 ? " old" : "") +
                    (access((disk_ + "/proclog/new.log").c_str(), F_OK) == 0 ? " new" : "");
         },
         ("rc=1 new")},
        {"old executables linked to root's tree",
         [&] {
             link_folder("exe_old", root_tree());
             home.write_file("data/upgrade_running_jobs.dat", "JOB1_0001.dsect\n");
         },
         [](int) { return "rc=" + std::to_string(OS_FILE_clean_upgrade_files()); }, ("rc=2")},
        {"old executables linked to the owner's disk, a link inside to root's tree",
         [&] {
             const std::string old = disk_folder("exe_old");
             fs::create_directories(old + "/bin");
             testbed::write_whole_file(old + "/bin/p_orvag", "old");
             symlink(root_tree().c_str(), (old + "/bin/tree").c_str());
             link_folder("exe_old", old);
             home.write_file("data/upgrade_running_jobs.dat", "JOB1_0001.dsect\n");
         },
         [&](int) {
             const CM_RC rc = OS_FILE_clean_upgrade_files();
             return "rc=" + std::to_string(rc) + (fs::is_empty(disk_ + "/exe_old") ? " emptied" : " left") +
                    (access("exe_old", F_OK) == 0 || fs::is_symlink("exe_old") ? " linked" : " unlinked");
         },
         ("rc=1 emptied unlinked")},
        {"upgrade list a FIFO", [&] { mkfifo((home.path() + "/data/upgrade_running_jobs.dat").c_str(), 0666); },
         [](int) { return "rc=" + std::to_string(OS_FILE_clean_upgrade_files()); }, ("rc=2")},
        {"upgrade list a link to an endless device",
         [&] { symlink("/dev/zero", (home.path() + "/data/upgrade_running_jobs.dat").c_str()); },
         [](int) { return "rc=" + std::to_string(OS_FILE_clean_upgrade_files()); }, ("rc=2")},
        {"cpu specs a FIFO", [&] { mkfifo((home.path() + "/data/get_cpu_specs_encrypted.dat").c_str(), 0666); },
         [](int) {
             const CM_RC rc = OS_PROC_init(const_cast<char*>("AG"), 0, nullptr);
             return "rc=" + std::to_string(rc) + " specs=" + std::to_string(strlen(OS_PROC_getCpuSpecsBuffer()));
         },
         ("rc=1 specs=0")},
        {"cpu specs a link to an endless device",
         [&] { symlink("/dev/zero", (home.path() + "/data/get_cpu_specs_encrypted.dat").c_str()); },
         [](int) {
             const CM_RC rc = OS_PROC_init(const_cast<char*>("AG"), 0, nullptr);
             return "rc=" + std::to_string(rc) + " specs=" + std::to_string(strlen(OS_PROC_getCpuSpecsBuffer()));
         },
         ("rc=1 specs=0")},
        {"utility folder linked to root's folder", [&] { link_folder("runtime", root_tree()); },
         [](int) { return run_cat("input"); }, ("rc=2")},
        {"utility folder linked to the owner's disk", [&] { link_folder("runtime", disk_folder("runtime")); },
         [](int) { return run_cat("input"); }, ("ok")},
        {"utility files planted as a FIFO and links to root's file", [] {},
         [&](int) {
             // The names carry the pid of the run.
             const std::string stem = "runtime/PKM_" + std::to_string(getpid()) + ".tmp.";
             mkfifo((stem + "STDOUT").c_str(), 0666);
             for (const char* kind : {"CMD", "STDIN", "STDERR"})
                 symlink((outside() + "/secret").c_str(), (stem + kind).c_str());
             return run_cat("input");
         },
         ("ok")},
        {"cpu-specs folder linked to root's folder", [&] { link_folder("temp", root_tree()); },
         [](int) { return machine_os(); }, ("rc=2 os=")},
        {"cpu-specs script run as the home's owner",
         [] { snprintf(OS_PROC_getCpuSpecsBuffer(), OS_PROC_CPU_SPECS_ROOM, "%s", "echo \"OS = $(id -u)\"\n"); },
         [](int) { return machine_os(); }, ("rc=1 os=" + std::to_string(kHomeOwnerUid))},
        {"lock files in a lock folder linked to root's folder",
         [&] {
             testbed::write_whole_file(root_tree() + "/kept.lck", "");
             age(root_tree() + "/kept.lck", 1);
             link_folder("locks", root_tree());
         },
         [](int) {
             return "lock=" + std::to_string(OS_IPC_lock("locks/new.lck", 0)) +
                    " unlock=" + std::to_string(OS_IPC_unlock("locks/kept.lck")) +
                    " old=" + std::to_string(OS_IPC_old("locks/kept.lck"));
         },
         "lock=2 unlock=2 old=0"},
        {"core moved into a log folder linked to root's folder",
         [&] {
             home.write_file("core", "a core\n");
             link_folder("proclog", root_tree());
         },
         [](int) {
             OS_PROC_housekeeping();
             return std::string(access("core", F_OK) == 0 ? "core kept" : "core moved");
         },
         ("core kept")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset_home();
        c.plant();
        const std::string before = outside_snapshot();
        const ChildOutcome outcome = in_child([&](int out) { tell(out, c.call(out)); }, nullptr, 20);
        ASSERT_TRUE(outcome.exited) << "hung or crashed";
        std::string said;
        for (const std::string& line : outcome.lines) said += line;
        EXPECT_EQ(said, c.expected);
        EXPECT_EQ(outside_snapshot(), before);
        OS_PROC_getCpuSpecsBuffer()[0] = '\0';
    }
}

// As the home's owner, until the file "stop" appears in the home: every run file that shows up in
// the utility's folder or the cpu-specs folder is replaced at once, a script by one that marks
// root's private folder (which only root can write), an input or output by a link to root's secret.
// Each racer names its spare files after its own process and a count, so that racers never write
// through one another's links; a spare left by a run file gone meanwhile is removed.
int swap_run_files(const std::string& outside) {
    const std::string evil = "#!/bin/sh\ntouch '" + outside + "/pwned' 2>/dev/null\necho 'OS = evil'\n";
    const std::string racer = std::to_string(getpid());
    for (long n = 0; access("stop", F_OK) != 0;) {
        for (const char* dir : {"runtime", "temp"}) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(dir, ec)) {
                const std::string name = entry.path().filename().string();
                const std::string spare = testbed::joined(dir, "/.spare", racer, "_", n++);
                const bool script = name.ends_with(".CMD") || name.ends_with(".sh");
                if (name.starts_with("PKM_") && !script) {
                    symlink((outside + "/secret").c_str(), spare.c_str());
                } else if (script) {
                    testbed::write_whole_file(spare, evil);
                    chmod(spare.c_str(), 0755);
                } else {
                    continue;
                }
                if (rename(spare.c_str(), entry.path().c_str()) != 0) unlink(spare.c_str());
            }
        }
    }
    return 0;
}

TEST_F(OwnedHomeRunTest, ScriptsAndOutputsSwappedByTheOwnerNeverRunOrRedirectAsRoot) {
    constexpr int kWorkers = 4, kRuns = 50, kRacers = 2;
    std::snprintf(OS_PROC_getCpuSpecsBuffer(), OS_PROC_CPU_SPECS_ROOM, "%s", "echo 'OS = Linux'\n");
    const std::string before = outside_snapshot();
    std::vector<pid_t> racers;
    for (int r = 0; r < kRacers; ++r) {
        const pid_t racer = fork();
        if (racer == 0) _exit(as_owner([&] { return swap_run_files(outside()); }));
        racers.push_back(racer);
    }
    std::vector<ChildOutcome> outcomes(kWorkers);
    std::vector<pid_t> workers;
    for (int w = 0; w < kWorkers; ++w) {
        const pid_t worker = fork();
        if (worker == 0) {
            int ok = 0, refused = 0, wrong = 0;
            for (int i = 0; i < kRuns; ++i) {
                const std::string said = run_cat("input " + std::to_string(i));
                (said == "ok" ? ok : said == "rc=2" ? refused : wrong)++;
                machine_os();
            }
            std::printf("worker: %d ok, %d refused, %d wrong\n", ok, refused, wrong);
            std::fflush(stdout);
            _exit(wrong == 0 && ok + refused == kRuns ? 0 : 1);
        }
        workers.push_back(worker);
    }
    for (pid_t worker : workers) {
        int status = -1;
        waitpid(worker, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run gave a wrong output";
    }
    home.write_file("stop", "");
    for (pid_t racer : racers) {
        int status = -1;
        waitpid(racer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_FALSE(fs::exists(outside() + "/pwned")) << "the owner's script ran as root";
    EXPECT_EQ(outside_snapshot(), before);
    OS_PROC_getCpuSpecsBuffer()[0] = '\0';
}

}  // namespace
