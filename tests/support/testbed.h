// Test bed shared by every suite: a temporary agent home, standard-error capture and a reader
// for the process's diagnostic log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testbed {

// Makes a temporary agent home with the agent's work folders, points ORVANTA at it and changes
// into it; on destruction changes back and removes the whole tree.
class AgentHome {
public:
    AgentHome();
    ~AgentHome();
    AgentHome(const AgentHome&) = delete;
    AgentHome& operator=(const AgentHome&) = delete;

    const std::string& path() const { return path_; }
    // Writes a file relative to the home (parent folders are made).
    void write_file(const std::string& relative, const std::string& content) const;
    std::string read_file(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // Gives the home the generated locale data as exe/locale (a link to the build's folder).
    void install_locale_data() const;

private:
    std::string path_;
    std::string previous_dir_;
    std::string previous_orvanta_;
    bool had_orvanta_ = false;
};

// GoogleTest fixture around AgentHome.
class AgentHomeTest : public ::testing::Test {
protected:
    AgentHome home;
};

// Redirects a file descriptor (1 or 2) into a temporary file while alive; text() returns what was
// written. The C stream of the descriptor is flushed before and after.
class FdCapture {
public:
    explicit FdCapture(int fd);
    ~FdCapture();
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;
    std::string text();  // flushes and reads what has been captured so far

private:
    void flush();
    int fd_;
    int saved_fd_ = -1;
    std::string file_;
};

// Standard error captured while alive.
class StderrCapture : public FdCapture {
public:
    StderrCapture() : FdCapture(2) {}
};

// Standard output captured while alive.
class StdoutCapture : public FdCapture {
public:
    StdoutCapture() : FdCapture(1) {}
};

// Path of this process's diagnostic log for a process name: ./proclog/<name>_<pid>.log
std::string diag_log_path(const std::string& process_name);
// Whole content of that log ("" when it does not exist).
std::string read_diag_log(const std::string& process_name);
// The same log with the time stamp ("MMDD HH:MM:SS:CCC ") taken off the start of every line, so
// that tests can match whole lines: "Oebs_CM:text\n".
std::string read_diag_log_texts(const std::string& process_name);
std::string strip_diag_times(const std::string& log);
// Lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);

std::string read_whole_file(const std::string& path);
void write_whole_file(const std::string& path, const std::string& content);

}  // namespace testbed
