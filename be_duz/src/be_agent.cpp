// What the plug-in asks of the agent: one value from an agent utility's output (the utility runs
// as a child process without a shell, its output read through a pipe; lines carrying secrets are
// never traced), the agent home directory, and the OEBS accounts, loaded from the accounts file or
// from a central profile's cache file. Also the plug-in's one runner of child processes
// (be_child::run).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "be_child_internal.h"
#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_lib.h"
#include "os_logical_internal.h"

extern char** environ;

namespace {

// One utility run: the program, its arguments and whether its error output joins the pipe.
struct UtilityCall {
    std::vector<std::string> words;  // words[0] is the program
    bool merge_stderr = false;
};

// Splits a command line at blanks and tabs. No shell reads it: quotes, '$', ';', '|', '`' and the
// like are plain characters. The one redirection the callers use, "2>& 1" (or "2>&1"), asks for
// the error output in the pipe.
UtilityCall split_command_line(const std::string& line) {
    UtilityCall call;
    std::vector<std::string> words;
    std::size_t pos = 0;
    while ((pos = line.find_first_not_of(" \t\n", pos)) != std::string::npos) {
        std::size_t end = line.find_first_of(" \t\n", pos);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "2>&1") {
            call.merge_stderr = true;
        } else if (words[i] == "2>&" && i + 1 < words.size() && words[i + 1] == "1") {
            call.merge_stderr = true;
            ++i;
        } else {
            call.words.push_back(words[i]);
        }
    }
    return call;
}

// The command line for logs and error texts. The word after "-TOKEN" is a credential of the
// profile service (the encrypted token) and is shown masked.
std::string describe(const UtilityCall& call) {
    std::string text;
    bool secret = false;
    for (const std::string& w : call.words) {
        if (!text.empty()) text += ' ';
        text += secret ? std::string("********") : w;
        secret = w == "-TOKEN";
    }
    return text;
}

// Utilities whose output is itself a secret: the profile utility hands out an account with its
// password (encrypted, but never for the log).
constexpr const char* kSecretOutputUtilities[] = {"orvgetccp"};

// Starts the utility with its standard output (and, when asked, its error output) on a pipe and
// reads it line by line until a line holds key. 0 found, 3 not found, 1 not started.
// shown is the command line for messages, command the caller's command text.
ZPARC run_utility(const UtilityCall& call, const std::string& shown, const char* command, const char* key, char* outBuf,
                  ZPAError* Error) {
    if (call.words.empty()) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", shown.c_str());
        return ZPA_FAIL;
    }
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", shown.c_str());
        return ZPA_FAIL;
    }
    std::vector<char*> argv;
    for (const std::string& w : call.words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    if (call.merge_stderr) posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    pid_t pid = -1;
    int spawn_error = 0;
    {
        // Another thread may be setting a variable (a connection's Oracle settings): the child's
        // environment is read under the same lock.
        std::lock_guard<std::recursive_mutex> environment(os_logical::environment_lock());
        spawn_error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawn_error != 0) {
        ::close(pipe_fds[0]);
        BE_TRACE(4, "cannot start '%s': %s", argv[0], std::strerror(spawn_error));
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", shown.c_str());
        return ZPA_FAIL;
    }

    bool found = false;
    std::string value;
    if (FILE* output = fdopen(pipe_fds[0], "r")) {
        char line[BE_DUZ_UTIL_LINE_SIZE];
        while (!found && std::fgets(line, sizeof line, output)) {
            if (be_utility_output_loggable(call.words.front().c_str(), line)) BE_TRACE(5, "%s", line);
            found = be_utility_output_value(line, key, value);
        }
        std::fclose(output);  // a utility still writing gets SIGPIPE, as with a closed pipe
    } else {
        ::close(pipe_fds[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) BE_TRACE(4, "'%s' ended with status %d", shown.c_str(), status);

    if (!found) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not find key '%s' in %s output", key, command);
        return ZPA_NOT_FOUND;
    }
    std::snprintf(outBuf, BE_DUZ_UTIL_VALUE_SIZE, "%s", value.c_str());
    return ZPA_SUCCESS;
}

// The name under which the agent registered this process, learnt once from the agent's
// OS-services library, which then stays attached. Empty until learnt.
std::mutex proc_name_mutex;
char proc_name_cache[BE_DUZ_PROC_NAME_SIZE] = "";

void learn_proc_name() {
    char library[64];
    std::snprintf(library, sizeof library, "./exe/libQELOS.%s", "so");
    char error_text[OS_LIB_ERROR_LEN] = "";
    void* handle = nullptr;
    if (OS_LIB_attach(&handle, library, error_text) != CM_RC_OK) {
        BE_TRACE(4, "Failed to attach '%s' library \n", library);
        return;
    }
    OS_LIB_funcptr_typ function = nullptr;
    if (OS_LIB_resolve_function(handle, "OS_PROC_name", &function, error_text) != CM_RC_OK || !function) {
        BE_TRACE(4, "Failed to resolve %s function \n", "OS_PROC_name");
        return;
    }
    const char* name = reinterpret_cast<char* (*)(void)>(function)();
    std::snprintf(proc_name_cache, sizeof proc_name_cache, "%s", name ? name : "");
}

}  // namespace

