/* Dynamic-loader wrappers: dlopen, dlclose and dlsym with the loader's error text, formatted as
 * the library's message 177, in a caller's 256-byte reason buffer. */
#include "qel_dll.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ess_catalog_internal.h"
#include "globalchelper.h"

namespace {

constexpr size_t kLoadErrorCut = 259;  // characters of the loader's text kept for a load

void clear(char* reason) {
    if (reason) std::memset(reason, 0, QEL_DLL_REASON_ROOM);
}

void fill(char* reason, size_t cut) {
    const char* err = dlerror();
    std::string text = err ? std::string(err).substr(0, cut) : "(missing)";
    if (reason) EssGlobalcUtf8Sprintf(reason, QEL_DLL_REASON_ROOM, ESS_MSG(ess_catalog::kLoaderReason), text.c_str());
}

}  // namespace

extern "C" {

QEL_DLL_SHL DLL_LOAD(const char* path, int flags, char* reason) {
    clear(reason);
    dlerror();
    QEL_DLL_SHL shl = dlopen(path, flags);
    if (!shl) fill(reason, kLoadErrorCut);
    return shl;
}

int DLL_UNLOAD(QEL_DLL_SHL shl, char* reason) {
    clear(reason);
    dlerror();
    const int rc = dlclose(shl);
    if (rc != 0) fill(reason, std::string::npos);
    return rc;
}

void* DLL_SYM(QEL_DLL_SHL shl, const char* symbol, char* reason) {
    clear(reason);
    dlerror();
    void* p = dlsym(shl, symbol);
    if (!p) fill(reason, std::string::npos);
    return p;
}

QEL_DllHandle* QEL_DllLoad(const char* path, char* reason, int flags) {
    auto* handle = static_cast<QEL_DllHandle*>(std::calloc(1, sizeof(QEL_DllHandle)));
    if (!handle) return nullptr;
    handle->m_handle = DLL_LOAD(path, flags, reason);
    if (!handle->m_handle) {
        std::free(handle);
        return nullptr;
    }
    return handle;
}

int QEL_DllUnload(QEL_DllHandle* handle, char* reason) {
    if (!handle) return -1;
    const int rc = DLL_UNLOAD(handle->m_handle, reason);
    std::free(handle);
    return rc;
}

void* QEL_DllSym(QEL_DllHandle* handle, const char* symbol, char* reason) {
    if (!handle || !symbol) {
        clear(reason);
        return nullptr;
    }
    return DLL_SYM(handle->m_handle, symbol, reason);
}

}  // extern "C"
