/* The agent's key store and the Blowfish key operations over it: a store handle opens the site and
 * key-store policies through the security library, reaches the provider's password store, and
 * keeps the current Blowfish key under "BLOWFISHKEY_CURRENT"; the load step fills the process's
 * key cache of os_blowf.cpp. No secret or key reaches a trace or an error text. */
#include "os_keystore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "ess.h"
#include "gm_blowf.h"
#include "os_blowf.h"
#include "os_diag.h"

namespace {

constexpr size_t kKeyBufferRoom = GM_BLOWF_KEY_LEN + 1;  // a secret of up to 32 characters and its end

/* Stores whose create started the security library, so that only their destroy ends it. */
std::mutex started_mutex;
std::set<const OrvKeyStore*> started_stores;

void wipe(void* p, size_t n) {
    volatile auto* b = static_cast<volatile unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) b[i] = 0;
}

template <typename... Args>
std::string text(const char* format, Args... args) {
    char buf[ORV_KEYSTORE_ERROR_ROOM];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

/* The reason into err_msg, and the trace "<operation>:<reason>". */
CM_RC fail(const char* operation, char* err_msg, const std::string& reason) {
    if (err_msg) std::snprintf(err_msg, ORV_KEYSTORE_ERROR_ROOM, "%s", reason.c_str());
    DIAG_TRACE(4, "%s:%s", operation, reason.c_str());
    return CM_RC_FAIL;
}

char* copy(const char* s) { return s ? strdup(s) : nullptr; }

bool usable(const OrvKeyStore* store) { return store && store->profile; }

/* One key-store operation on a store of its own: create, the step, destroy. */
template <typename Step>
CM_RC with_store(const char* site_policy, const char* app_policy, char* err_msg, Step step) {
    OrvKeyStore store;
    char reason[ORV_KEYSTORE_ERROR_ROOM] = "";
    if (OrvKeyStoreCreate(&store, site_policy, app_policy, reason) != CM_RC_OK) {
        if (err_msg) std::snprintf(err_msg, ORV_KEYSTORE_ERROR_ROOM, "%s", reason);
        return CM_RC_FAIL;
    }
    const CM_RC rc = step(store, reason);
    OrvKeyStoreDestroy(&store);
    if (rc != CM_RC_OK && err_msg) std::snprintf(err_msg, ORV_KEYSTORE_ERROR_ROOM, "%s", reason);
    return rc;
}

}  // namespace

