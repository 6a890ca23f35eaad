/* Start and end of the security library (the text layer and the module cache, counted), and the
 * security log as callers open it: refused when its path is a symbolic link. */
#include "ess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ess_catalog_internal.h"
#include "ess_str_utils.h"
#include "globalchelper.h"
#include "qel_module.h"
#include "qel_module_internal.h"

namespace {

/* The path part of a log argument (path[,permissions]) as New_BCM_Log will use it. */
std::string log_path_of(const char* spec) {
    std::string path(spec, std::strcspn(spec, ","));
    while (path.size() > 1 && std::isspace(static_cast<unsigned char>(path.back()))) path.pop_back();
    return path;
}

}  // namespace

extern "C" {

int ESS_Init(void) {
    EssGlobalcInit();  // without a globalization table this only sets the output stream
    return QEL_Module_Init();
}

int ESS_End(void) {
    const int rc = QEL_Module_End();
    if (rc == 0 && qel_module::start_count() == 0) EssGlobalcTerminate();
    return rc;
}

ESS_Log* ESS_SetLogFile(char* file, char* error, int len) {
    /* A planted link is refused before anything is opened, created or changed; the open itself
     * does not follow a link either, so one planted after this check fails to open. */
    if (file && *file) {
        const std::string path = log_path_of(file);
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (error && len > 0) EssGlobalcUtf8Sprintf(error, len, ESS_MSG(ess_catalog::kLogLink), path.c_str());
            return nullptr;
        }
    }
    ESS_Log* log = New_BCM_Log(file, "a");
    if (!log) {
        if (error && len > 0) ess_strncpy(error, ess_catalog::text(ess_catalog::kLogInit).c_str(), len);
        return nullptr;
    }
    BCM_Log_SetLogLevel(log, ESS_LOG_ALL);
    if (log->m_hFile) {
        [[maybe_unused]] const int owned = fchown(*log->m_hFile, getuid(), getgid());
    }
    return log;
}

}  // extern "C"
