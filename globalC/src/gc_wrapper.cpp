/* The globalization wrapper: the multi-byte mode test that the XML writer uses to choose its
 * declared encoding. */
#include "gc_wrapper.h"

#include <cstring>

#include "gm_param.h"
#include "os_diag.h"

extern "C" int isI18nDefined(void) {
    DIAG_TRACE(4, "isI18nDefined");
    char table[] = "CONFIG";
    char key[] = "I18N";
    char value[2048] = "";
    return GM_PARAM_get(table, key, value) == CM_RC_OK && std::strcmp(value, "CJK") == 0 ? 1 : 0;
}
