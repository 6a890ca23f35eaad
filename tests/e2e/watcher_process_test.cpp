// p_orvoebs as a process: one watcher per home, the pid file, the end at SIGTERM and SIGINT within
// one slice of its sleep, the exit status when the pid file cannot be written, the reasons on the
// terminal when the home has no log folder, the shout of a failing stage at the agent peer, and the
// modes of the files it makes.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "watcher_process.h"

namespace {

using e2e::WatcherProcessTest;
using Clock = std::chrono::steady_clock;

const char* const kSettings =
    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER N\nACTION_MAX_RETRY 3\nACTION_LOG Y\nWATCHING_INTERVAL_TIME 6\n"
    "ALERT_MAX_OUTPUT 20\n";

TEST_F(WatcherProcessTest, SecondWatcherExitsAndTheFirstKeepsItsLockAndPidFile) {
    start_peer();
    home.write_file("cm/DUZ/data/event_cfg.dat", kSettings);
    const pid_t first = start_watcher();
    ASSERT_TRUE(wait_for_log(first, "Going to sleep for: 6 seconds.", 20)) << log_of(first);
    EXPECT_EQ(home.read_file("cm/DUZ/data/ow_pid.dat"), std::to_string(first));
    const pid_t second = start_watcher();
    EXPECT_EQ(wait_exit(second, 20), 1);
    EXPECT_NE(log_of(second).find("orvoebs:Another OEBS Watcher is running. Exiting.\n"), std::string::npos);
    EXPECT_EQ(home.read_file("cm/DUZ/data/ow_pid.dat"), std::to_string(first));
    EXPECT_EQ(kill(first, 0), 0);
    // Files made after start keep the umask; the lock file alone is open to everyone.
    struct stat status {};
    ASSERT_EQ(stat((home.path() + "/cm/DUZ/data/ow_pid.dat").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & S_IWOTH, 0u);
    ASSERT_EQ(stat((home.path() + "/proclog/orvoebs_" + std::to_string(first) + ".log").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & S_IWOTH, 0u);
    ASSERT_EQ(stat((home.path() + "/temp/OW.lock").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);
    kill(first, SIGTERM);
    EXPECT_EQ(wait_exit(first, 10), 0);
}

TEST_F(WatcherProcessTest, TermAndIntDuringTheSleepEndTheWatcherWithinOneSlice) {
    start_peer();
    home.write_file("cm/DUZ/data/event_cfg.dat",
                    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER N\nACTION_MAX_RETRY 3\nACTION_LOG Y\n"
                    "WATCHING_INTERVAL_TIME 120\nALERT_MAX_OUTPUT 20\n");
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        const pid_t pid = start_watcher();
        ASSERT_TRUE(wait_for_log(pid, "Going to sleep for: 120 seconds.", 20)) << log_of(pid);
        const auto sent = Clock::now();
        kill(pid, sig);
        EXPECT_EQ(wait_exit(pid, 15), 0);
        EXPECT_LT(Clock::now() - sent, std::chrono::seconds(7));
        const std::string log = log_of(pid);
        EXPECT_NE(log.find("orvoebs:Shutdown requested. signal - [" + std::to_string(sig) + "]\n"), std::string::npos);
        EXPECT_NE(log.find(">>> ORVANTA OEBS Watcher ended with rc = "), std::string::npos) << log;
    }
}

TEST_F(WatcherProcessTest, PidFileThatCannotBeWrittenEndsTheWatcherWithOne) {
    start_peer();
    std::filesystem::create_directories(home.path() + "/cm/DUZ/data/ow_pid.dat");
    const pid_t pid = start_watcher();
    EXPECT_EQ(wait_exit(pid, 20), 1);
    const std::string log = log_of(pid);
    EXPECT_NE(log.find("orvoebs:Error: Failed to save PID in file\n"), std::string::npos) << log;
    EXPECT_NE(log.find("orvoebs:>>> ORVANTA OEBS Watcher ended with rc = 2 <<<\n"), std::string::npos) << log;
}

TEST_F(WatcherProcessTest, HomeWithoutItsLogFolderEndsTheWatcherWithTheReasonsOnTheTerminal) {
    // Neither the log folder nor the configuration: nothing of the failure can reach the log.
    std::filesystem::remove_all(home.path() + "/proclog");
    const std::string terminal = home.path() + "/host-terminal.txt";
    const pid_t pid = start_watcher(terminal);
    EXPECT_EQ(wait_exit(pid, 20), 1);
    const std::string said = testbed::read_whole_file(terminal);
    EXPECT_NE(said.find("orvoebs: cannot write the log in " + home.path() + "/proclog: No such file or directory\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("orvoebs: OS_PROC_init: Cannot load CONFIG [2]\n"), std::string::npos) << said;
}

TEST_F(WatcherProcessTest, MissingSettingsFileIsShoutedToTheServer) {
    start_peer();
    const pid_t pid = start_watcher();
    ASSERT_TRUE(wait_for_log(pid, "Going to sleep for: 120 seconds.", 20)) << log_of(pid);  // the defaults
    ASSERT_TRUE(peer->wait_for_journal(1, 10));
    const auto journal = peer->journal();
    ASSERT_GE(journal.size(), 1u);
    EXPECT_EQ(journal[0]["utility"], "ORVSHOUT");
    EXPECT_EQ(journal[0]["args"],
              nlohmann::json::array({"orvshout", "-dest", "UVS", "-message",
                                     "Agent name: agt1. ORVANTA OEBS Watcher: Failed loading event watcher "
                                     "configuration file. Using default values. Check the logs for more details."}));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 10), 0);
}

}  // namespace
