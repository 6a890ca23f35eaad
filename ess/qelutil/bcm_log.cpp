/* Security log: the log record, its file (opened for appending, a regular file never reached
 * through a symbolic link, permissions set on creation), the level names and the line format. */
#include "bcm_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ess_str_utils.h"
#include "globalchelper.h"
#include "os_file_nofollow.h"

namespace {

constexpr int kTimeRoom = 31;  // at most 30 characters of the ctime text
constexpr int kNativePathRoom = 1024;
constexpr mode_t kCreateMode = 0644;

const char* level_name(int level) {
    static const char* const names[] = {"ERR", "WRN", "INF", "API", "TRC", "DAT"};
    for (int bit = 0; bit < 6; ++bit)
        if (level & (1 << bit)) return names[bit];
    return "UKN";
}

bool octal(char c) { return c >= '0' && c <= '7'; }

}  // namespace

extern "C" {

int ParsePermissionsString(const char* text) {
    if (!text) return BCM_LOG_DEFAULT_PERMISSIONS;
    while (*text && std::isspace(static_cast<unsigned char>(*text))) ++text;
    if (!*text) return BCM_LOG_DEFAULT_PERMISSIONS;
    int mode = 0;
    for (int klass = 0; klass < 3 && text[klass]; ++klass) {
        if (!octal(text[klass])) return BCM_LOG_DEFAULT_PERMISSIONS;
        mode |= (text[klass] - '0') << (3 * (2 - klass));
    }
    return mode;
}

int* openFile(const char* path, int permissions) {
    if (!path) return nullptr;
    char native[kNativePathRoom];
    if (EssUtf8ToNativeString(native, sizeof native, path) < 0 || std::strlen(path) >= sizeof native) return nullptr;
    struct stat st;
    const bool existed = lstat(native, &st) == 0;
    /* Never through a link, and never a FIFO or device, which could hold the open for ever. */
    const int fd = os_file::open_regular(native, O_WRONLY | O_CREAT | O_APPEND | O_DSYNC, kCreateMode);
    if (fd < 0) return nullptr;
    if (!existed) fchmod(fd, static_cast<mode_t>(permissions));
    auto* cell = static_cast<int*>(std::malloc(sizeof(int)));
    if (!cell) {
        close(fd);
        return nullptr;
    }
    *cell = fd;
    return cell;
}

int writeFile(int* file, const char* buf, int count) {
    if (!file || !buf || count < 0) return -1;
    return static_cast<int>(write(*file, buf, static_cast<size_t>(count)));
}

int closeFile(int* file) {
    if (!file) return -1;
    const int rc = close(*file);
    std::free(file);
    return rc == 0 ? 0 : -1;
}

BCM_Log* New_BCM_Log(char* fileSpec, const char* mode) {
    auto* log = static_cast<BCM_Log*>(std::calloc(1, sizeof(BCM_Log)));
    if (!log) return nullptr;
    if (fileSpec && *fileSpec) {
        int permissions = BCM_LOG_DEFAULT_PERMISSIONS;
        if (char* comma = std::strchr(fileSpec, ',')) {
            *comma = '\0';
            permissions = ParsePermissionsString(comma + 1);
        }
        ess_strUnpad(fileSpec);
        /* A longer path would open another file once cut. */
        if (std::strlen(fileSpec) >= sizeof log->m_file) {
            std::free(log);
            return nullptr;
        }
        ess_strncpy(log->m_file, fileSpec, sizeof log->m_file);
        log->m_hFile = openFile(log->m_file, permissions);
        if (!log->m_hFile) {
            std::free(log);
            return nullptr;
        }
    }
    ess_strncpy(log->m_mode, mode ? mode : "", sizeof log->m_mode);
    log->m_lock = BCM_NewLock(0, nullptr);
    if (!log->m_lock) {
        closeFile(log->m_hFile);
        std::free(log);
        return nullptr;
    }
    return log;
}

void Free_BCM_Log(BCM_Log* log) {
    if (!log) return;
    closeFile(log->m_hFile);
    if (log->m_lock) BCM_DeleteLock(log->m_lock);
    std::free(log);
}

void BCM_Log_SetLogLevel(BCM_Log* log, unsigned int mask) {
    if (log) log->m_levelMask = mask;
}

unsigned int BCM_Log_GetLogLevel(BCM_Log* log) { return log ? log->m_levelMask : 0; }

void BCM_Log_SetHook(BCM_Log* log, ESS_LogCallback hook, void* context) {
    if (!log) return;
    log->m_hook = hook;
    log->m_context = context;
}

int BCM_Log_Write(BCM_Log* log, const char* file, int line, int level, const char* msg) {
    if (!log) return -1;
    if ((static_cast<unsigned int>(level) & log->m_levelMask) == 0) return 0;
    if (log->m_hook) {
        log->m_hook(log->m_context, file, line, level, msg);
        return 0;
    }
    if (!log->m_hFile) return -1;

    char when[kTimeRoom] = "";
    BCM_WriteLock(log->m_lock, 0);
    const time_t now = time(nullptr);
    char text[64];
    if (ctime_r(&now, text)) {
        text[std::strcspn(text, "\n")] = '\0';
        ess_strncpy(when, text, sizeof when);
    }
    const unsigned int sequence = ++log->m_sequence;
    BCM_WriteUnLock(log->m_lock);

    char utf8[BCM_LOG_LINE_ROOM];
    EssGlobalcSnprintfUtf8(utf8, sizeof utf8, "%d:%s:pid=%d:%s:%s:%d:%s", static_cast<int>(sequence), when,
                           static_cast<int>(getpid()), level_name(level), file ? file : "", line, msg ? msg : "");
    char native[BCM_LOG_LINE_ROOM];
    EssUtf8ToNativeString(native, BCM_LOG_LINE_ROOM - 1, utf8);
    size_t n = std::strlen(native);
    native[n++] = '\n';
    writeFile(log->m_hFile, native, static_cast<int>(n));  // one write: O_APPEND keeps lines whole
    return 0;
}

}  // extern "C"
