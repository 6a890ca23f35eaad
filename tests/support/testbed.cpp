#include "testbed.h"

#include "gm_param.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testbed {

AgentHome::AgentHome() {
    char tmpl[] = "/tmp/appbridge-home-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    for (const char* dir : {"data", "procid", "sysout", "temp", "proclog", "dailylog", "cm/DUZ/data"})
        fs::create_directories(fs::path(path_) / dir);
    previous_dir_ = fs::current_path().string();
    if (const char* old = std::getenv("ORVANTA")) {
        had_orvanta_ = true;
        previous_orvanta_ = old;
    }
    setenv("ORVANTA", path_.c_str(), 1);
    fs::current_path(path_);
}

AgentHome::~AgentHome() {
    // The process caches hold tables of this home, which is about to go.
    GM_PARAM_clear();
    GM_PARAM_subtable_clear();
    std::error_code ec;
    fs::current_path(previous_dir_, ec);
    if (had_orvanta_)
        setenv("ORVANTA", previous_orvanta_.c_str(), 1);
    else
        unsetenv("ORVANTA");
    fs::remove_all(path_, ec);
}

void AgentHome::write_file(const std::string& relative, const std::string& content) const {
    fs::path p = fs::path(path_) / relative;
    fs::create_directories(p.parent_path());
    write_whole_file(p.string(), content);
}

std::string AgentHome::read_file(const std::string& relative) const {
    return read_whole_file((fs::path(path_) / relative).string());
}

void AgentHome::install_locale_data() const {
#ifdef APPBRIDGE_LOCALE_DATA_DIR
    fs::create_directories(fs::path(path_) / "exe");
    fs::create_directory_symlink(APPBRIDGE_LOCALE_DATA_DIR, fs::path(path_) / "exe" / "locale");
#else
    throw std::runtime_error("the build has no generated locale data");
#endif
}

bool AgentHome::exists(const std::string& relative) const { return fs::exists(fs::path(path_) / relative); }

FdCapture::FdCapture(int fd) : fd_(fd) {
    char tmpl[] = "/tmp/appbridge-capture-XXXXXX";
    int tmp = mkstemp(tmpl);
    if (tmp < 0) throw std::runtime_error("mkstemp failed");
    file_ = tmpl;
    flush();
    saved_fd_ = dup(fd_);
    dup2(tmp, fd_);
    close(tmp);
}

FdCapture::~FdCapture() {
    flush();
    dup2(saved_fd_, fd_);
    close(saved_fd_);
    std::remove(file_.c_str());
}

void FdCapture::flush() { std::fflush(fd_ == 1 ? stdout : stderr); }

std::string FdCapture::text() {
    flush();
    return read_whole_file(file_);
}

std::string diag_log_path(const std::string& process_name) {
    return "./proclog/" + process_name + "_" + std::to_string(getpid()) + ".log";
}

std::string read_diag_log(const std::string& process_name) { return read_whole_file(diag_log_path(process_name)); }

std::string strip_diag_times(const std::string& log) {
    static const std::regex stamp(R"((^|\n)\d{4} \d\d:\d\d:\d\d:\d{3} )");
    return std::regex_replace(log, stamp, "$1");
}

std::string read_diag_log_texts(const std::string& process_name) {
    return strip_diag_times(read_diag_log(process_name));
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_whole_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

}  // namespace testbed
