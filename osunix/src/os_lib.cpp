/* Shared libraries through the dynamic loader: attach with RTLD_NOW | RTLD_GLOBAL, resolve, detach,
 * with the loader's reason handed back as text; and the OS layer's version text. */
#include "os_lib.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "os_diag.h"

namespace {

constexpr char kOsVersion[] = "OS dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012";

void set_error(char* error_text, const char* format, const char* a, const char* b = nullptr) {
    if (error_text) std::snprintf(error_text, OS_LIB_ERROR_LEN, format, a, b);
}

const char* loader_error() {
    const char* e = dlerror();
    return e ? e : "No error";
}

}  // namespace

extern "C" {

CM_RC OS_LIB_attach(void** handle, const char* path, char* error_text) {
    if (!handle || !path) {
        set_error(error_text, "DLL '%s' can not be loaded, error <%s>", path ? path : "", "missing argument");
        return CM_RC_FAIL;
    }
    *handle = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    if (*handle) return CM_RC_OK;
    char text[OS_LIB_ERROR_LEN];
    std::snprintf(text, sizeof text, "DLL '%s' can not be loaded, error <%s>", path, loader_error());
    DIAG_TRACE(4, "%s", text);
    if (error_text) std::memcpy(error_text, text, std::strlen(text) + 1);
    return CM_RC_FAIL;
}

CM_RC OS_LIB_resolve_function(void* handle, const char* function_name, OS_LIB_funcptr_typ* function, char* error_text) {
    if (!handle) {
        set_error(error_text, "%s", "Shared Lib handle is NULL");
        return CM_RC_FAIL;
    }
    if (!function_name || !function) {
        set_error(error_text, "Function '%.32s' can not be resolved", function_name ? function_name : "");
        return CM_RC_FAIL;
    }
    dlerror();
    void* symbol = dlsym(handle, function_name);
    if (!symbol) {
        set_error(error_text, "Function '%.32s' can not be resolved", function_name);
        return CM_RC_FAIL;
    }
    // The loader hands functions back as object pointers; POSIX guarantees the round trip.
    *function = reinterpret_cast<OS_LIB_funcptr_typ>(symbol);
    return CM_RC_OK;
}

CM_RC OS_LIB_detach(void* handle, char* error_text) {
    if (!handle) return CM_RC_FAIL;
    if (dlclose(handle) == 0) return CM_RC_OK;
    set_error(error_text, "%.2047s", loader_error());
    return CM_RC_FAIL;
}

char* OS_LIB_get_dll_version(const char*) { return nullptr; }

void OS_version(char* text, int size) {
    if (!text || size <= 0) return;
    std::snprintf(text, static_cast<std::size_t>(size), "%s", kOsVersion);
}

}  // extern "C"
