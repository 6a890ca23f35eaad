/* Agent utilities run through /bin/sh with their standard streams in temporary files
 * (<dir>/PKM_<pid>.tmp.CMD, .STDIN, .STDOUT, .STDERR). Parameter values reach the command as shell
 * words; one run at a time per process, as the names depend only on the process id. The folder
 * may belong to the agent home's owner: each file is made anew, and the command runs with the
 * files opened here as its streams, so no name there is ever run, read or redirected through. */
#include <fcntl.h>
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
#include "os_cli_internal.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_proc.h"
#include "os_spv_internal.h"

namespace {

constexpr int kExeMax = 511;
constexpr int kCmdlineMax = static_cast<int>(sizeof(CMDLINE_D_typ)) - 1;
constexpr const char* kExeKeys[] = {"EXE_DEFAULT", "EXE_DEFAULT_UNIX", "EXE_LINUX"};
constexpr mode_t kTempFileMode = 0644;  // input and output files, as a writing stream makes them
constexpr char kShell[] = "/bin/sh";

// The run holds it across its fork; the child only gets a fresh one.
std::mutex util_mutex;
[[maybe_unused]] const bool util_fork_safe = os_fork::renew_in_child(util_mutex);

// The run's four files in their folder, by name; the folder is held open by descriptor.
struct TempFiles {
    std::string directory;  // as the script and the log name it
    std::string stem;       // PKM_<pid>.tmp.
    int folder = -1;
    std::string name(const char* kind) const { return stem + kind; }
    std::string path(const char* kind) const { return directory + "/" + stem + kind; }
    TempFiles() = default;
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;
    ~TempFiles() {
        if (folder >= 0) close(folder);
    }
};

constexpr const char* kScript = "CMD";
constexpr const char* kInput = "STDIN";
constexpr const char* kOutput = "STDOUT";
constexpr const char* kErrors = "STDERR";
constexpr const char* kKinds[] = {kScript, kInput, kOutput, kErrors};

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
void make_directory(const char* fn, const std::string& dir) {
    DIAG_TRACE(4, "%s: creating directory '%s' with system command '%s'", fn, dir.c_str(),
               "mkdir, chown root, chmod 755");
    os_file::make_dir(dir.c_str(), 0755, 0);
}

// The folder of the run's files, opened as an agent folder (a folder of the home reached through a
// link only when it leads to a folder of the home's owner) and made when missing, and the names.
bool temp_names(const char* fn, TempFiles& files) {
    GM_PARAM_VALUE_typ dir = "";
    if (GM_PARAM_get("OS", "CM_TEMP_SCRIPTS_DIR", dir) == CM_RC_OK && *dir) {
        files.directory = dir;
    } else {
        const char* home = std::getenv("ORVANTA");
        if (!home || !*home) {
            DIAG_ERROR("%s: ERROR: Attribute '%s' is mandatory", fn, "ORVANTA");
            return false;
        }
        files.directory = std::string(home) + "/" + "runtime";
    }
    files.folder = os_file::open_agent_folder(files.directory, true);
    if (files.folder < 0 && errno == ENOENT) {
        make_directory(fn, files.directory);
        files.folder = os_file::open_agent_folder(files.directory, true);
    }
    if (files.folder < 0) {
        const int err = errno;
        DIAG_ERROR("%s: ERROR: Failed to create temporary scripts file names", fn);
        DIAG_ERROR("%s: %s: %s", fn, files.directory.c_str(), os_file::folder_failure_text(err));
        return false;
    }
    files.stem = "PKM_" + std::to_string(getpid()) + ".tmp.";
    return true;
}

void delete_temp_files(const char* fn, const TempFiles& files) {
    GM_PARAM_VALUE_typ keep = "";
    if (files.folder < 0 || GM_PARAM_get("CONFIG", "EXE_UTIL_TEMP_FILES", keep) == CM_RC_OK) return;
    for (const char* kind : kKinds) {
        if (unlinkat(files.folder, files.name(kind).c_str(), 0) != 0 && errno != ENOENT)
            DIAG_ERROR("%s: Failed to delete file '%s', error: '%s'", fn, files.path(kind).c_str(),
                       std::strerror(errno));
    }
}

// A file of the run, made anew in the run's folder (whatever stood at the name is removed, never
// written through) with its content, and when asked opened a second time for reading: only when
// the name still leads to that very file, so that what is read or handed to the utility is never
// a file that the folder's owner put in its place.
struct RunFile {
    int written = -1;
    int reading = -1;
    RunFile() = default;
    RunFile(const RunFile&) = delete;
    RunFile& operator=(const RunFile&) = delete;
    ~RunFile() {
        for (int fd : {written, reading})
            if (fd >= 0) close(fd);
    }