extern "C" {

void BE_DUZ_get_proc_name(char* out_procname) {
    if (!out_procname) return;
    std::lock_guard<std::mutex> lock(proc_name_mutex);
    if (proc_name_cache[0] == '\0') learn_proc_name();
    std::snprintf(out_procname, BE_DUZ_PROC_NAME_SIZE, "%s", proc_name_cache);
    BE_TRACE(4, "Current process name: %s", out_procname);
}

ZPARC BE_DUZ_get_agent_util_info(const char* command, const char* args, const char* key, char* outBuf,
                                 ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_agent_util_info");
    char line[BE_DUZ_UTIL_CMD_SIZE];
    std::snprintf(line, sizeof line, "%s %s", command ? command : "", args ? args : "");
    if (!command || !key || !outBuf) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", line);
        return ZPA_FAIL;
    }
    BE_TRACE(4, "command: %s", line);
    try {
        return run_utility(split_command_line(line), line, command, key, outBuf, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", line);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_get_agent_util_info_argv(const char* command, const char* const* argv, int merge_stderr, const char* key,
                                      char* outBuf, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_agent_util_info_argv");
    if (!command || !key || !outBuf) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", command ? command : "");
        return ZPA_FAIL;
    }
    try {
        UtilityCall call;
        call.words.push_back(command);
        for (const char* const* a = argv; a && *a; ++a) call.words.push_back(*a);
        call.merge_stderr = merge_stderr != 0;
        const std::string shown = describe(call);
        BE_TRACE(4, "command: %s", shown.c_str());
        return run_utility(call, shown, command, key, outBuf, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error opening pipe for command %s", command);
        return ZPA_FAIL;
    }
}

CM_RC BE_DUZ_get_agent_dir(char* agent_dir) {
    if (!agent_dir) return CM_RC_FAIL;
    const char* home = std::getenv("ORVANTA");
    if (!home) {
        BE_TRACE(2, "Cannot get ORVANTA environment variable\n");
        return CM_RC_FAIL;
    }
    std::snprintf(agent_dir, sizeof(PATHNAME_D_typ), "%s", home);
    return CM_RC_OK;
}

CM_RC BE_DUZ_subtable_list_clear(ZPALIST_handle_typ* list) {
    if (!list || list->first == nullptr) return CM_RC_OK;
    const CM_RC rc = GM_PARAM_subtable_list_clear(list);
    return rc == CM_RC_END ? CM_RC_OK : rc;
}

ZPARC BE_DUZ_load_account_from_file(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList,
                                    const char* instName, const char* accountFileName) {
    static constexpr const char* fn = "BE_DUZ_load_account_from_file";
    if (!allInstsList || !instList || !instName || !accountFileName) return 1;
    BE_DUZ_subtable_list_clear(allInstsList);  // a list reused from an earlier load is not leaked
    if (GM_PARAM_subtable_load_file(allInstsList, accountFileName) != CM_RC_OK) {
        BE_TRACE(4, "%s: Failed to load account file '%s'", fn, accountFileName);
        BE_DUZ_subtable_list_clear(allInstsList);
        return 1;
    }
    if (GM_PARAM_subtable_list_find(allInstsList, instName, instList) != CM_RC_OK) {
        BE_TRACE(4, "%s: Failed to find account '%s' in file %s", fn, instName, accountFileName);
        BE_DUZ_subtable_list_clear(allInstsList);
        return 3;
    }
    return 0;
}

ZPARC BE_DUZ_load_LCP_from_File(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList, const char* instName) {
    char path[64];
    std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    return BE_DUZ_load_account_from_file(allInstsList, instList, instName, path);
}

ZPARC BE_DUZ_load_CCP_from_file(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList, const char* ccpName,
                                ZPAAttrList* Attributes, const char* reqType, ZPAError* Error) {
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    PATHNAME_D_typ path = "";
    if (BE_DUZ_create_ccp_cache_file_name(reqType, ccpName, name, Attributes, Error) != 0 ||
        BE_DUZ_full_ccp_file_path(name, path) != 0) {
        BE_DUZ_subtable_list_clear(allInstsList);
        return 1;
    }
    return BE_DUZ_load_account_from_file(allInstsList, instList, ccpName, path);
}

int BE_DUZ_clean_ccp_cache_file(ZPAAttrList* Attributes, ZPAError* Error) {
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    PATHNAME_D_typ path = "";
    ZPARC rc = BE_DUZ_create_ccp_cache_file_name("TRACK", "", name, Attributes, Error);
    if (rc != 0) return rc;
    rc = BE_DUZ_full_ccp_file_path(name, path);
    if (rc != 0) return rc;
    const CM_RC deleted = OS_FILE_delete(path);
    BE_TRACE(4, "BE_DUZ_clean_ccp_cache_file: '%s' %s", path, deleted == CM_RC_OK ? "deleted" : "not deleted");
    return deleted == CM_RC_OK ? 0 : deleted;
}

void RemoveSpecialChars(char* value) {
    if (!value || !*value) return;
    BE_TRACE(4, "in value=%s", value);
    char* out = value;
    for (const char* in = value; *in; ++in)
        if (*in != '\x02') *out++ = *in;
    *out = '\0';
    BE_TRACE(4, "out value=%s", value);
}

}  // extern "C"

be_account_rows::~be_account_rows() { BE_DUZ_subtable_list_clear(&all_); }

ZPARC be_account_rows::load(const char* account, ZPAAttrList* request, const char* req_type, ZPAError* Error) {
    BE_DUZ_subtable_list_clear(&all_);
    section_ = nullptr;
    if (!account) return 1;
    ZPARC rc = BE_DUZ_load_LCP_from_File(&all_, &section_, account);
    if (rc != 0) rc = BE_DUZ_load_CCP_from_file(&all_, &section_, account, request, req_type, Error);
    if (rc == 0 && section_ == nullptr) rc = 1;
    if (rc != 0) section_ = nullptr;
    return rc;
}

bool be_account_rows::get(const char* key, std::string* value) const {
    char* found = nullptr;
    if (!section_ || !key || GM_PARAM_list_get_ptr(section_, key, &found) != CM_RC_OK || !found) return false;
    if (value) *value = found;
    return true;
}

bool be_utility_output_value(const char* piece, const char* key, std::string& value) {
    if (!piece || !key || !std::strstr(piece, key)) return false;
    // The text after the first ':' with the run of blanks and colons that follows skipped, without
    // the final newline; empty when the line has no ':'.
    value.clear();
    const char* colon = std::strchr(piece, ':');
    if (!colon) return true;
    const char* p = colon + 1;
    while (*p == ' ' || *p == ':') ++p;
    value = p;
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return true;
}

bool be_utility_output_loggable(const char* program, const char* piece) {
    if (!program || !piece) return false;
    const char* slash = std::strrchr(program, '/');
    const char* name = slash ? slash + 1 : program;
    for (const char* secret : kSecretOutputUtilities)
        if (std::strcmp(name, secret) == 0) return false;
    const char* colon = std::strchr(piece, ':');
    if (!colon) return true;
    // The label: the text before the ':' without blanks, tabs and quotes around it.
    const char* begin = piece;
    const char* end = colon;
    auto framing = [](char c) { return c == ' ' || c == '\t' || c == '"'; };
    while (begin < end && framing(*begin)) ++begin;
    while (end > begin && framing(end[-1])) --end;
    char label[sizeof(GM_PARAM_KEY_typ)];
    const std::size_t length = std::min(static_cast<std::size_t>(end - begin), sizeof label - 1);
    std::memcpy(label, begin, length);
    label[length] = '\0';
    return !gm_param::is_secret_key(label);
}

// ------------------------------------------------------------------------------------------------
// The child-process runner

namespace be_child {

namespace {

constexpr mode_t kOutputFileMode = 0644;

/* The child's environment: the process's, with the command's variables replaced or added. */
std::vector<std::string> child_environment(const Command& command) {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name = eq != nullptr ? std::string(*e, static_cast<std::size_t>(eq - *e)) : std::string(*e);
        bool replaced = false;
        for (const auto& [n, v] : command.environment) replaced = replaced || n == name;
        if (!replaced) entries.emplace_back(*e);
    }
    for (const auto& [n, v] : command.environment) entries.push_back(n + "=" + v);
    return entries;
}

/* The output file, opened here rather than in the child so that a link at its name is never
 * followed: a file the run makes for itself is made anew, one it adds to is opened without
 * following a link (a link there fails the run). The descriptor, or -1 with errno. */
int open_output(const Command& command) {
    const char* path = command.output.c_str();
    return command.append ? os_file::open_regular(path, O_WRONLY | O_CREAT | O_APPEND, kOutputFileMode)
                          : os_file::create_fresh(path, kOutputFileMode);
}

/* Writes the whole text into the pipe; a reader that left early is no failure of the caller and
 * must not end the process with SIGPIPE. */
void write_input(int fd, const std::string& text) {
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
    bool broken = false;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            broken = errno == EPIPE;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (broken && !was_pending) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe_signal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

bool Result::exited() const { return started && waited && WIFEXITED(status); }
int Result::exit_code() const { return exited() ? WEXITSTATUS(status) : -1; }
bool Result::signalled() const { return started && waited && (WIFSIGNALED(status) || WIFSTOPPED(status)); }

std::string describe(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

Result run(const Command& command) {
    Result result;
    if (command.argv.empty()) {
        result.error = EINVAL;
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& w : command.argv) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment = child_environment(command);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    const int output = command.output.empty() ? -1 : open_output(command);
    if (!command.output.empty() && output < 0) {
        result.error = errno;
        result.output_failed = true;
        return result;
    }
    int input_pipe[2] = {-1, -1};
    if (command.input != nullptr && pipe2(input_pipe, O_CLOEXEC) != 0) {
        result.error = errno;
        if (output >= 0) ::close(output);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (command.input != nullptr) posix_spawn_file_actions_adddup2(&actions, input_pipe[0], 0);
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    const std::string& program = command.program.empty() ? command.argv[0] : command.program;
    pid_t pid = -1;
    const int spawned = program.find('/') == std::string::npos
                            ? posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data())
                            : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (output >= 0) ::close(output);
    if (command.input != nullptr) ::close(input_pipe[0]);
    if (spawned != 0) {
        if (command.input != nullptr) ::close(input_pipe[1]);
        result.error = spawned;
        return result;
    }
    result.started = true;
    if (command.input != nullptr) {
        write_input(input_pipe[1], *command.input);
        ::close(input_pipe[1]);
    }
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited < 0) {
        result.error = errno;
        return result;
    }
    result.waited = true;
    result.status = status;
    return result;
}

}  // namespace be_child
