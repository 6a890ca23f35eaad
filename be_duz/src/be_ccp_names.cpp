// Names of the central-connection-profile cache files: one per job for the requests that follow a
// submission, one per profile otherwise, kept in ccp_cache beside the plug-in's directory.
#include <cstdio>
#include <cstring>

#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"

namespace {

// Request types whose cache belongs to one job run (named by order and run number).
constexpr const char* kJobRequestTypes[] = {"TRACK", "SUBMIT", "TRACK_INIT", "STATISTICS"};

bool is_job_request(const char* reqType) {
    if (!reqType) return false;
    for (const char* type : kJobRequestTypes)
        if (std::strcmp(reqType, type) == 0) return true;
    return false;
}

}  // namespace

extern "C" {

ZPARC BE_DUZ_create_ccp_cache_file_name(const char* reqType, const char* ccpName, char* cacheFileName,
                                        ZPAAttrList* Attributes, ZPAError* Error) {
    static constexpr const char* fn = "BE_DUZ_create_ccp_cache_file_name";
    if (!cacheFileName) return ZPA_FAIL;
    int length = 0;
    if (is_job_request(reqType)) {
        char* orderno = nullptr;
        char* runno = nullptr;
        ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(Attributes, const_cast<char*>("ORDERNO"), &orderno);
        if (rc == ZPA_SUCCESS) rc = ZPAAPI_UTILS_AttrListValueGet(Attributes, const_cast<char*>("RUNNO"), &runno);
        if (rc != ZPA_SUCCESS) return rc;
        length = std::snprintf(cacheFileName, BE_DUZ_CCP_NAME_SIZE, "%s_%x_cache", orderno,
                               static_cast<unsigned>(be_run_number(runno)));
    } else {
        length = std::snprintf(cacheFileName, BE_DUZ_CCP_NAME_SIZE, "%s_cache", ccpName ? ccpName : "");
    }
    // A name cut to fit would lose its suffix or its run number and could name another profile's
    // or another run's cache: it is refused instead.
    if (length < 0 || length >= BE_DUZ_CCP_NAME_SIZE) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: cache file name is longer than %d characters", fn,
                              BE_DUZ_CCP_NAME_SIZE - 1);
        cacheFileName[0] = '\0';
        return ZPA_FAIL;
    }
    BE_TRACE(4, "%s: cacheFileName= %s", fn, cacheFileName);
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_full_ccp_file_path(const char* cacheFileName, char* path) {
    if (!cacheFileName || !path) return ZPA_FAIL;
    // The name comes from the request (order number or profile name): it must stay one plain
    // name inside ccp_cache, never a path to a file elsewhere that a reader or NEWDAY would reach.
    if (!*cacheFileName || std::strchr(cacheFileName, '/') || std::strcmp(cacheFileName, ".") == 0 ||
        std::strcmp(cacheFileName, "..") == 0) {
        BE_TRACE(4, "%s: '%s' is no plain cache file name\n", "BE_DUZ_full_ccp_file_path", cacheFileName);
        return ZPA_FAIL;
    }
    GM_PARAM_VALUE_typ cm_dir = "";
    if (GM_PARAM_get("OEBS", "CM_DIR", cm_dir) != CM_RC_OK) {
        BE_TRACE(4, "%s: Could not find CM path\n", "BE_DUZ_full_ccp_file_path");
        return ZPA_NOT_FOUND;
    }
    std::snprintf(path, sizeof(PATHNAME_D_typ), "%s/../ccp_cache/%s.dat", cm_dir, cacheFileName);
    return ZPA_SUCCESS;
}

}  // extern "C"
