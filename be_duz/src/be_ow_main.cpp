/* Entry of the alert watcher p_orvoebs: start-up as process "orvoebs", the single-instance check,
 * SIGINT and SIGTERM routed to the shutdown handler, then the watcher's loop until it ends. */
#include <csignal>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "be_ow.h"
#include "os_diag.h"
#include "os_proc.h"

int main(int argc, char** argv) {
    if (OS_PROC_init(const_cast<char*>("orvoebs"), 0, nullptr) != CM_RC_OK) OS_PROC_exit(1);
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