extern "C" {

const char* isnull(const char* text) { return text ? text : "null"; }

CM_RC OrvKeyStoreCreate(OrvKeyStore* store, const char* sitePolicy, const char* appsPolicy, char* err_msg) {
    static const char* const fn = "OrvKeyStoreCreate";
    if (!store) return fail(fn, err_msg, "no key store handle");
    DIAG_TRACE(4, "%s: sitePolicy='%s' appsPolicy='%s'", fn, isnull(sitePolicy), isnull(appsPolicy));
    *store = OrvKeyStore{};
    store->sitePolicy = copy(sitePolicy);
    if (sitePolicy && !store->sitePolicy) return fail(fn, err_msg, "failed to malloc sitePolicy");
    store->appsPolicy = copy(appsPolicy);
    if (appsPolicy && !store->appsPolicy) {
        std::free(store->sitePolicy);
        store->sitePolicy = nullptr;
        return fail(fn, err_msg, "failed to malloc appsPolicy");
    }
    if (ESS_Init() != 0) {
        std::free(store->sitePolicy);
        std::free(store->appsPolicy);
        *store = OrvKeyStore{};
        return fail(fn, err_msg, "ESS_Init failed");
    }
    {
        std::lock_guard<std::mutex> lock(started_mutex);
        started_stores.insert(store);
    }
    std::string reason;
    store->policy = ESS_Policy_New(store->sitePolicy, store->appsPolicy, ESS_POLICY_ROLE_KEYSTORE);
    if (!store->policy) {
        reason = "ESS_Policy_New failed";
    } else if (ESS_Policy_InitSecurityPolicy(store->policy) != 0) {
        reason = text("ESS_Policy_InitSecurityPolicy failed with error='%s'",
                      isnull(ESS_Policy_GetLastError(store->policy)));
    } else if (ESS_Policy_Load(store->policy) != 0) {
        reason = text("ESS_Policy_Load failed with error='%s'", isnull(ESS_Policy_GetLastError(store->policy)));
    } else if (ESS_Policy_Open(store->policy) != 0) {
        reason = text("ESS_Policy_Open failed with error='%s'", isnull(ESS_Policy_GetLastError(store->policy)));
    } else if (char* module = ESS_Policy_GetModule(store->policy); !module) {
        reason = text("ESS_Policy_GetModule failed with error='security module not loaded', for level '%d'",
                      ESS_Policy_GetLevel(store->policy));
    } else {
        DIAG_TRACE(4, "%s: ModuleName: '%s'", fn, module);
        ESS_Policy_FreePtr(store->policy, module);
        store->profile = ESS_Policy_GetBCA(store->policy);
        if (!store->profile) reason = "ESS_Policy_GetBCA failed";
    }
    if (!reason.empty()) {
        OrvKeyStoreDestroy(store);
        return fail(fn, err_msg, reason);
    }
    DIAG_TRACE(4, "%s: return CM_SUCCESS", fn);
    return CM_RC_OK;
}

CM_RC OrvKeyStoreDestroy(OrvKeyStore* store) {
    static const char* const fn = "OrvKeyStoreDestroy";
    if (!store) return CM_RC_FAIL;
    if (store->policy) {
        if (ESS_Policy_Close(store->policy) != 0)
            DIAG_TRACE(4, "%s: ESS_Policy_Close failed with error='%s'", fn,
                       isnull(ESS_Policy_GetLastError(store->policy)));
        ESS_Policy_Delete(store->policy);
    }
    std::free(store->sitePolicy);
    std::free(store->appsPolicy);
    *store = OrvKeyStore{};
    bool started;
    {
        std::lock_guard<std::mutex> lock(started_mutex);
        started = started_stores.erase(store) > 0;
    }
    if (started) ESS_End();
    return CM_RC_OK;
}

CM_RC OrvKeyStoreInsert(OrvKeyStore* store, const char* identity, const char* secret, char* err_msg) {
    static const char* const fn = "OrvKeyStoreInsert";
    if (!usable(store) || !identity || !secret) return fail(fn, err_msg, "no key store, identity or secret");
    const int length = static_cast<int>(std::strlen(secret)) + 1;
    if (BCA_StorePassword(store->profile, secret, length, identity) != 0)
        return fail(fn, err_msg,
                    text("BCA_StorePassword failed with error='%s'", isnull(BCA_GetLastProfileError(store->profile))));
    return CM_RC_OK;
}

CM_RC OrvKeyStoreDelete(OrvKeyStore* store, const char* identity, char* err_msg) {
    static const char* const fn = "OrvKeyStoreDelete";
    if (!usable(store) || !identity) return fail(fn, err_msg, "no key store or identity");
    if (BCA_DeletePassword(store->profile, identity) != 0)
        return fail(fn, err_msg,
                    text("BCA_DeletePassword failed with error='%s'", isnull(BCA_GetLastProfileError(store->profile))));
    return CM_RC_OK;
}

OrvKeyStoreSecret OrvKeyStoreGetSecret(OrvKeyStore* store, const char* identity, char* err_msg) {
    static const char* const fn = "OrvKeyStoreGetSecret";
    if (!usable(store) || !identity) {
        fail(fn, err_msg, "no key store or identity");
        return nullptr;
    }
    DIAG_TRACE(4, "%s identity='%s'", fn, identity);
    char* data = nullptr;
    int length = 0;
    if (BCA_GetPassword(store->profile, &data, &length, identity) != 0 || !data || length < 0) {
        fail(fn, err_msg,
             text("BCA_GetPassword failed with error='%s'", isnull(BCA_GetLastProfileError(store->profile))));
        return nullptr;
    }
    auto* secret = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (secret) {
        std::memcpy(secret, data, static_cast<size_t>(length));
        secret[length] = '\0';
    }
    BCA_CleanUp(store->profile, data);
    if (!secret) fail(fn, err_msg, text("%s: failed to malloc secret", fn));
    return secret;
}

void OrvKeyStoreFreeSecret(OrvKeyStore*, OrvKeyStoreSecret secret) {
    if (!secret) return;
    wipe(secret, std::strlen(secret));
    std::free(secret);
}

CM_RC OS_BLOWF_KeyStoreGetKey(char* key, const char* app_policy, const char* site_policy, const char* key_identity,
                              char* err_msg) {
    static const char* const fn = "OS_BLOWF_KeyStoreGetKey";
    if (!key) return fail(fn, err_msg, "no key buffer");
    return with_store(site_policy, app_policy, err_msg, [&](OrvKeyStore& store, char* reason) -> CM_RC {
        OrvKeyStoreSecret secret = OrvKeyStoreGetSecret(&store, key_identity, reason);
        if (!secret) {
            DIAG_TRACE(4, "%s:Entry '%s' does not exist: %s", fn, isnull(key_identity), reason);
            return CM_RC_FAIL;
        }
        /* The key buffer holds a secret of up to 32 characters and its terminator; a longer one
         * is refused whole rather than written past the buffer. */
        const size_t length = std::strlen(secret);
        CM_RC rc = CM_RC_OK;
        if (length >= kKeyBufferRoom)
            rc = fail(fn, reason,
                      text("the secret of '%s' is longer than %d characters", isnull(key_identity), GM_BLOWF_KEY_LEN));
        else
            std::memcpy(key, secret, length + 1);
        OrvKeyStoreFreeSecret(&store, secret);
        return rc;
    });
}

CM_RC OS_BLOWF_KeyStoreInsertKey(const char* key, const char* app_policy, const char* site_policy,
                                 const char* key_identity, char* err_msg) {
    return with_store(site_policy, app_policy, err_msg, [&](OrvKeyStore& store, char* reason) -> CM_RC {
        return OrvKeyStoreInsert(&store, key_identity, key, reason);
    });
}

CM_RC OS_BLOWF_KeyStoreDeleteKey(const char* app_policy, const char* site_policy, const char* key_identity,
                                 char* err_msg) {
    return with_store(site_policy, app_policy, err_msg, [&](OrvKeyStore& store, char* reason) -> CM_RC {
        return OrvKeyStoreDelete(&store, key_identity, reason);
    });
}

CM_RC OS_BLOWF_SetDefaultKey(const char* app_policy, const char* site_policy) {
    static const char* const fn = "OS_BLOWF_SetDefaultKey";
    char reason[ORV_KEYSTORE_ERROR_ROOM] = "";
    /* No reachable store holds no entry: the default key is in force either way. */
    with_store(site_policy, app_policy, nullptr, [&](OrvKeyStore& store, char* why) -> CM_RC {
        char ignored[ORV_KEYSTORE_ERROR_ROOM];
        OrvKeyStoreSecret secret = OrvKeyStoreGetSecret(&store, OS_BLOWF_KEY_IDENTITY, ignored);
        if (!secret) return CM_RC_OK;
        OrvKeyStoreFreeSecret(&store, secret);
        const CM_RC rc = OrvKeyStoreDelete(&store, OS_BLOWF_KEY_IDENTITY, why);
        if (rc != CM_RC_OK) std::snprintf(reason, sizeof reason, "%s", why);
        return rc;
    });
    if (reason[0]) {
        DIAG_TRACE(4, "%s:%s", fn, reason);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_BLOWF_Build_Policy(PATHNAME_D_typ app_policy, PATHNAME_D_typ site_policy) {
    if (app_policy) std::snprintf(app_policy, sizeof(PATHNAME_D_typ), "%s", OS_BLOWF_APP_POLICY);
    if (site_policy) std::snprintf(site_policy, sizeof(PATHNAME_D_typ), "%s", OS_BLOWF_SITE_POLICY);
    return CM_RC_OK;
}

CM_RC OS_BLOWF_LoadKey(void) {
    static const char* const fn = "OS_BLOWF_LoadKey";
    const int loaded = os_blowf_is_key_loaded();
    DIAG_TRACE(4, "%s: is_blowfish_loaded = %d", fn, loaded);
    if (loaded) return CM_RC_OK;
    char key[kKeyBufferRoom];
    std::memset(key, ' ', sizeof key);
    PATHNAME_D_typ app_policy;
    PATHNAME_D_typ site_policy;
    OS_BLOWF_Build_Policy(app_policy, site_policy);
    char reason[ORV_KEYSTORE_ERROR_ROOM] = "";
    const CM_RC rc = OS_BLOWF_KeyStoreGetKey(key, app_policy, site_policy, OS_BLOWF_KEY_IDENTITY, reason);
    if (rc == CM_RC_OK) os_blowf_set_current_key(reinterpret_cast<unsigned char*>(key));
    wipe(key, sizeof key);
    return rc;
}

}  // extern "C"
