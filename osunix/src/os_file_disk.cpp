/* File layer, free-disk-space check: measures the file system that holds a file against the
 * required and recommended amounts of table CONFIG, waiting and measuring again while it is short.
 * Owns the seam through which tests replace the measurement, the waits and the configuration. */
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gm_param.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"

namespace {

constexpr const char* kFn = "OS_FILE_checkDiskFreeSpace";
constexpr long kDefaultMinFreeMb = 50;    // MIN_FREE_SPACE: required
constexpr long kDefaultWarnFreeMb = 100;  // MIN_FREE_SPACE_WARN: recommended
constexpr long kDefaultRetries = 5;       // SLEEP_COUNT
constexpr long kMaxRetries = 120;
constexpr unsigned kUnreadableWaitSeconds = 5;
constexpr unsigned kShortWaitSeconds = 60;
constexpr unsigned long kBytesPerMb = 1048576;

std::optional<unsigned long> statvfs_free_megabytes(const char* path) {
    struct statvfs figures;
    if (statvfs(path, &figures) != 0) return std::nullopt;
    unsigned long unit = figures.f_frsize ? figures.f_frsize : figures.f_bsize;
    return static_cast<unsigned long>((static_cast<unsigned long long>(unit) * figures.f_bavail) / kBytesPerMb);
}

bool config_value(const char* key, char* value) { return GM_PARAM_get("CONFIG", key, value) == CM_RC_OK; }

os_file::DiskProbe default_probe() {
    return {statvfs_free_megabytes, [](unsigned seconds) { sleep(seconds); }, config_value};
}

std::mutex probe_mutex;
os_file::DiskProbe& probe_in_force() {
    static os_file::DiskProbe probe = default_probe();
    return probe;
}

// A CONFIG number, or nothing when the key is absent.
std::optional<long> config_number(const os_file::DiskProbe& probe, const char* key) {
    GM_PARAM_VALUE_typ value = "";
    if (!probe.config(key, value)) return std::nullopt;
    return strtol(value, nullptr, 10);
}

long megabytes_setting(const os_file::DiskProbe& probe, const char* key, long fallback) {
    auto value = config_number(probe, key);
    return value && *value > 0 ? *value : fallback;
}

long retries_setting(const os_file::DiskProbe& probe) {
    auto value = config_number(probe, "SLEEP_COUNT");
    if (!value) return kDefaultRetries;
    if (*value < 0 || *value > kMaxRetries) {
        DIAG_ERROR("%s: The value from the configuration [%d] is invalid. using default.", kFn,
                   static_cast<int>(*value));
        return kDefaultRetries;
    }
    return *value;
}

// The file's own file system when it exists, else the working directory's.
const char* measured_path(const char* file_name) {
    if (!file_name || access(file_name, F_OK) != 0) return ".";
    return file_name;
}

}  // namespace

namespace os_file {

DiskProbe current_disk_probe() {
    std::lock_guard<std::mutex> guard(probe_mutex);
    return probe_in_force();
}

void set_disk_probe(const DiskProbe& probe) {
    std::lock_guard<std::mutex> guard(probe_mutex);
    probe_in_force() = probe;
}

void reset_disk_probe() { set_disk_probe(default_probe()); }

}  // namespace os_file

CM_EXTERN_C_BEGIN

CM_RC OS_FILE_checkDiskFreeSpace(const char* file_name) {
    try {
        os_file::DiskProbe probe = os_file::current_disk_probe();
        unsigned long required =
            static_cast<unsigned long>(megabytes_setting(probe, "MIN_FREE_SPACE", kDefaultMinFreeMb));
        unsigned long recommended =
            static_cast<unsigned long>(megabytes_setting(probe, "MIN_FREE_SPACE_WARN", kDefaultWarnFreeMb));
        long retries = retries_setting(probe);
        for (long attempt = 0; attempt <= retries; ++attempt) {
            bool last = attempt == retries;
            errno = 0;
            auto free_mb = probe.free_megabytes(measured_path(file_name));
            if (!free_mb) {
                int err = errno;
                if (last) {
                    DIAG_ERROR("%s: cannot get free disk space amount. %s[%d]", kFn, strerror(err), err);
                    return CM_RC_FAIL;
                }
                probe.sleep(kUnreadableWaitSeconds);
                continue;
            }
            if (*free_mb > recommended) return CM_RC_OK;
            if (*free_mb > required) {
                DIAG_TRACE(4, "There is enough free space but it is below the recommended amount ");
                return CM_RC_DISK_LOW;
            }
            DIAG_ERROR(
                "WARNING: Cannot open file: '%s' for write or append.\n\tThe disk free space is %lu MB "
                "while a minimum of %lu MB is required",
                file_name ? file_name : "", *free_mb, required);
            if (!last) probe.sleep(kShortWaitSeconds);
        }
    } catch (...) {
    }
    return CM_RC_FAIL;
}

CM_EXTERN_C_END
