/* The configuration provider's table of entry points (its module's API handle), shared by the
 * security policy and the provider modules. Each entry takes the provider's handle for one policy
 * first; start-up takes the module's API handle and a 256-byte error buffer and returns the handle.
 * Texts a provider hands out are given back to it through pBCFG_SecurityPolicyFreePtr. */
#ifndef BCFG_API_H
#define BCFG_API_H

typedef struct BCFG_Handle_tag BCFG_Handle;
typedef struct BCA_PRF_tag BCA_PRF;
typedef struct BPW_HANDLE_tag BPW_HANDLE;
typedef struct BAA_HANDLE_tag BAA_HANDLE;
typedef struct BAZ_HANDLE_tag BAZ_HANDLE;
struct BCM_LogType;

#define BCFG_ERROR_ROOM 256

typedef struct BCFG_API {
    BCFG_Handle* (*pBCFG_Startup)(void* apiHandle, char* error);
    int (*pBCFG_Shutdown)(BCFG_Handle* h, char* error);
    char* (*pBCFG_GetVersion)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyNew)(BCFG_Handle* h, const char* role);
    int (*pBCFG_SecurityPolicyDelete)(BCFG_Handle* h);
    void (*pBCFG_SecurityPolicyFreePtr)(BCFG_Handle* h, void* ptr);
    int (*pBCFG_SecurityPolicyParamListSet)(BCFG_Handle* h, const char* name, const char* value);
    int (*pBCFG_SecurityPolicySetLevel)(BCFG_Handle* h, int level);
    int (*pBCFG_SecurityPolicyInit)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyBindEE)(BCFG_Handle* h, char* name);
    int (*pBCFG_SecurityPolicyBootStrapEE)(BCFG_Handle* h, char* name);
    void (*pBCFG_SecurityPolicySetModuleVersion)(BCFG_Handle* h, char* version);
    void (*pBCFG_SecurityPolicySetProviderOptionsMask)(BCFG_Handle* h, unsigned int mask);
    int (*pBCFG_SecurityPolicySetNameValue)(BCFG_Handle* h, const char* name, const char* value);
    char* (*pBCFG_SecurityPolicyGetValueByName)(BCFG_Handle* h, const char* name);
    char* (*pBCFG_SecurityPolicyGetLastError)(BCFG_Handle* h);
    struct BCM_LogType* (*pBCFG_SecurityPolicyGetLog)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyGetLevel)(BCFG_Handle* h);
    char* (*pBCFG_SecurityPolicyGetModule)(BCFG_Handle* h);
    BCA_PRF* (*pBCFG_SecurityPolicyGetBCA)(BCFG_Handle* h);
    BPW_HANDLE* (*pBCFG_SecurityPolicyGetBPW)(BCFG_Handle* h);
    BAA_HANDLE* (*pBCFG_SecurityPolicyGetBAA)(BCFG_Handle* h);
    BAZ_HANDLE* (*pBCFG_SecurityPolicyGetBAZ)(BCFG_Handle* h);
    unsigned int (*pBCFG_SecurityPolicyGetProviderOptionsMask)(BCFG_Handle* h);
    char* (*pBCFG_SecurityPolicyGetIdentity)(BCFG_Handle* h);
    char* (*pBCFG_SecurityPolicyGetService)(BCFG_Handle* h);
    char* (*pBCFG_SecurityPolicyGetPassword)(BCFG_Handle* h, char* buf);
    int (*pBCFG_SecurityPolicySetPassword)(BCFG_Handle* h, char* password);
    char* (*pBCFG_SecurityPolicyGetKeyfile)(BCFG_Handle* h);
    char* (*pBCFG_SecurityPolicyGetSecurityPath)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyGetRole)(BCFG_Handle* h);
    void (*pBCFG_SecurityPolicySetModuleLoadMask)(BCFG_Handle* h, unsigned int mask);
    unsigned int (*pBCFG_SecurityPolicyGetModuleLoadMask)(BCFG_Handle* h);
    void (*pBCFG_SecurityPolicyDump)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicySetLastError)(BCFG_Handle* h, const char* text);
    int (*pBCFG_SecurityPolicyLoad)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyUnload)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyOpen)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyClose)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyShutdown)(BCFG_Handle* h);
    int (*pBCFG_SecurityPolicyBindEE_Ex)(BCFG_Handle* h, char* name, int flags);
    char** (*pBCFG_SecurityPolicyGetArgvTab)(BCFG_Handle* h);
} BCFG_API;

#ifdef __cplusplus
static_assert(sizeof(BCFG_API) == 42 * sizeof(void (*)(void)), "the provider table has 42 entries");
#endif

#endif