    bool make(const TempFiles& files, const char* kind, mode_t mode, std::string_view content, bool for_reading) {
        const std::string name = files.name(kind);
        written = os_file::create_fresh(name.c_str(), mode, files.folder);
        if (written < 0 || !os_spv::write_all(written, content)) return false;
        if (!for_reading) return true;
        reading = os_file::open_regular_at(files.folder, name.c_str(), O_RDONLY);
        struct stat made, found;
        return reading >= 0 && fstat(written, &made) == 0 && fstat(reading, &found) == 0 &&
               made.st_dev == found.st_dev && made.st_ino == found.st_ino;
    }
};

// Reads a whole output file into a buffer of OS_PROC_OUTPUT_ROOM bytes.
bool read_output(const char* fn, const std::string& path, int fd, char* buffer) {
    if (!buffer) return true;
    std::string content;
    char piece[OS_PROC_OUTPUT_ROOM];
    for (;;) {
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            DIAG_ERROR("%s: ERROR: Failed to read file '%s'", fn, path.c_str());
            return false;
        }
        if (n == 0) break;
        content.append(piece, static_cast<size_t>(n));
        if (content.size() >= OS_PROC_OUTPUT_ROOM - 1) break;
    }
    const size_t length = std::min(content.size(), static_cast<size_t>(OS_PROC_OUTPUT_ROOM - 1));
    std::memcpy(buffer, content.data(), length);
    buffer[length] = '\0';
    return true;
}

struct Run {
    const char* fn = "";
    const char* action = nullptr;
    ZPALIST_handle_typ* attrs = nullptr;
    std::string words = "";            // the arguments as shell words ("" for none)
    std::string plain = "";            // the same arguments as the plain text, for the length limit
    const char* stdin_text = nullptr;  // null: no input file
    bool with_stderr = false;
    char* stdout_buf = nullptr;
    char* stderr_buf = nullptr;
    char* exit_code = nullptr;  // the child's exit status as text, when given
};

