/* Types of the secure-communication interface shared with its provider modules: the profile and
 * module records, the caller's read and write procedures, provider options and their records. */
#ifndef BCA_TYPES_H
#define BCA_TYPES_H

#include <time.h>

#include "bcfg_api.h"
#include "bcm_log.h"
#include "qel_dll.h"

struct FunctionPtrs;
struct QEL_ModuleHandle;

/* The caller's raw-byte procedures, given the caller's connection handle: the byte count. */
typedef int (*ESS_ReadProc)(void* handle, char* buf, int len);
typedef int (*ESS_WriteProc)(void* handle, char* buf, int len);
typedef int (*ESS_AppProc)(void* handle, void* data);
typedef int (*ESS_HandlerProc)(void* handle, int event, void* data);

typedef struct BCA_SESSION_tag BCA_SESSION;

typedef struct ESS_ModuleHandle {
    int type;
    QEL_DllHandle* shobj;
    struct FunctionPtrs* funcs; /* the module's API handle */
    struct QEL_ModuleHandle* qel_module_handle;
} ESS_ModuleHandle;

struct BCA_PRF_tag {
    int moduleType;
    ESS_ModuleHandle* module;
    void* moduleProfile; /* the provider's own profile */
};

#define ESS_TEXT_ROOM 512

typedef struct ESS_X509Cert {
    int version;
    int keylen;
    char serialNumber[ESS_TEXT_ROOM];
    char subjectName[ESS_TEXT_ROOM];
    char issuerName[ESS_TEXT_ROOM];
    char status[ESS_TEXT_ROOM];
    time_t validFrom;
    time_t validTo;
    int authorizationStatus;
    char authorizedName[ESS_TEXT_ROOM];
    char mappedName[ESS_TEXT_ROOM];
} ESS_X509Cert;

typedef struct ESS_SslSessionAttr {
    char cipher[ESS_TEXT_ROOM];
    int certCount;
    int currCertIndex;
    ESS_X509Cert** certList;
} ESS_SslSessionAttr;

typedef struct ESS_Capability {
    struct {
        char* auth;
    } authCap;
    struct {
        char* crypto;
    } cryptoCap;
    struct {
        char* version1;
        char* version2;
        char* version3;
    } sessionCap;
    struct {
        char* authz;
    } authzCap;
    struct {
        char* schema;
    } configCap;
    struct {
        char* certification;
    } certificationCap;
    struct {
        char* version;
    } version;
} ESS_Capability;

typedef struct ESS_NameValue {
    char* name;
    union {
        int intValue;
        char* charValue;
    } value;
} ESS_NameValue;

typedef struct ESS_Option {
    int opcode;
    void* context;
    union {
        unsigned int level;
        unsigned int bitMask;
        int haveCertKey;
        int verify;
        char* password;
        char* name;
        char* provider;
        char* service;
        ESS_SslSessionAttr** sessAttrPtr;
        void* compareHandle;
        ESS_LogCallback logCallback;
        ESS_NameValue nameValue;
        void* handle;
        void** ptrTable;
    } allOptions;
} ESS_Option;

/* Option opcodes of the interface. */
#define ESS_OPT_LOG_HANDLER 7
#define ESS_OPT_SET_LOG_LEVEL 8
#define ESS_OPT_GET_LOG_LEVEL 9
#define ESS_OPT_GET_ATTRIBUTE 10
#define ESS_OPT_SET_ATTRIBUTE 11
#define ESS_OPT_LAST_ERROR 12
#define ESS_OPT_GET_PASSWORD 18
#define ESS_OPT_STORE_PASSWORD 19
#define ESS_OPT_DELETE_PASSWORD 20

/* What a provider answers while a handshake wants to be called again. */
#define ESS_WOULD_BLOCK (-32)

#endif
