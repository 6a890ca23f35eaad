// One of the programs the plug-in starts (the agent's utilities orvagcpk, orvgetccp, orvagenv, the
// configuration manager's pkmreqmanager, and sqlplus of a test ORACLE_HOME; the name is fixed at
// build time). It appends its command line to the call log and prints the answer that the fixture
// holds for its arguments. The fixture is "<program>.fixture" beside the program file when there
// is one (a program started through "su -" gets a cleared environment), with the call log
// "<program>.log" beside it; else the fixture named by APPBRIDGE_AGENT_FIXTURE and the call log
// named by APPBRIDGE_AGENT_CALL_LOG.
//
// Fixture format: sections "[<utility> <arg> ...]" whose words must equal the first arguments
// of the call (a bare "[<utility>]" answers any call); the first matching section answers, line
// by line: "out: <text>" prints the text on standard output, "err: <text>" on standard error,
// "exit: <n>" sets the exit status (default 0), "stdin:" reads the whole standard input into the
// call log, "env: NAME ..." logs the variables' values ("NAME=value" or "NAME unset"), "signal: <n>"
// ends the program by that signal once the section is answered. '#' lines and blank lines are
// skipped. A call that no section answers prints a complaint on standard error and exits with 1.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifndef AGENT_UTILITY_NAME
#error "AGENT_UTILITY_NAME must name the utility"
#endif

namespace {

constexpr const char* kName = AGENT_UTILITY_NAME;
constexpr int kExitNoAnswer = 1;
constexpr int kExitBadFixture = 2;

std::vector<std::string> words_of(std::string_view text) {
    std::vector<std::string> words;
    std::istringstream in{std::string(text)};
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string join(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) {
        if (!out.empty()) out += ' ';
        out += w;
    }
    return out;
}

// Writes the whole text with one write call, so concurrent callers do not interleave lines.
void write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The program's own file, for the fixture and log beside it.
std::string own_path() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool readable(const std::string& path) { return !path.empty() && ::access(path.c_str(), R_OK) == 0; }

std::string beside_fixture() { return own_path() + ".fixture"; }

std::string call_log() {
    if (readable(beside_fixture())) return own_path() + ".log";
    const char* log = std::getenv("APPBRIDGE_AGENT_CALL_LOG");
    return log && *log ? log : std::string();
}

void log_line(const std::string& line) {
    const std::string log = call_log();
    if (log.empty()) return;
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    write_all(fd, line + '\n');
    ::close(fd);
}

void log_call(const std::vector<std::string>& args) {
    std::string line = kName;
    if (!args.empty()) line += ' ' + join(args);
    log_line(line);
}

// Line ends of logged text written as \n, so that one call's input stays on one log line.
std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

int complain(int status, const std::string& text) {
    write_all(2, std::string(kName) + ": " + text + '\n');
    return status;
}

// True when the section header "[name arg ...]" answers this call.
bool header_matches(std::string_view header, const std::vector<std::string>& args) {
    std::vector<std::string> words = words_of(header);
    if (words.empty() || words[0] != kName || words.size() - 1 > args.size()) return false;
    for (size_t i = 1; i < words.size(); ++i)
        if (words[i] != args[i - 1]) return false;
    return true;
}

std::string text_after(std::string_view line, size_t keyword_len) {
    std::string_view rest = line.substr(keyword_len);
    if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    return std::string(rest);
}

int answer(const std::string& fixture, const std::vector<std::string>& args) {
    std::ifstream in(fixture);
    if (!in) return complain(kExitBadFixture, "cannot read fixture " + fixture);
    bool answering = false, answered = false;
    int status = 0;
    int end_signal = 0;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::string_view text(line);
        if (text[0] == '[') {
            if (answered) break;
            size_t close = text.find(']');
            if (close == std::string_view::npos)
                return complain(kExitBadFixture, "fixture line " + std::to_string(number) + " has no ']'");
            answering = header_matches(text.substr(1, close - 1), args);
            answered = answering;
            continue;
        }
        if (!answering) continue;
        if (text.rfind("out:", 0) == 0) {
            write_all(1, text_after(text, 4) + '\n');
        } else if (text.rfind("err:", 0) == 0) {
            write_all(2, text_after(text, 4) + '\n');
        } else if (text.rfind("exit:", 0) == 0) {
            status = std::atoi(text_after(text, 5).c_str());
        } else if (text.rfind("stdin:", 0) == 0) {
            std::string input;
            char buffer[4096];
            for (ssize_t n; (n = ::read(0, buffer, sizeof buffer)) > 0;) input.append(buffer, static_cast<size_t>(n));
            log_line("stdin: " + one_line(input));
        } else if (text.rfind("env:", 0) == 0) {
            for (const std::string& name : words_of(text.substr(4))) {
                const char* value = std::getenv(name.c_str());
                log_line(value ? "env " + name + "=" + value : "env " + name + " unset");
            }
        } else if (text.rfind("signal:", 0) == 0) {
            end_signal = std::atoi(text_after(text, 7).c_str());
        } else {
            return complain(kExitBadFixture, "fixture line " + std::to_string(number) + " not understood");
        }
    }
    if (!answered) return complain(kExitNoAnswer, "no answer for '" + join(args) + "'");
    if (end_signal > 0) {
        ::signal(end_signal, SIG_DFL);
        ::raise(end_signal);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        log_call(args);
        if (readable(beside_fixture())) return answer(beside_fixture(), args);
        const char* fixture = std::getenv("APPBRIDGE_AGENT_FIXTURE");
        if (!fixture || !*fixture) return complain(kExitBadFixture, "APPBRIDGE_AGENT_FIXTURE is not set");
        return answer(fixture, args);
    } catch (...) {
        return complain(kExitBadFixture, "out of memory");
    }
}
