/* The process's current Blowfish key: a process-wide cache that the key store fills once at
 * start-up, read by every Blowfish operation that asks for the current key, and falling back to
 * the built-in default key while nothing was loaded; and the key operations on the key store
 * (os_keystore.cpp), which keeps the current key as the secret "BLOWFISHKEY_CURRENT". */
#ifndef OS_BLOWF_H
#define OS_BLOWF_H

#include "cmpltfrm.h"
#include "os_file.h" /* PATHNAME_D_typ */

/* The key store's identity of the current key and its two policy files. */
#define OS_BLOWF_KEY_IDENTITY "BLOWFISHKEY_CURRENT"
#define OS_BLOWF_APP_POLICY "./data/SSL/cert/agkeystore.plc"
#define OS_BLOWF_SITE_POLICY "./data/SSL/cert/site.plc"

CM_EXTERN_C_BEGIN

/* Copies max_len bytes (at most 32) of the current key into blowfish_key: the loaded key, else
 * the built-in default key. CM_RC_OK, or CM_RC_FAIL when the default key cannot be built or an
 * argument is missing. */
CM_RC OS_BLOWF_GetCurrentKey(unsigned char* blowfish_key, int max_len);

/* Puts a 32-byte key into the cache and marks it loaded; the key store's load step uses it. */
void os_blowf_set_current_key(const unsigned char* key);
/* 1 once a key was loaded into the cache, else 0. */
int os_blowf_is_key_loaded(void);

/* Key operations: each opens the key store with the two policies (site first), does its step and
 * closes it again. CM_RC_OK, or CM_RC_FAIL with a reason in err_msg (1024 bytes). */
/* Copies the secret stored under key_identity with its terminator into key, which has room for
 * 33 bytes; a longer secret is refused and nothing is copied. */
CM_RC OS_BLOWF_KeyStoreGetKey(char* key, const char* app_policy, const char* site_policy, const char* key_identity,
                              char* err_msg);
CM_RC OS_BLOWF_KeyStoreInsertKey(const char* key, const char* app_policy, const char* site_policy,
                                 const char* key_identity, char* err_msg);
CM_RC OS_BLOWF_KeyStoreDeleteKey(const char* app_policy, const char* site_policy, const char* key_identity,
                                 char* err_msg);
/* Deletes the current key's entry when there is one, so that processes that load the key from then
 * on use the built-in default key. CM_RC_FAIL only when an existing entry cannot be deleted. */
CM_RC OS_BLOWF_SetDefaultKey(const char* app_policy, const char* site_policy);
/* Writes the key store's two policy paths. */
CM_RC OS_BLOWF_Build_Policy(PATHNAME_D_typ app_policy, PATHNAME_D_typ site_policy);
/* Loads the current key into the cache once per process: the fetch's result, or CM_RC_OK when a
 * key is already loaded. A failed fetch leaves the default key in force. */
CM_RC OS_BLOWF_LoadKey(void);

CM_EXTERN_C_END

#endif
