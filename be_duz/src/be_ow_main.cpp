/* Entry of the alert watcher p_orvoebs: the command line (no arguments; --help or -h prints the
 * usage), start-up as process "orvoebs", the single-instance check, SIGINT and SIGTERM routed to
 * the shutdown handler, then the watcher's loop until it ends. */
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "be_ow.h"
#include "gm_param.h"
#include "os_diag.h"
#include "os_proc.h"

namespace {

constexpr char kUsage[] =
    "usage: p_orvoebs [--help]\n"
    "Runs the alert watcher in the agent home named by ORVANTA until SIGTERM or SIGINT.\n";

// Why the configuration table file cannot be loaded, as far as the file itself tells.
std::string table_file_problem(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return "its rows cannot be read";
}

// A start-up that failed in the home on its configuration table says so with the table's file on
// standard error and in the log; the other failures of start-up have said why already.
void report_failed_start() {
    if (*OS_PROC_name() == '\0') return;  // the home was not reached
    const char* table = OS_PROC_config_file();
    const CM_RC loaded = GM_PARAM_load(table, 0);
    if (loaded == CM_RC_OK || loaded == CM_RC_END) return;
    char home[PATH_MAX] = "";
    if (getcwd(home, sizeof home) == nullptr) return;
    const std::string path = std::string(home) + "/data/" + table + ".dat";
    const std::string problem = table_file_problem(path);
    DIAG_ERROR("Cannot load the configuration table %s: %s", path.c_str(), problem.c_str());
    std::fprintf(stderr, "orvoebs: cannot load the configuration table %s: %s\n", path.c_str(), problem.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string first = argv[1];
        const bool asks_help = first == "--help" || first == "-h";
        if (asks_help && argc == 2) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // The first argument that is not the one asked for help.
        std::fprintf(stderr, "p_orvoebs: unexpected argument '%s'\n%s", argv[asks_help ? 2 : 1], kUsage);
        return 2;
    }
    if (OS_PROC_init(const_cast<char*>("orvoebs"), 0, nullptr) != CM_RC_OK) {
        report_failed_start();
        OS_PROC_exit(1);
    }
    if (anoter_OEBS_Watcher_running()) {
        DIAG_ERROR("Another OEBS Watcher is running. Exiting.");
        OS_PROC_exit(1);
    }
    std::signal(SIGINT, OS_proc_shutdown_signal);
    std::signal(SIGTERM, OS_proc_shutdown_signal);
    OEBS_WATCHER_MAIN(argc, argv);
#if defined(__SANITIZE_ADDRESS__)
    /* Sanitizer builds: the process ends without running exit handlers, so the leak check that
     * would find a list never released runs here; a leak ends the run with its own status. */
    if (__lsan_do_recoverable_leak_check() != 0) OS_PROC_exit(23);
#endif
    OS_PROC_exit(OW_MAIN_exit_status());
}