// Writes the script and the files of the run and runs the utility; the caller removes the files.
// The script records the command with its redirections; what runs is the command itself, through
// /bin/sh, with the input and output files as its standard streams, opened here: no script and no
// redirection is ever run or opened by its name in a folder that another user may write.
bool run_script(const Run& run, const TempFiles& files) {
    const std::string exe = executable_of(run.fn, run.action, run.attrs);
    const bool with_input = run.stdin_text != nullptr;
    std::string plain = exe + run.plain;
    std::string line = exe + run.words;
    if (with_input) {
        plain += " <" + files.path(kInput);
        line += " <" + os_spv::shell_quote(files.path(kInput));
    }
    plain += " 1>" + files.path(kOutput);
    line += " 1>" + os_spv::shell_quote(files.path(kOutput));
    if (run.with_stderr) {
        plain += " 2>" + files.path(kErrors);
        line += " 2>" + os_spv::shell_quote(files.path(kErrors));
    }
    if (static_cast<int>(plain.size()) > kCmdlineMax) {
        DIAG_ERROR("%s: ERROR: command line longer than %d characters", run.fn, kCmdlineMax);
        return false;
    }
    RunFile input, output, errors, script;
    if (with_input && !input.make(files, kInput, kTempFileMode, run.stdin_text, true)) {
        DIAG_ERROR("%s: ERROR: Failed to create file '%s'", run.fn, files.path(kInput).c_str());
        return false;
    }
    const auto make_output = [&](RunFile& file, const char* kind) {
        if (file.make(files, kind, kTempFileMode, "", true)) return true;
        DIAG_ERROR("%s: ERROR: Failed to create file '%s'", run.fn, files.path(kind).c_str());
        return false;
    };
    if (!make_output(output, kOutput) || (run.with_stderr && !make_output(errors, kErrors))) return false;
    if (!script.make(files, kScript, 0755, "#!/bin/sh\n" + line + "\n", false)) {
        DIAG_ERROR("%s: ERROR: Failed to create script file '%s'", run.fn, files.path(kScript).c_str());
        return false;
    }
    int exit_code = 0;
    char timeout_text[64] = "";
    const int timeout =
        run.attrs && GM_PARAM_list_get(run.attrs, "TIMEOUT", timeout_text, sizeof timeout_text) == CM_RC_OK
            ? std::atoi(timeout_text)
            : 0;
    if (timeout != 0)
        DIAG_TRACE(4, "%s: time out set to %d seconds", run.fn, timeout);
    else
        DIAG_TRACE(4, "%s: Script is executed with no time out", run.fn);
    const int rc = os_cli::run_with_streams(timeout != 0 ? "OS_CLI_exec_wait_timeout" : "OS_CLI_exec_wait_rc",
                                            {kShell, "-c", exe + run.words}, std::max(timeout, 0),
                                            {input.reading, output.written, errors.written}, &exit_code);
    if (rc != CM_RC_OK) {
        DIAG_ERROR("%s: ERROR: Script execution failed, rc = %d", run.fn, rc);
        return false;
    }
    DIAG_TRACE(4, "%s: Script execution completed, exit code is %d", run.fn, exit_code);
    if (run.exit_code) std::snprintf(run.exit_code, OS_PROC_EXIT_CODE_ROOM, "%d", exit_code);
    return read_output(run.fn, files.path(kOutput), output.reading, run.stdout_buf) &&
           (!run.with_stderr || read_output(run.fn, files.path(kErrors), errors.reading, run.stderr_buf));
}

// One run at a time per process: the folder and the names, the run, the files removed.
CM_RC run_utility(const Run& run) {
    std::lock_guard<std::mutex> one_run(util_mutex);
    TempFiles files;
    const bool ok = temp_names(run.fn, files) && run_script(run, files);
    delete_temp_files(run.fn, files);
    DIAG_TRACE(3, "<<< %s, rc = %d", run.fn, ok ? CM_RC_OK : CM_RC_FAIL);
    return ok ? CM_RC_OK : CM_RC_FAIL;
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
    const char* input = stdin_text && *stdin_text ? stdin_text : nullptr;
    Run run{.fn = fn,
            .action = action_name,
            .attrs = action_attrs,
            .stdin_text = input,
            .with_stderr = true,
            .stdout_buf = stdout_buf,
            .stderr_buf = stderr_buf,
            .exit_code = exit_code};
    for (const std::string& value : values) {
        run.plain += " " + value;
        const std::string words = os_spv::shell_words(value);
        if (!words.empty()) run.words += " " + words;
    }
    return run_utility(run);
}

CM_RC OS_PROC_exec_util_with_xml(const char* action_name, ZPALIST_handle_typ* action_attrs, const char* xml_in,
                                 char* out_buf) {
    // The input file is always written and redirected, even for an empty text.
    const Run run{.fn = "OS_PROC_exec_util_with_xml",
                  .action = action_name,
                  .attrs = action_attrs,
                  .stdin_text = xml_in ? xml_in : "",
                  .with_stderr = false,
                  .stdout_buf = out_buf};
    DIAG_TRACE(3, ">>> %s", run.fn);
    return run_utility(run);
}

}  // extern "C"
