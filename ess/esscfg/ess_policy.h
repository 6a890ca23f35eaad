/* Security policy: for one role of a program, the settings read from the "common" and role
 * stanzas of a site and an application policy file, handed to a signed configuration provider that
 * the policy loads from its "bindir64"; most operations are forwarded to that provider. */
#ifndef ESS_POLICY_H
#define ESS_POLICY_H

#include "bcfg_api.h"
#include "bcm_log.h"
#include "cmpltfrm.h"
#include "ess_paramlist.h"
#include "qel_module.h"

CM_EXTERN_C_BEGIN

/* Roles: index given to ESS_Policy_New, name used as the stanza. */
#define ESS_POLICY_ROLE_CLIENT 0
#define ESS_POLICY_ROLE_SERVER 1
#define ESS_POLICY_ROLE_SIGNER 2
#define ESS_POLICY_ROLE_VERIFIER 3
#define ESS_POLICY_ROLE_KEYSTORE 4
#define ESS_POLICY_ROLE_AUTHENTICATOR 5
#define ESS_POLICY_ROLE_AUTHORIZER 6
#define ESS_POLICY_ROLE_ENCRYPTOR 7

/* Stanzas read by initialisation, in the order read (later entries replace earlier ones). */
#define ESS_POLICY_SITE_ROLE 0x1
#define ESS_POLICY_SITE_COMMON 0x2
#define ESS_POLICY_APPS_ROLE 0x4
#define ESS_POLICY_APPS_COMMON 0x8
#define ESS_POLICY_ALL_STANZAS 0xF

#define ESS_POLICY_VERSION_NEW 0
#define ESS_POLICY_VERSION_30 30
#define ESS_POLICY_ERROR_ROOM 512

/* Results beyond 0 and -1; any other value is a provider's result. */
#define ESS_POLICY_UNREADABLE (-4)
#define ESS_POLICY_MISSING_ENTRY (-5)
#define ESS_POLICY_NO_MEMORY (-44)
#define ESS_POLICY_MODULE_FAILED (-49)

typedef struct ESS_Policy_struct {
    int m_nVersion;
    ESS_ParamList* m_ESS_ParamList;
    char* m_strBinDir;
    char* m_sitePolicy;
    char* m_appsPolicy;
    char* m_strRole;
    char m_strLastError[ESS_POLICY_ERROR_ROOM];
    QEL_ModuleHandle* m_module;
    BCFG_Handle* m_bcfgHandle;
    BCFG_API* m_bcfgAPI;
    char* m_strModuleName;
    char* m_strLogfile;
} ESS_Policy;

ESS_Policy* ESS_Policy_New(const char* site, const char* apps, int role);
ESS_Policy* ESS_Policy_NewEx(const char* site, const char* apps, const char* roleName);
int ESS_Policy_InitSecurityPolicy(ESS_Policy* policy);
int ESS_Policy_InitSecurityPolicyEx(ESS_Policy* policy, int mask);
void ESS_Policy_Delete(ESS_Policy* policy);
const char* ESS_Policy_GetVersion(void);

char* ESS_Policy_GetLastError(ESS_Policy* policy);
int ESS_Policy_GetLevel(ESS_Policy* policy);
char* ESS_Policy_GetModule(ESS_Policy* policy);
BCA_PRF* ESS_Policy_GetBCA(ESS_Policy* policy);
BPW_HANDLE* ESS_Policy_GetBPW(ESS_Policy* policy);
BAA_HANDLE* ESS_Policy_GetBAA(ESS_Policy* policy);
BAZ_HANDLE* ESS_Policy_GetBAZ(ESS_Policy* policy);
int ESS_Policy_BootStrapEE(ESS_Policy* policy, char* name);
void ESS_Policy_SetModuleVersion(ESS_Policy* policy, char* version);
int ESS_Policy_Load(ESS_Policy* policy);
int ESS_Policy_Open(ESS_Policy* policy);
int ESS_Policy_Close(ESS_Policy* policy);
int ESS_Policy_Unload(ESS_Policy* policy);
int ESS_Policy_Shutdown(ESS_Policy* policy);
void ESS_Policy_FreePtr(ESS_Policy* policy, void* ptr);
int ESS_Policy_SetSecurityLevel(ESS_Policy* policy, int level);
int ESS_Policy_BindEE(ESS_Policy* policy, char* name);
int ESS_Policy_BindEE_Ex(ESS_Policy* policy, char* name, int flags);
ESS_Log* ESS_Policy_GetLog(ESS_Policy* policy);
char* ESS_Policy_GetKeyIdentity(ESS_Policy* policy);
char* ESS_Policy_GetService(ESS_Policy* policy);
int ESS_Policy_SetPassword(ESS_Policy* policy, char* password);
int ESS_Policy_GetPassword(ESS_Policy* policy, char* buf, int size);
char* ESS_Policy_GetKeyFile(ESS_Policy* policy);
char* ESS_Policy_GetValueByName(ESS_Policy* policy, const char* name);
char* ESS_Policy_GetSecurityPath(ESS_Policy* policy);
int ESS_Policy_GetRole(ESS_Policy* policy);
unsigned int ESS_Policy_GetProviderOptionsMask(ESS_Policy* policy);
void ESS_Policy_SetProviderOptionsMask(ESS_Policy* policy, unsigned int mask);
void ESS_Policy_SetModuleLoadMask(ESS_Policy* policy, unsigned int mask);
unsigned int ESS_Policy_GetModuleLoadMask(ESS_Policy* policy);
void ESS_Policy_Dump(ESS_Policy* policy);
char** ESS_Policy_GetArgvTab(ESS_Policy* policy);
int ESS_Policy_SetNameValue(ESS_Policy* policy, const char* name, const char* value);
void ESS_Policy_SetLastError(ESS_Policy* policy, const char* format, ...) __attribute__((format(printf, 2, 3)));
char* ESS_Policy_GetSKSPath(ESS_Policy* policy);
char* ESS_Policy_GetBinDir(ESS_Policy* policy);
/* "/etc/<dir>/security_policy_v3.0/<file>" into buf. */
char* ESS_Policy_GetDefaultLocation(char* buf, int size, const char* dir, const char* file);

CM_EXTERN_C_END

#endif
