/* Agent utilities run through a generated /bin/sh script whose standard streams go to temporary
 * files (<dir>/PKM_<pid>.tmp.CMD, .STDIN, .STDOUT, .STDERR). Parameter values reach the script
 * as shell words; one run at a time per process, as the names depend only on the process id.
 * The names are foreseeable: each file is made anew, never written or read through a link. */
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "gm_param.h"
#include "os_cli.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_proc.h"
#include "os_spv_internal.h"

namespace {

constexpr int kExeMax = 511;
constexpr int kCmdlineMax = static_cast<int>(sizeof(CMDLINE_D_typ)) - 1;
constexpr const char* kExeKeys[] = {"EXE_DEFAULT", "EXE_DEFAULT_UNIX", "EXE_LINUX"};
constexpr mode_t kTempFileMode = 0644;  // input and output files, as a writing stream makes them

// The run holds it across its fork; the child only gets a fresh one.
std::mutex util_mutex;
[[maybe_unused]] const bool util_fork_safe = os_fork::renew_in_child(util_mutex);

struct TempFiles {
    std::string script, in, out, err;
    std::vector<const std::string*> all() const { return {&script, &in, &out, &err}; }
};

// The values of a list of GM_PARAM_table_row rows, in list order (the caller's cursor is kept).
std::vector<std::string> values_of(ZPALIST_handle_typ* list) {
    std::vector<std::string> values;
    if (!list) return values;
    ZPALIST_handle_typ walker = *list;
    walker.curr = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(&walker, nullptr, &value) == CM_RC_OK) values.emplace_back(static_cast<char*>(value));
    return values;
}

// The most specific executable of the action: EXE_LINUX over EXE_DEFAULT_UNIX over EXE_DEFAULT.
std::string executable_of(const char* fn, const char* action, ZPALIST_handle_typ* attrs) {
    std::string exe;
    for (const char* key : kExeKeys) {
        char value[kExeMax + 1] = "";
        if (attrs && GM_PARAM_list_get(attrs, key, value, sizeof value) == CM_RC_OK && *value) exe = value;
    }
    if (exe.empty()) DIAG_ERROR("%s: ERROR: Executable name is missing for action '%s'", fn, action ? action : "");
    return exe;
}

// Makes the folder, root's and 0755. A name taken meanwhile will do only when it is a folder
// now; owner and mode are never changed through a link.
bool make_directory(const char* fn, const std::string& dir) {
    DIAG_TRACE(4, "%s: creating directory '%s' with system command '%s'", fn, dir.c_str(),
               "mkdir, chown root, chmod 755");
    if (os_file::make_dir(dir.c_str(), 0755, 0)) return true;
    return errno == EEXIST && OS_FILE_is_dir(dir.c_str());
}

bool temp_names(const char* fn, TempFiles& files) {
    GM_PARAM_VALUE_typ dir = "";
    std::string directory;
    if (GM_PARAM_get("OS", "CM_TEMP_SCRIPTS_DIR", dir) == CM_RC_OK && *dir) {
        directory = dir;
    } else {
        const char* home = std::getenv("ORVANTA");
        if (!home || !*home) {
            DIAG_ERROR("%s: ERROR: Attribute '%s' is mandatory", fn, "ORVANTA");
            return false;
        }
        directory = std::string(home) + "/" + "runtime";
    }
    if (!OS_FILE_is_dir(directory.c_str()) && !make_directory(fn, directory)) {
        DIAG_ERROR("%s: ERROR: Failed to create temporary scripts file names", fn);
        return false;
    }
    const std::string stem = directory + "/PKM_" + std::to_string(getpid()) + ".tmp.";
    files = {stem + "CMD", stem + "STDIN", stem + "STDOUT", stem + "STDERR"};
    return true;
}

void delete_temp_files(const char* fn, const TempFiles& files) {
    GM_PARAM_VALUE_typ keep = "";
    if (GM_PARAM_get("CONFIG", "EXE_UTIL_TEMP_FILES", keep) == CM_RC_OK) return;
    for (const std::string* file : files.all()) {
        if (access(file->c_str(), F_OK) != 0) continue;
        if (unlink(file->c_str()) != 0)
            DIAG_ERROR("%s: Failed to delete file '%s', error: '%s'", fn, file->c_str(), std::strerror(errno));
    }
}

