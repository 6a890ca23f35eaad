/* Logical names over the process environment. Setting goes through setenv, so the environment
 * keeps its own copy and never depends on the lifetime of the caller's text. */
#include "os_logical.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

CM_RC OS_LOGICAL_get(const char* name, const char*, char* value) {
    if (!name || !*name || !value) return CM_RC_FAIL;
    const char* found = std::getenv(name);
    if (!found) return CM_RC_FAIL;
    std::snprintf(value, sizeof(LOGICALNAME_D_typ), "%s", found);
    return CM_RC_OK;
}

CM_RC OS_LOGICAL_set(const char* name, const char* value, char* text) {
    if (!name || !*name || !value || !*value) return CM_RC_FAIL;
    if (setenv(name, value, 1) != 0) return CM_RC_FAIL;
    if (text) std::snprintf(text, OS_LOGICAL_TEXT_LEN, "%s=%s", name, value);
    return CM_RC_OK;
}

}  // extern "C"
