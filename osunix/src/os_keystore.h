/* The agent's key store: a small handle over the security library's password store, reached
 * through the site and key-store security policies. Process-wide nothing; each handle lives
 * within one operation. */
#ifndef OS_KEYSTORE_H
#define OS_KEYSTORE_H

#include "bca_api.h"
#include "cmpltfrm.h"
#include "ess_policy.h"

CM_EXTERN_C_BEGIN

/* Room of every error buffer the key store writes into. */
#define ORV_KEYSTORE_ERROR_ROOM 1024

typedef struct OrvsKeyStore_typ {
    char* sitePolicy;
    char* appsPolicy;
    ESS_Policy* policy;
    BCA_PRF* profile;
} OrvsKeyStore_typ;
typedef OrvsKeyStore_typ OrvKeyStore;

/* A NUL-terminated text allocated by the key store; released with OrvKeyStoreFreeSecret. */
typedef char* OrvKeyStoreSecret;

/* CM_RC_OK, or CM_RC_FAIL with a one-line reason in err_msg (ORV_KEYSTORE_ERROR_ROOM bytes). */
CM_RC OrvKeyStoreCreate(OrvKeyStore* store, const char* sitePolicy, const char* appsPolicy, char* err_msg);
CM_RC OrvKeyStoreDestroy(OrvKeyStore* store);
CM_RC OrvKeyStoreInsert(OrvKeyStore* store, const char* identity, const char* secret, char* err_msg);
CM_RC OrvKeyStoreDelete(OrvKeyStore* store, const char* identity, char* err_msg);
/* The secret stored under identity, or NULL with a reason. */
OrvKeyStoreSecret OrvKeyStoreGetSecret(OrvKeyStore* store, const char* identity, char* err_msg);
void OrvKeyStoreFreeSecret(OrvKeyStore* store, OrvKeyStoreSecret secret);
/* The text, or "null" for none (for traces). */
const char* isnull(const char* text);

CM_EXTERN_C_END

#endif
