// The stand-ins' programs on their command lines: --help prints the usage and ends with 0; a
// missing, unknown or unusable argument prints the reason and the usage on standard error and ends
// with 2; a good command line still runs.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "testbed.h"

namespace {

struct Outcome {
    int status = -1;  // exit status, -1 when killed
    std::string out;
    std::string err;
};

class StandinProgramTest : public testbed::AgentHomeTest {
protected:
    // Starts a program with its output and error going to files of the home.
    pid_t start(const std::string& program, const std::vector<std::string>& args) const {
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            dup2(open(out_file().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err_file().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }
    Outcome finish(pid_t pid) const {
        Outcome o;
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) o.status = WEXITSTATUS(status);
        o.out = testbed::read_whole_file(out_file());
        o.err = testbed::read_whole_file(err_file());
        return o;
    }
    std::string out_file() const { return home.path() + "/program.out"; }
    std::string err_file() const { return home.path() + "/program.err"; }
};

const std::string kPeer = APPBRIDGE_AGENTPEER;
const std::string kGenerator = APPBRIDGE_LOCALE_GENERATOR;

TEST_F(StandinProgramTest, HelpAndBadArgumentsGetTheUsage) {
    struct Case {
        const std::string& program;
        std::vector<std::string> args;
        int status;
        const char* reason;  // the first line on standard error, null for --help
    } cases[] = {
        {kPeer, {"--help"}, 0, nullptr},
        {kPeer, {}, 2, "agentpeer: --port-file is missing"},
        {kPeer, {"--journal"}, 2, "agentpeer: missing value after --journal"},
        {kPeer, {"--journal", "j.jsonl", "--port"}, 2, "agentpeer: unknown option --port"},
        {kPeer,
         {"--port-file", "port", "--script", "no-such-script.json"},
         2,
         "agentpeer: cannot read the script no-such-script.json"},
        {kGenerator, {"--help"}, 0, nullptr},
        {kGenerator, {}, 2, "gclocgen: --out or --facts is missing"},
        {kGenerator, {"--out"}, 2, "gclocgen: missing value after --out"},
        {kGenerator, {"--out", "data", "-x"}, 2, "gclocgen: unknown option -x"},
        {kGenerator, {"--facts", "lower"}, 2, "gclocgen: unknown facts lower"},
        {kGenerator, {"--out", "data", "--version", "cp_0002=4"}, 2, "gclocgen: unknown version 4"},
    };
    for (const Case& c : cases) {
        std::string line = c.program.substr(c.program.rfind('/') + 1);
        for (const std::string& a : c.args) line += " " + a;
        SCOPED_TRACE(line);
        const Outcome o = finish(start(c.program, c.args));
        EXPECT_EQ(o.status, c.status);
        const std::string& usage = c.reason ? o.err : o.out;
        const std::string name = c.program.substr(c.program.rfind('/') + 1);
        EXPECT_NE(usage.find("usage: " + name + " --"), std::string::npos) << usage;
        if (c.reason) {
            EXPECT_EQ(usage.rfind(std::string(c.reason) + "\n", 0), 0u) << usage;
            EXPECT_EQ(o.out, "");
        } else {
            EXPECT_EQ(o.err, "");
        }
    }
    EXPECT_FALSE(home.exists("data/control.nls"));  // nothing generated from a refused command line
}

TEST_F(StandinProgramTest, AgentPeerWithItsPortFileServesUntilTerminated) {
    const std::string port_file = home.path() + "/peer.port";
    const pid_t pid = start(kPeer, {"--port-file", port_file, "--journal", home.path() + "/peer.jsonl"});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (testbed::read_whole_file(port_file).empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string port = testbed::read_whole_file(port_file);
    EXPECT_GT(port.empty() ? 0 : std::stoi(port), 0);
    kill(pid, SIGTERM);
    const Outcome o = finish(pid);
    EXPECT_EQ(o.status, 0) << o.err;
}

}  // namespace
