// p_orvoebs as a process: one watcher per home, the pid file, the end at SIGTERM and SIGINT within
// one slice of its sleep, the exit status when the pid file cannot be written, the reasons on the
// terminal when the home has no log folder or no configuration table, the command line, the shout
// of a failing stage at the agent peer, a configuration without a debug level, and the modes of
// the files it makes.
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

TEST_F(WatcherProcessTest, CommandLineAndAHomeWithoutConfigurationAreAnsweredBeforeTheWatcherRuns) {
    // The home has its folders but no data/CONFIG.dat.
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;  // on standard output, "" for nothing
        const char* err;  // on standard error, "" for nothing
    } cases[] = {
        {{"--help"}, 0, "usage: p_orvoebs [--help]\n", ""},
        {{"-h"}, 0, "usage: p_orvoebs [--help]\n", ""},
        {{"--once"}, 2, "", "p_orvoebs: unexpected argument '--once'\nusage: p_orvoebs [--help]\n"},
        {{"--help", "now"}, 2, "", "p_orvoebs: unexpected argument 'now'\nusage: p_orvoebs [--help]\n"},
        {{}, 1, "", "orvoebs: cannot load the configuration table "},
    };
    const std::string out = home.path() + "/../" + std::filesystem::path(home.path()).filename().string() + ".out";
    const std::string err = out + ".err";
    // The text begins with `start`; an empty `start` stands for no text at all.
    const auto begins = [](const std::string& text, const char* start) {
        return *start ? text.rfind(start, 0) == 0 : text.empty();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no argument" : c.args[0] + " (" + std::to_string(c.args.size()) + ")");
        const pid_t pid = start_watcher(out, c.args, err);
        EXPECT_EQ(wait_exit(pid, 20), c.status);
        const std::string said = testbed::read_whole_file(out), complained = testbed::read_whole_file(err);
        EXPECT_TRUE(begins(said, c.out)) << said;
        EXPECT_TRUE(begins(complained, c.err)) << complained;
        if (c.status == 1) {
            const std::string table = home.path() + "/data/CONFIG.dat";
            EXPECT_NE(complained.find(table + ": No such file or directory\n"), std::string::npos) << complained;
            EXPECT_NE(log_of(pid).find("orvoebs:Cannot load the configuration table " + table +
                                       ": No such file or directory\n"),
                      std::string::npos)
                << log_of(pid);
        } else {
            // Answered before start-up: no log, no lock, no pid file.
            EXPECT_TRUE(std::filesystem::is_empty(home.path() + "/proclog"));
            EXPECT_FALSE(home.exists("temp/OW.lock"));
            EXPECT_FALSE(home.exists("cm/DUZ/data/ow_pid.dat"));
        }
    }
    std::filesystem::remove(out);
    std::filesystem::remove(err);
}

TEST_F(WatcherProcessTest, ConfigurationWithoutDebugLevelIsReportedInTheLogNotOnTheTerminal) {
    start_peer();
    home.write_file("data/CONFIG.dat",
                    "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nUTTIMEOUT 5\nCOMMRETSLP 0\n"
                    "ORVSHOST 127.0.0.1\nUTCMNDATA " +
                        std::to_string(peer->port()) + "\n");
    const std::string terminal = home.path() + "/host-terminal.txt";
    const pid_t pid = start_watcher(terminal);
    ASSERT_TRUE(peer->wait_for_journal(1, 20));  // the shout of the missing settings file ran
    EXPECT_TRUE(wait_for_log(pid, "Debug level will be set to 0", 10)) << log_of(pid);
    // Stopped once the pass is over: a stop while the shout still waits on its reply would say so.
    EXPECT_TRUE(wait_for_log(pid, "Going to sleep for:", 20)) << log_of(pid);
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 10), 0);
    EXPECT_EQ(testbed::read_whole_file(terminal), "");
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
