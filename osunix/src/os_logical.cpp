/* Logical names over the process environment, and the lock under which the process changes it.
 * Setting goes through setenv, so the environment keeps its own copy and never depends on the
 * lifetime of the caller's text. */
#include "os_logical.h"
#include "os_logical_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace os_logical {

std::recursive_mutex& environment_lock() {
    static auto* lock = new std::recursive_mutex();  // never destroyed: threads may outlive exit
    return *lock;
}

bool set_variable(const char* name, const char* value) {
    std::lock_guard<std::recursive_mutex> guard(environment_lock());
    const char* current = std::getenv(name);
    if (current && std::strcmp(current, value) == 0) return true;
    return setenv(name, value, 1) == 0;
}

}  // namespace os_logical

extern "C" {

CM_RC OS_LOGICAL_get(const char* name, const char*, char* value) {
    if (!name || !*name || !value) return CM_RC_FAIL;
    std::lock_guard<std::recursive_mutex> guard(os_logical::environment_lock());
    const char* found = std::getenv(name);
    if (!found) return CM_RC_FAIL;
    std::snprintf(value, sizeof(LOGICALNAME_D_typ), "%s", found);
    return CM_RC_OK;
}

CM_RC OS_LOGICAL_set(const char* name, const char* value, char* text) {
    if (!name || !*name || !value || !*value) return CM_RC_FAIL;
    if (!os_logical::set_variable(name, value)) return CM_RC_FAIL;
    if (text) std::snprintf(text, OS_LOGICAL_TEXT_LEN, "%s=%s", name, value);
    return CM_RC_OK;
}

}  // extern "C"
