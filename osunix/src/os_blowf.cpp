/* The process's current Blowfish key cache (os_blowfish_current_key, is_blowfish_loaded), guarded
 * by a mutex; without a loaded key the built-in default key of the Blowfish module is in force. */
#include "os_blowf.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gm_blowf.h"
#include "os_diag.h"

namespace {

std::mutex key_mutex;
unsigned char os_blowfish_current_key[GM_BLOWF_KEY_LEN];
int is_blowfish_loaded = 0;

}  // namespace

extern "C" {

CM_RC OS_BLOWF_GetCurrentKey(unsigned char* blowfish_key, int max_len) {
    if (!blowfish_key || max_len <= 0) return CM_RC_FAIL;
    const std::size_t n = max_len < GM_BLOWF_KEY_LEN ? static_cast<std::size_t>(max_len) : GM_BLOWF_KEY_LEN;
    {
        std::lock_guard<std::mutex> lock(key_mutex);
        if (is_blowfish_loaded) {
            std::memcpy(blowfish_key, os_blowfish_current_key, n);
            return CM_RC_OK;
        }
    }
    unsigned char* def = GM_BLOWF_init_key();
    if (!def) {
        DIAG_TRACE(4, "%s: failed to build the default blowfish key", "OS_BLOWF_GetCurrentKey");
        return CM_RC_FAIL;
    }
    std::memcpy(blowfish_key, def, n);
    volatile unsigned char* wipe = def;
    for (int i = 0; i < GM_BLOWF_KEY_LEN; ++i) wipe[i] = 0;
    std::free(def);
    return CM_RC_OK;
}

int os_blowf_is_key_loaded(void) {
    std::lock_guard<std::mutex> lock(key_mutex);
    return is_blowfish_loaded;
}

void os_blowf_set_current_key(const unsigned char* key) {
    if (!key) return;
    std::lock_guard<std::mutex> lock(key_mutex);
    std::memcpy(os_blowfish_current_key, key, GM_BLOWF_KEY_LEN);
    is_blowfish_loaded = 1;
}

}  // extern "C"
