// Name of a job's backup file under ./backup: the agent library's own four-digit name when that
// file exists, else the plug-in's two-digit form (order number, run number in base 36).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "be_def.h"
#include "be_internal.h"
#include "gm_36.h"
#include "os_workfile.h"

namespace {

constexpr const char* kBackupDir = "./backup";
// Base-36 digits of the run number in the plug-in's own backup name.
constexpr int kBackupRunWidth = 2;

}  // namespace

extern "C" {

void BE_DUZ_build_backup_fname(char* Backup_Path, const char* orderno, const char* runno) {
    if (!Backup_Path) return;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_build_backup_fname");
    Backup_Path[0] = '\0';
    const char* order = orderno ? orderno : "";
    if (!be_plain_name_part(order)) {
        BE_TRACE(2, "order number '%s' is no plain file name part", order);
        return;
    }
    PATHNAME_D_typ full_name = "";
    PATHNAME_D_typ file_name = "";
    if (OS_FILE_build_filetype(order, be_run_number(runno), full_name, file_name, OS_FILE_EXITFILE) == CM_RC_OK &&
        full_name[0] != '\0' && access(full_name, F_OK) == 0) {
        std::snprintf(Backup_Path, sizeof(PATHNAME_D_typ), "%s", full_name);
        return;
    }
    char run36[kBackupRunWidth + 1] = {};
    GM_36_long_to_base_36(runno ? std::strtol(runno, nullptr, 10) : 0L, run36, kBackupRunWidth, 0);
    std::snprintf(Backup_Path, sizeof(PATHNAME_D_typ), "%s/%s_%s.dsect", kBackupDir, order, run36);
}

}  // extern "C"
