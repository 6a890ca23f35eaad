/* The globalization wrapper: the library's start and end for the process, and the multi-byte mode
 * test that the XML writer uses to choose its declared encoding. */
#include "gc_wrapper.h"

#include <cstdio>
#include <cstring>

#include "gc.h"

#include "gm_param.h"
#include "os_diag.h"

extern "C" int isI18nDefined(void) {
    DIAG_TRACE(4, "isI18nDefined");
    char table[] = "CONFIG";
    char key[] = "I18N";
    char value[2048] = "";
    return GM_PARAM_get(table, key, value) == CM_RC_OK && std::strcmp(value, "CJK") == 0 ? 1 : 0;
}

extern "C" CM_RC GC_init(char* prod_dir) {
    DIAG_TRACE(4, "GC_init");
    char dir[1024];
    std::snprintf(dir, sizeof dir, "%s/exe/locale", prod_dir ? prod_dir : "");
    if (GCInit(dir, nullptr, nullptr, nullptr, GC_INIT_STRICT) != GC_OK) {
        DIAG_ERROR("GC_init: Failed to initialize GC library. searched for locales at: '%s'", dir);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "GC_init: GC library was initialized");
    return CM_RC_OK;
}

extern "C" void GC_release(void) {
    DIAG_TRACE(4, "GC_release");
    GCTerm();
}
