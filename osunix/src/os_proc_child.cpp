/* Child processes of the agent: starts of its long-running processes and tracker workers, stops
 * and restarts through its scripts, forked workers, machine details from the cpu-specs script,
 * the agent owner, the locale list and the core-file housekeeping. */
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gm_param.h"
#include "gm_time.h"
#include "os_comm.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"
#include "os_proc.h"
#include "os_proc_internal.h"
#include "os_spv.h"
#include "os_spv_internal.h"

namespace {

constexpr int kMachineTextMax = static_cast<int>(sizeof(ORV_MACHINE_TEXT_typ)) - 1;
constexpr unsigned kRestartPause = 30;
constexpr size_t kLocaleLineMax = 499;
constexpr char kLocaleCommand[] =
    "locale -a | egrep -i  '((^(en)|^(de)|^(fr)|^(es))_((us)|(gb)|(de)|(fr)|(es)).iso8859-?1$)|(^(en)_((us$)|(gb$)))|"
    "^(german)$|^(french)$|^(spanish)$|^(POSIX)'";

struct StartedProcess {
    int type;
    const char* code;        // process code of the program p_orv<code>
    const char* start_name;  // in "starting %s process"
    const char* run_name;    // in "%s process already running."
};

constexpr StartedProcess kStarted[] = {
    {OS_PROC_TYPE_AG, "AG", "AG", "AG"},
    {OS_PROC_TYPE_AT, "AT", "AT", "AT"},
    {OS_PROC_TYPE_AR, "AR", "AR", "AR"},
    {OS_PROC_TYPE_RL, "RU", "RL", "RU"},
};

// The CONFIG value AGENT_DIR without surrounding blanks, with a trailing "/"; "" when absent.
std::string agent_dir_with_slash() {
    GM_PARAM_VALUE_typ value = "";
    if (GM_PARAM_get("CONFIG", "AGENT_DIR", value) != CM_RC_OK) return "";
    std::string dir = os_spv::trimmed(value);
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

// Runs an agent script with its arguments as shell words, through the shell.
int run_agent_script(const std::string& script, const std::vector<std::string>& args) {
    std::string command = script;
    for (const std::string& arg : args) command.append(" ").append(os_spv::shell_quote(arg));
    std::string shell = "/bin/sh", option = "-c";
    char* argv[] = {shell.data(), option.data(), command.data(), nullptr};
    return OS_SPV_run_cmd(argv, -1);
}

void put_text(char* out, std::string_view text) {
    const size_t n = std::min(text.size(), static_cast<size_t>(kMachineTextMax));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// The owner of the agent home ("."): name, user and primary group from the user database;
// nothing when it cannot be told (both failures logged).
struct HomeOwner {
    std::string name;
    uid_t uid;
    gid_t gid;
};
std::optional<HomeOwner> home_owner(const char* fn) {
    struct stat status;
    if (stat(".", &status) != 0) {
        DIAG_ERROR("%s: stat failed. errno: %d.", fn, errno);
        return std::nullopt;
    }
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(status.st_uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        DIAG_ERROR("%s: getpwuid has failed errno=%d", fn, errno);
        return std::nullopt;
    }
    return HomeOwner{found->pw_name, found->pw_uid, found->pw_gid};
}

// The cpu-specs script is written into ./temp and run by its path: text that the home's owner can
// write (it comes from the data folder), so when this process is root in a home of another user,
// the script is given to that user and runs with that user's rights only.
struct CpuSpecsRun {
    std::optional<os_spv::Identity> as;
    bool ready = true;

    explicit CpuSpecsRun(const char* fn) {
        if (geteuid() != 0) return;
        const std::optional<HomeOwner> owner = home_owner(fn);
        if (!owner)
            ready = false;
        else if (owner->uid != 0)
            as = os_spv::Identity{owner->uid, owner->gid};
    }
};

// Writes the script into the folder open at dir_fd, for the one who runs it; false when it cannot
// be written whole (nothing is left then).
bool write_cpu_specs_script(int dir_fd, const std::string& name, const CpuSpecsRun& run) {
    const char* specs = OS_PROC_getCpuSpecsBuffer();
    const int fd = os_file::create_fresh(name.c_str(), 0700, dir_fd);
    if (fd < 0) return false;
    bool written = os_spv::write_all(fd, std::string_view(specs, strnlen(specs, OS_PROC_CPU_SPECS_ROOM)));
    if (written && run.as) written = fchown(fd, run.as->uid, run.as->gid) == 0;
    if (close(fd) == 0 && written) return true;
    unlinkat(dir_fd, name.c_str(), 0);
    return false;
}

}  // namespace

extern "C" {

CM_RC OS_PROC_start_process(int proc_type) {
    static const char* const fn = "OS_PROC_start_process";
    if (proc_type == OS_PROC_TYPE_NAMED) return CM_RC_OK;
    if (proc_type == 1 || proc_type == 3) return CM_RC_NO_LOCK_TYPE;
    for (const StartedProcess& process : kStarted) {
        if (process.type != proc_type) continue;
        if (OS_PROC_check_lock(proc_type, 0, 0, nullptr) == CM_RC_LOCK_HELD) {
            DIAG_TRACE(3, "%s: %s process already running.", fn, process.run_name);
            return CM_RC_LOCK_HELD;
        }
        DIAG_TRACE(1, "%s: starting %s process ...", fn, process.start_name);
        char pid[OS_SPV_PROCID_ROOM] = "";
        return OS_SPV_run(process.code, "ORV", pid);
    }
    return CM_RC_FAIL;
}

CM_RC OS_PROC_start_tracker_worker(const char* worker_name) {
    static const char* const fn = "OS_PROC_start_tracker_worker";
    if (!worker_name || !*worker_name || std::strchr(worker_name, '/')) {
        DIAG_ERROR("%s: invalid worker name '%s'", fn, worker_name ? worker_name : "(null)");
        return CM_RC_FAIL;
    }
    if (OS_PROC_check_lock(OS_PROC_TYPE_NAMED, 0, 0, worker_name) == CM_RC_LOCK_HELD) {
        DIAG_ERROR("%s: track worker '%s' is already running", fn, worker_name);
        return CM_RC_LOCK_HELD;
    }
    const std::string dir = agent_dir_with_slash();
    if (dir.empty()) {
        DIAG_ERROR("%s: Failed to get agent directory from configuration", fn);
        return CM_RC_FAIL;
    }
    const std::string program = dir + "exe/" + "p_orvatw";
    char option[64];
    std::snprintf(option, sizeof option, "-%s", "ATW_NAME");
    std::string name = worker_name;
    char* params[] = {option, name.data()};
    char pid[OS_SPV_PROCID_ROOM] = "";
    if (OS_SPV_run_params(program.c_str(), "ORV", worker_name, 2, params, pid, 0) != CM_RC_OK) {
        DIAG_ERROR("%s: *** OS_SPV_run_params FAILED to start '%s' ***", fn, program.c_str());
        return CM_RC_FAIL;
    }
    DIAG_TRACE(3, "%s: track worker '%s' started with pid = %s", fn, worker_name, pid);
    return CM_RC_OK;
}

int OS_PROC_is_running(int proc_type) {
    static const char* const fn = "OS_PROC_is_running";
    if (proc_type != OS_PROC_TYPE_WK) {
        DIAG_ERROR("%s: unsupported proc_type = %d", fn, proc_type);
        return -1;
    }
    if (OS_PROC_check_lock(proc_type, 0, 0, nullptr) == CM_RC_LOCK_HELD) {
        DIAG_TRACE(4, "%s: WK process is already running", fn);
        return 1;
    }
    DIAG_TRACE(4, "%s: WK process is NOT running", fn);
    return 0;
}

CM_RC OS_PROC_stop_process(int) { return CM_RC_OK; }

CM_RC os_proc_shut_by_name(const char* proc_code, const char* user_name) {
    static const char* const fn = "os_proc_shut_by_name";
    if (!proc_code || !user_name) return CM_RC_FAIL;
    const int status = run_agent_script("./scripts/shut-ag", {"-u", user_name, "-p", proc_code});
    if (status != 0) {
        DIAG_ERROR("%s: system for SHUT-AG has failed with %d", fn, status);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_PROC_autorestart(int start, void*) {
    static const char* const fn = "OS_PROC_autorestart";
    std::string user;
    CM_RC rc = CM_RC_FAIL;
    if (const std::optional<HomeOwner> owner = home_owner(fn)) {
        user = owner->name;
        if (start) {
            if (os_proc_shut_by_name("AR", user.c_str()) == CM_RC_OK) {
                OS_TIME_sleep(kRestartPause);
                const int status = run_agent_script("./scripts/start-ag", {"-u", user, "-p", "ALL"});
                if (status == 0)
                    rc = CM_RC_OK;
                else
                    DIAG_ERROR("%s: system for START-AG has failed with: %d", fn, status);
            }
        } else {
            const CM_RC tracker = os_proc_shut_by_name("AT", user.c_str());
            const CM_RC agent = os_proc_shut_by_name("AG", user.c_str());
            rc = tracker == CM_RC_OK && agent == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
        }
    }
    DIAG_TRACE(4, "%s: exit with: %d", fn, rc);
    return rc;
}

CM_RC OS_PROC_fork(OS_PROC_FORK_DATA* data, OS_PROC_FORK_FUNC func, const char*) {
    static const char* const fn = "OS_PROC_fork";
    std::unique_ptr<OS_PROC_FORK_DATA, void (*)(void*)> copy(nullptr, std::free);
    if (data) {
        copy.reset(static_cast<OS_PROC_FORK_DATA*>(std::calloc(1, sizeof(OS_PROC_FORK_DATA))));
        if (!copy) {
            DIAG_ERROR("%s calloc failed to allocate memory", fn);
            return CM_RC_FAIL;
        }
        std::memcpy(copy.get(), data, sizeof(OS_PROC_FORK_DATA));
    }
    const pid_t pid = fork();
    if (pid < 0) {
        DIAG_TRACE(1, "%s: failed to fork: %s", fn, std::strerror(errno));
        return CM_RC_FAIL;
    }
    if (pid == 0) {
        OS_COMM_shut(nullptr);
        DIAG_TRACE(4, "%s: child calling function", fn);
        if (func) func(copy.get());
        std::fflush(nullptr);
        _exit(0);
    }
    DIAG_TRACE(4, "%s: fork OK, pid = %d", fn, static_cast<int>(pid));
    return CM_RC_OK;
}

CM_RC OS_PROC_gather_machine_details(ORV_MACHINE_INFO_typ* info) {
    static const char* const fn = "OS_PROC_gather_machine_details";
    if (!info) return CM_RC_FAIL;
    put_text(info->platform, "Unix");
    char script[128];
    std::snprintf(script, sizeof script, "%s/get_cpu_specs_%d.sh", "./temp", static_cast<int>(getpid()));
    const std::string script_name = std::strrchr(script, '/') + 1;
    const CpuSpecsRun run(fn);
    const os_file::Descriptor temp(run.ready ? os_file::open_agent_folder("./temp", true) : -1);
    if (temp.fd < 0 || !write_cpu_specs_script(temp.fd, script_name, run)) {
        DIAG_ERROR("%s: Failed to write script %s", fn, script);
        return CM_RC_FAIL;
    }
    std::string output;
    const std::optional<int> status = os_spv::run_capture({"/bin/sh", "-c", script}, false, output, run.as);
    unlinkat(temp.fd, script_name.c_str(), 0);
    if (!status) {
        DIAG_ERROR("%s: Failed to open pipe", fn);
        return CM_RC_FAIL;
    }
    for (std::string_view line : os_proc::read_lines(output, output.size())) {
        if (line.starts_with("OS = "))
            put_text(info->osType, line.substr(5));
        else if (line.starts_with("VERSION = "))
            put_text(info->osVersion, line.substr(10));
        else if (line.starts_with("CPU = "))
            put_text(info->cpuArcType, line.substr(6));
        else if (line.starts_with("Number of CPUs = "))
            std::sscanf(std::string(line).c_str(), "Number of CPUs = %d", &info->numOfProcessors);
        else if (line.starts_with("Number of CPU Sockets = "))
            std::sscanf(std::string(line).c_str(), "Number of CPU Sockets = %d", &info->numOfProcessorSockets);
    }
    DIAG_TRACE(1, "%s: machine details are: %d processor sockets , %d processors of %s architecture on %s %s", fn,
               info->numOfProcessorSockets, info->numOfProcessors, info->cpuArcType, info->osType, info->osVersion);
    GM_PARAM_VALUE_typ name = "";
    if (GM_PARAM_get("CONFIG", "LOGICAL_AGENT_NAME", name) == CM_RC_OK) {
        put_text(info->host, name);
    } else {
        char host[sizeof(ORV_MACHINE_TEXT_typ)] = "";
        OS_COMM_hostname(host, sizeof host);
        put_text(info->host, host);
    }
    return CM_RC_OK;
}

void OS_PROC_getAgentOwner(char* owner) {
    static const char* const fn = "OS_PROC_getAgentOwner";
    if (!owner) return;
    std::string name;
    if (getuid() == 0) {
        name = "root";
    } else if (const std::optional<HomeOwner> found = home_owner(fn)) {
        name = found->name;
        DIAG_TRACE(4, "%s: agent owner - '%s'", fn, name.c_str());
    } else {
        name = "Unknown";
    }
    std::snprintf(owner, sizeof(USERNAME_D_typ), "%s", name.c_str());
}

CM_RC OS_PROC_get_locale_list(char* xml_outbuf) {
    static const char* const fn = "OS_PROC_get_locale_list";
    if (!xml_outbuf) return CM_RC_FAIL;
    // Elements are appended while they fit whole into the buffer's room.
    size_t length = strnlen(xml_outbuf, OS_PROC_OUTPUT_ROOM - 1);
    const auto append = [&](const std::string& name) {
        const std::string element = "<locale>" + name + "</locale>";
        if (length + element.size() >= OS_PROC_OUTPUT_ROOM) return;
        std::memcpy(xml_outbuf + length, element.c_str(), element.size() + 1);
        length += element.size();
    };
    append("C");
    std::string output;
    const std::optional<int> status = os_spv::run_capture({"/bin/sh", "-c", kLocaleCommand}, false, output);
    if (!status) {
        DIAG_TRACE(3, "unable to perform POPEN()");
        return CM_RC_FAIL;
    }
    for (std::string_view line : os_proc::read_lines(output, kLocaleLineMax)) {
        const std::string name(line);
        if (name.empty()) continue;
        DIAG_TRACE(4, "%s: adding '%s' locale", fn, name.c_str());
        append(name);
    }
    return CM_RC_OK;
}

// The core file is moved by descriptors: into the log folder as walked for the home (a link there
// leads only to a folder of the home's owner), never through a link to another user's folder.
void OS_PROC_housekeeping(void) {
    const std::string dir = agent_dir_with_slash();
    if (dir.empty()) return;
    const std::string core = dir + "core";
    if (access(core.c_str(), F_OK) != 0) return;
    DATETIME_D_typ stamp = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, stamp);
    const std::string moved = dir + "proclog/core_" + stamp;
    const os_file::Descriptor from(os_file::open_agent_folder(dir, true));
    const os_file::Descriptor to(os_file::open_agent_folder(dir + "proclog", true));
    if (from.fd < 0 || to.fd < 0 || renameat(from.fd, "core", to.fd, moved.substr(moved.rfind('/') + 1).c_str()) != 0)
        DIAG_ERROR("%s: failed to move %s to %s: %s", "OS_PROC_housekeeping", core.c_str(), moved.c_str(),
                   os_file::folder_failure_text(errno));
}

void OS_PROC_newday_clean_up(void) { DIAG_TRACE(4, "%s exit with: %d", "OS_PROC_newday_clean_up", CM_RC_FAIL); }

}  // extern "C"