// The script's output file made empty and the process's own before the shell's redirection
// opens it, so that a link planted at its name is gone.
bool prepare_output(const char* fn, const std::string& path) {
    const int fd = os_file::create_fresh(path.c_str(), kTempFileMode);
    if (fd < 0) {
        DIAG_ERROR("%s: ERROR: Failed to create file '%s'", fn, path.c_str());
        return false;
    }
    close(fd);
    return true;
}

// Reads a whole output file into a buffer of OS_PROC_OUTPUT_ROOM bytes; a missing file leaves the
// buffer as it was. A link at the name is not read through.
bool read_output(const char* fn, const std::string& path, char* buffer) {
    if (!buffer) return true;
    const int fd = os_file::open_regular(path.c_str(), O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        DIAG_TRACE(4, "%s: file %s doesn't exist", fn, path.c_str());
        return true;
    }
    if (fd < 0) {
        DIAG_ERROR("%s: ERROR: Failed to open '%s' for read", fn, path.c_str());
        return false;
    }
    std::string content;
    char piece[OS_PROC_OUTPUT_ROOM];
    for (;;) {
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            OS_FILE_close(fd);
            DIAG_ERROR("%s: ERROR: Failed to read file '%s'", fn, path.c_str());
            return false;
        }
        if (n == 0) break;
        content.append(piece, static_cast<size_t>(n));
        if (content.size() >= OS_PROC_OUTPUT_ROOM - 1) break;
    }
    OS_FILE_close(fd);
    const size_t length = std::min(content.size(), static_cast<size_t>(OS_PROC_OUTPUT_ROOM - 1));
    std::memcpy(buffer, content.data(), length);
    buffer[length] = '\0';
    return true;
}

struct Run {
    const char* fn;
    const char* action;
    ZPALIST_handle_typ* attrs;
    std::string words;       // the arguments as shell words ("" for none)
    std::string plain;       // the same arguments as the plain text, for the length limit
    const char* stdin_text;  // null: no input file
    bool with_stderr;
};

// Builds and runs the script; the temporary files are gone afterwards unless kept by
// configuration. exit_code receives the child's exit status.
bool run_script(const Run& run, const TempFiles& files, int& exit_code) {
    const std::string exe = executable_of(run.fn, run.action, run.attrs);
    std::string plain = exe + run.plain;
    std::string line = exe + run.words;
    const bool with_input = run.stdin_text && *run.stdin_text;
    if (with_input) {
        plain += " <" + files.in;
        line += " <" + os_spv::shell_quote(files.in);
    }
    plain += " 1>" + files.out;
    line += " 1>" + os_spv::shell_quote(files.out);
    if (run.with_stderr) {
        plain += " 2>" + files.err;
        line += " 2>" + os_spv::shell_quote(files.err);
    }
    if (static_cast<int>(plain.size()) > kCmdlineMax) {
        DIAG_ERROR("%s: ERROR: command line longer than %d characters", run.fn, kCmdlineMax);
        return false;
    }
    if (with_input && !os_file::write_fresh(files.in.c_str(), run.stdin_text, kTempFileMode)) {
        DIAG_ERROR("%s: ERROR: Failed to create file '%s'", run.fn, files.in.c_str());
        return false;
    }
    if (!prepare_output(run.fn, files.out) || (run.with_stderr && !prepare_output(run.fn, files.err))) return false;
    if (!os_file::write_fresh(files.script.c_str(), "#!/bin/sh\n" + line + "\n", 0755)) {
        DIAG_ERROR("%s: ERROR: Failed to create script file '%s'", run.fn, files.script.c_str());
        return false;
    }
    char timeout_text[64] = "";
    const int timeout =
        run.attrs && GM_PARAM_list_get(run.attrs, "TIMEOUT", timeout_text, sizeof timeout_text) == CM_RC_OK
            ? std::atoi(timeout_text)
            : 0;
    int rc;
    if (timeout != 0) {
        DIAG_TRACE(4, "%s: time out set to %d seconds", run.fn, timeout);
        rc = OS_CLI_exec_wait_timeout(files.script.c_str(), nullptr, timeout, 0, &exit_code);
    } else {
        DIAG_TRACE(4, "%s: Script is executed with no time out", run.fn);
        rc = OS_CLI_exec_wait_rc(files.script.c_str(), nullptr, 0, &exit_code);
    }
    if (rc != CM_RC_OK) {
        DIAG_ERROR("%s: ERROR: Script execution failed, rc = %d", run.fn, rc);
        return false;
    }
    DIAG_TRACE(4, "%s: Script execution completed, exit code is %d", run.fn, exit_code);
    return true;
}

}  // namespace

extern "C" {

CM_RC OS_PROC_exec_util_with_params(const char* action_name, ZPALIST_handle_typ* action_attrs,
                                    ZPALIST_handle_typ* param_list, const char* stdin_text,
                                    ZPALIST_handle_typ* add_attrs, char* stdout_buf, char* stderr_buf,
                                    char* exit_code) {
    static const char* const fn = "OS_PROC_exec_util_with_params";
    DIAG_TRACE(3, ">>> %s", fn);
    std::vector<std::string> values = values_of(param_list);
    for (std::string& extra : values_of(add_attrs)) values.push_back(std::move(extra));
    for (const std::string& value : values) {
        if (value.find(';') != std::string::npos) {
            DIAG_ERROR("%s: ERROR: Invalid character ';' was found in list", fn);
            DIAG_ERROR("%s: ERROR: Invalid character was found in parameters list", fn);
            return CM_RC_FAIL;
        }
    }
    Run run{fn, action_name, action_attrs, "", "", stdin_text, true};
    for (const std::string& value : values) {
        run.plain += " " + value;
        const std::string words = os_spv::shell_words(value);
        if (!words.empty()) run.words += " " + words;
    }

    std::lock_guard<std::mutex> one_run(util_mutex);
    TempFiles files;
    if (!temp_names(fn, files)) return CM_RC_FAIL;
    int code = 0;
    bool ok = run_script(run, files, code);
    if (ok) {
        if (exit_code) std::snprintf(exit_code, OS_PROC_EXIT_CODE_ROOM, "%d", code);
        ok = read_output(fn, files.out, stdout_buf) && read_output(fn, files.err, stderr_buf);
    }
    delete_temp_files(fn, files);
    DIAG_TRACE(3, "<<< %s, rc = %d", fn, ok ? CM_RC_OK : CM_RC_FAIL);
    return ok ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_PROC_exec_util_with_xml(const char* action_name, ZPALIST_handle_typ* action_attrs, const char* xml_in,
                                 char* out_buf) {
    static const char* const fn = "OS_PROC_exec_util_with_xml";
    DIAG_TRACE(3, ">>> %s", fn);
    std::lock_guard<std::mutex> one_run(util_mutex);
    TempFiles files;
    if (!temp_names(fn, files)) return CM_RC_FAIL;
    // The input file is always written and redirected, even for an empty text.
    Run run{fn, action_name, action_attrs, "", "", nullptr, false};
    bool ok = os_file::write_fresh(files.in.c_str(), xml_in ? xml_in : "", kTempFileMode);
    if (!ok) DIAG_ERROR("%s: ERROR: Failed to create file '%s'", fn, files.in.c_str());
    int code = 0;
    if (ok) {
        run.words = " <" + os_spv::shell_quote(files.in);
        run.plain = " <" + files.in;
        ok = run_script(run, files, code) && read_output(fn, files.out, out_buf);
    }
    delete_temp_files(fn, files);
    DIAG_TRACE(3, "<<< %s, rc = %d", fn, ok ? CM_RC_OK : CM_RC_FAIL);
    return ok ? CM_RC_OK : CM_RC_FAIL;
}

}  // extern "C"
