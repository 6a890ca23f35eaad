/* Security policy: reading the site and application stanzas (with policy links and the policy's
 * own overrides) into a parameter list, loading, starting and feeding the signed configuration
 * provider, and forwarding the policy's operations to it. Owns the policy object, its copies, its
 * parameter list and its reference to the provider module. */
#include "ess_policy.h"

#include <strings.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ess_catalog_internal.h"
#include "ess_config.h"
#include "ess_str_utils.h"
#include "globalchelper.h"

namespace {

using namespace ess_catalog;

constexpr const char* kRoles[] = {"client",   "server",        "signer",     "verifier",
                                  "keystore", "authenticator", "authorizer", "encryptor"};
constexpr const char* kPolicyVersion = "_v3.0";
constexpr const char* kCommon = "common";
constexpr const char* kBinDir64 = "bindir64";
constexpr const char* kBinDir = "bindir";
constexpr const char* kLogFile = "logfile";
constexpr const char* kModuleName = "module_name";
constexpr const char* kModuleNameNl = "DEFAULT_NAME_NL";
constexpr const char* kPolicyLink = "policy_link";
constexpr const char* kSksDir = "sksdir";
constexpr const char* kSiteLocation = "PARAM_site_plc_loc";
constexpr const char* kAppsLocation = "PARAM_app_plc_loc";
constexpr const char* kProviderBase = "libqelcfg";
constexpr const char* kProviderSuffix = ".so";
constexpr const char* kProviderNl = "nl";
constexpr const char* kProviderVersion = "1.0";
constexpr const char* kPrivateData = "Private Data";
constexpr size_t kStanzaMax = 510;       // characters of a stanza address
constexpr size_t kModulePathMax = 1023;  // a provider path this long or longer is refused
constexpr int kEntryRoom = 1024;         // names and values handed to the provider, each cut to 1023

/* A value as an error text may show it: never the value of a name that speaks of a password. */
const char* shown_value(const char* name, const char* value) {
    if (name)
        for (const char* p = name; *p; ++p)
            if (strncasecmp(p, "PASSW", 5) == 0) return kPrivateData;
    return value ? value : "";
}

/* Records the failure text in the policy and prints it with a newline to standard output. */
void fail_text(ESS_Policy* policy, const std::string& text) {
    ess_strncpy(policy->m_strLastError, text.c_str(), sizeof policy->m_strLastError);
    EssGlobalcPrintf("%s\n", policy->m_strLastError);
}

template <typename... Args>
std::string formatted(const char* format, Args... args) {
    char text[ESS_POLICY_ERROR_ROOM];
    EssGlobalcSnprintfUtf8(text, sizeof text, format, args...);
    return text;
}

template <typename... Args>
std::string message(const Message& m, Args... args) {
    char text[ESS_POLICY_ERROR_ROOM];
    EssGlobalcUtf8Sprintf(text, sizeof text, ESS_MSG(m), args...);
    return text;
}

bool replace_copy(char** field, const char* value) {
    char* copy = value ? ess_strdup(value) : nullptr;
    if (value && !copy) return false;
    std::free(*field);
    *field = copy;
    return true;
}

bool started(ESS_Policy* p) { return p && p->m_bcfgAPI && p->m_bcfgHandle; }

/* Calls the provider's entry, or gives `none` without a started provider or an empty entry. */
template <typename R, typename F, typename... Args>
R forward(ESS_Policy* p, F BCFG_API::*entry, R none, Args... args) {
    if (!started(p) || !(p->m_bcfgAPI->*entry)) return none;
    return (p->m_bcfgAPI->*entry)(p->m_bcfgHandle, args...);
}

template <typename F, typename... Args>
void forward_void(ESS_Policy* p, F BCFG_API::*entry, Args... args) {
    if (started(p) && (p->m_bcfgAPI->*entry)) (p->m_bcfgAPI->*entry)(p->m_bcfgHandle, args...);
}

/* Stores one attribute of a stanza; "logfile" and "bindir" take the policy's override when set. */
int store(ESS_Policy* policy, const char* name, const char* value) {
    if (strcasecmp(name, kLogFile) == 0 && policy->m_strLogfile) value = policy->m_strLogfile;
    if (strcasecmp(name, kBinDir) == 0 && policy->m_strBinDir) value = policy->m_strBinDir;
    const int rc = ESS_ParamList_SetString(policy->m_ESS_ParamList, name, value);
    if (rc != 0)
        fail_text(policy, formatted("ESS_ParamList_SetString '%s'='%s' failed.", name, shown_value(name, value)));
    return rc;
}

/* Reads the stanza "<location>/<stanza>" (following its policy link) into the parameter list. */
int ess_policy_Read(ESS_Policy* policy, const std::string& address) {
    if (address.empty()) return -1;
    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, address.c_str(), ESS_CONFIG_MODE_READ);
    if (!ctx) return ESS_POLICY_UNREADABLE;
    char* link = nullptr;
    if (ESS_Config_GetAttribute(ctx, kPolicyLink, &link) == 0 && link) {
        /* The link always leads to the role's stanza of the other location. */
        ESS_Config_Delete(&ctx);
        const std::string linked = std::string(link) + "/" + policy->m_strRole;
        if (linked.size() <= kStanzaMax)
            ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, linked.c_str(), ESS_CONFIG_MODE_READ);
        const int stored = ctx ? ESS_ParamList_SetString(policy->m_ESS_ParamList, kPolicyLink, link) : 0;
        std::free(link);
        if (!ctx) return ESS_POLICY_UNREADABLE;
        if (stored != 0) {
            ESS_Config_Delete(&ctx);
            return stored;
        }
    } else {
        std::free(link);
    }
    int rc = 0;
    char* name = nullptr;
    char* value = nullptr;
    for (int walk = ESS_Config_GetFirstAttribute(ctx, &name, &value); walk == 0 && rc == 0;
         walk = ESS_Config_GetNextAttribute(ctx, &name, &value)) {
        if (name && *name) rc = store(policy, name, value ? value : "");
        std::free(name);
        std::free(value);
        name = value = nullptr;
    }
    ESS_Config_Delete(&ctx);
    return rc;
}

/* The stanza address of a location, or "" when it would not fit (and so is not read). */
std::string stanza_address(const char* location, const char* stanza) {
    std::string address = std::string(location) + '/' + stanza;
    return address.size() <= kStanzaMax ? address : std::string();
}

bool has_text(const char* s) { return s && *s; }

int init_failure(ESS_Policy* policy, int rc, const std::string& text) {
    fail_text(policy, text);
    return rc;
}

/* Hands every entry of the list to the provider. */
int hand_over(ESS_Policy* policy) {
    char name[kEntryRoom];
    char value[kEntryRoom];
    int size = kEntryRoom - 1;
    for (int walk = ESS_ParamList_GetFirst(policy->m_ESS_ParamList, name, sizeof name, value, &size);
         walk != ESS_END_OF_WALK; size = kEntryRoom - 1,
             walk = ESS_ParamList_GetNext(policy->m_ESS_ParamList, name, sizeof name, value, &size)) {
        if (walk != 0) continue;
        value[size] = '\0';
        if (policy->m_bcfgAPI->pBCFG_SecurityPolicyParamListSet(policy->m_bcfgHandle, name, value) != 0)
            return init_failure(policy, -1,
                                formatted("pBCFG_SecurityPolicyParamListSet failed for name='%s' value='%s'", name,
                                          shown_value(name, value)));
    }
    return 0;
}

}  // namespace

extern "C" {

const char* ESS_Policy_GetVersion(void) { return kPolicyVersion; }

ESS_Policy* ESS_Policy_New(const char* site, const char* apps, int role) {
    if (role < ESS_POLICY_ROLE_CLIENT || role > ESS_POLICY_ROLE_ENCRYPTOR) return nullptr;
    return ESS_Policy_NewEx(site, apps, kRoles[role]);
}

ESS_Policy* ESS_Policy_NewEx(const char* site, const char* apps, const char* roleName) {
    auto* p = static_cast<ESS_Policy*>(std::calloc(1, sizeof(ESS_Policy)));
    if (!p || !replace_copy(&p->m_sitePolicy, site) || !replace_copy(&p->m_appsPolicy, apps) ||
        !replace_copy(&p->m_strRole, roleName)) {
        EssGlobalcPrintf("calloc failed\n");
        ESS_Policy_Delete(p);
        return nullptr;
    }
    return p;
}

int ESS_Policy_InitSecurityPolicy(ESS_Policy* policy) {
    return ESS_Policy_InitSecurityPolicyEx(policy, ESS_POLICY_ALL_STANZAS);
}

int ESS_Policy_InitSecurityPolicyEx(ESS_Policy* policy, int mask) {
    if (!policy) return -1;
    if (!has_text(policy->m_sitePolicy) && !has_text(policy->m_appsPolicy)) {
        EssGlobalcPrintf("NULL sitePolicy and appsPolicy\n");
        return -1;
    }
    if (policy->m_module) return -1;  // initialised once
    policy->m_nVersion = ESS_POLICY_VERSION_30;
    ESS_ParamList_Delete(&policy->m_ESS_ParamList);
    policy->m_ESS_ParamList = ESS_ParamList_New();
    if (!policy->m_ESS_ParamList) {
        EssGlobalcPrintf("ESS_ParamList_New failed\n");
        return -1;
    }
    const char* role = policy->m_strRole ? policy->m_strRole : "";

    /* Site common, site role, application common, application role: later entries win. */
    std::string tried[4];
    bool any = false;
    struct Read {
        const char* location;
        int bit;
        const char* stanza;
        int slot;
    };
    const Read reads[] = {
        {policy->m_sitePolicy, ESS_POLICY_SITE_COMMON, kCommon, 0},
        {policy->m_sitePolicy, ESS_POLICY_SITE_ROLE, role, 1},
        {policy->m_appsPolicy, ESS_POLICY_APPS_COMMON, kCommon, 2},
        {policy->m_appsPolicy, ESS_POLICY_APPS_ROLE, role, 3},
    };
    for (const Read& r : reads) {
        if (!has_text(r.location)) continue;
        if (mask & r.bit) {
            tried[r.slot] = stanza_address(r.location, r.stanza);
            const int rc = tried[r.slot].empty() ? ESS_POLICY_UNREADABLE : ess_policy_Read(policy, tried[r.slot]);
            if (rc == 0)
                any = true;
            else if (rc != ESS_POLICY_UNREADABLE)
                return rc;  // the store failed; its text is set
        }
        if (r.slot == 1 || r.slot == 3) {
            const char* key = r.slot == 1 ? kSiteLocation : kAppsLocation;
            if (ESS_ParamList_SetString(policy->m_ESS_ParamList, key, r.location) != 0)
                return init_failure(policy, -1,
                                    formatted("ESS_ParamList_SetString '%s'='%s' failed.", key, r.location));
        }
    }
    if (!any)
        return init_failure(policy, ESS_POLICY_UNREADABLE,
                            formatted("Security policy is either missing or unreadable: %s %s %s %s", tried[0].c_str(),
                                      tried[1].c_str(), tried[2].c_str(), tried[3].c_str()));

    char* bindir = nullptr;
    if (ESS_ParamList_GetString(policy->m_ESS_ParamList, kBinDir64, &bindir) != 0 || !bindir)
        return init_failure(policy, ESS_POLICY_MISSING_ENTRY, message(kPolicyMissingEntry, role, kBinDir64));
    if (!replace_copy(&policy->m_strBinDir, bindir))
        return init_failure(policy, ESS_POLICY_NO_MEMORY, message(kPolicyNoMemory));
    char* module_name = nullptr;
    if (ESS_ParamList_GetString(policy->m_ESS_ParamList, kModuleName, &module_name) == 0 &&
        !replace_copy(&policy->m_strModuleName, module_name))
        return init_failure(policy, ESS_POLICY_NO_MEMORY, message(kPolicyNoMemory));

    const bool nl = policy->m_strModuleName && strcasecmp(policy->m_strModuleName, kModuleNameNl) == 0;
    const std::string path =
        std::string(policy->m_strBinDir) + '/' + kProviderBase + (nl ? kProviderNl : "") + kProviderSuffix;
    if (path.size() >= kModulePathMax) {
        EssGlobalcPrintf("%s\n", text(kPolicyOverrun).c_str());
        return init_failure(policy, -1, formatted("ess_policy_MakeModuleName for %s failed", kProviderBase));
    }

    int rc = 0;
    policy->m_module = QEL_LoadModule(path.c_str(), &rc, 0, const_cast<char*>(kProviderVersion));
    if (!policy->m_module || rc != 0)
        return init_failure(policy, ESS_POLICY_MODULE_FAILED,
                            formatted("Unable to load module '%s',%s", path.c_str(), QEL_LoadError()));
    policy->m_bcfgAPI = static_cast<BCFG_API*>(policy->m_module->APIHandle);
    char error[BCFG_ERROR_ROOM] = "";
    const char* site = policy->m_sitePolicy ? policy->m_sitePolicy : "";
    const char* apps = policy->m_appsPolicy ? policy->m_appsPolicy : "";
    if (policy->m_bcfgAPI && policy->m_bcfgAPI->pBCFG_Startup)
        policy->m_bcfgHandle = policy->m_bcfgAPI->pBCFG_Startup(policy->m_module->APIHandle, error);
    if (!policy->m_bcfgHandle)
        return init_failure(policy, -1, formatted("pBCFG_Startup for siteplc='%s' appplc='%s'failed", site, apps));
    rc = policy->m_bcfgAPI->pBCFG_SecurityPolicyNew
             ? policy->m_bcfgAPI->pBCFG_SecurityPolicyNew(policy->m_bcfgHandle, role)
             : -1;
    if (rc != 0)
        return init_failure(policy, rc,
                            formatted("pBCFG_SecurityPolicyNew for siteplc='%s' appplc='%s'failed", site, apps));
    if (!policy->m_bcfgAPI->pBCFG_SecurityPolicyParamListSet)
        return init_failure(policy, -1, "no pBCFG_SecurityPolicyParamListSet");
    if ((rc = hand_over(policy)) != 0) return rc;
    rc = policy->m_bcfgAPI->pBCFG_SecurityPolicyInit ? policy->m_bcfgAPI->pBCFG_SecurityPolicyInit(policy->m_bcfgHandle)
                                                     : -1;
    if (rc != 0) {
        const char* why = ESS_Policy_GetLastError(policy);
        fail_text(policy, why ? why : "");
    }
    return rc;
}

void ESS_Policy_Delete(ESS_Policy* policy) {
    if (!policy) return;
    if (started(policy)) {
        if (policy->m_bcfgAPI->pBCFG_SecurityPolicyDelete)
            policy->m_bcfgAPI->pBCFG_SecurityPolicyDelete(policy->m_bcfgHandle);
        if (policy->m_bcfgAPI->pBCFG_Shutdown)
            policy->m_bcfgAPI->pBCFG_Shutdown(policy->m_bcfgHandle, policy->m_strLastError);
    }
    policy->m_bcfgHandle = nullptr;
    ESS_ParamList_Delete(&policy->m_ESS_ParamList);
    if (policy->m_module) QEL_UnloadModule(policy->m_module);
    std::free(policy->m_strLogfile);
    std::free(policy->m_strBinDir);
    std::free(policy->m_strModuleName);
    std::free(policy->m_sitePolicy);
    std::free(policy->m_appsPolicy);
    std::free(policy->m_strRole);
    std::free(policy);
}

char* ESS_Policy_GetLastError(ESS_Policy* policy) {
    if (!policy) return nullptr;
    if (started(policy) && policy->m_bcfgAPI->pBCFG_SecurityPolicyGetLastError)
        return policy->m_bcfgAPI->pBCFG_SecurityPolicyGetLastError(policy->m_bcfgHandle);
    return policy->m_strLastError;
}

int ESS_Policy_GetLevel(ESS_Policy* policy) {
    if (!policy) return -1;
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetLevel, 0);
}

char* ESS_Policy_GetModule(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetModule, static_cast<char*>(nullptr));
}
BCA_PRF* ESS_Policy_GetBCA(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetBCA, static_cast<BCA_PRF*>(nullptr));
}
BPW_HANDLE* ESS_Policy_GetBPW(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetBPW, static_cast<BPW_HANDLE*>(nullptr));
}
BAA_HANDLE* ESS_Policy_GetBAA(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetBAA, static_cast<BAA_HANDLE*>(nullptr));
}
BAZ_HANDLE* ESS_Policy_GetBAZ(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetBAZ, static_cast<BAZ_HANDLE*>(nullptr));
}
int ESS_Policy_BootStrapEE(ESS_Policy* policy, char* name) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyBootStrapEE, -1, name);
}
void ESS_Policy_SetModuleVersion(ESS_Policy* policy, char* version) {
    forward_void(policy, &BCFG_API::pBCFG_SecurityPolicySetModuleVersion, version);
}
int ESS_Policy_Load(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyLoad, -1); }
int ESS_Policy_Open(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyOpen, -1); }
int ESS_Policy_Close(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyClose, -1); }
int ESS_Policy_Unload(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyUnload, -1); }
int ESS_Policy_Shutdown(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyShutdown, -1); }

void ESS_Policy_FreePtr(ESS_Policy* policy, void* ptr) {
    if (ptr) forward_void(policy, &BCFG_API::pBCFG_SecurityPolicyFreePtr, ptr);
}

int ESS_Policy_SetSecurityLevel(ESS_Policy* policy, int level) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicySetLevel, -1, level);
}
int ESS_Policy_BindEE(ESS_Policy* policy, char* name) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyBindEE, -1, name);
}
int ESS_Policy_BindEE_Ex(ESS_Policy* policy, char* name, int flags) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyBindEE_Ex, -1, name, flags);
}
ESS_Log* ESS_Policy_GetLog(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetLog, static_cast<ESS_Log*>(nullptr));
}
char* ESS_Policy_GetKeyIdentity(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetIdentity, static_cast<char*>(nullptr));
}
char* ESS_Policy_GetService(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetService, static_cast<char*>(nullptr));
}
int ESS_Policy_SetPassword(ESS_Policy* policy, char* password) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicySetPassword, -1, password);
}
char* ESS_Policy_GetKeyFile(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetKeyfile, static_cast<char*>(nullptr));
}
char* ESS_Policy_GetValueByName(ESS_Policy* policy, const char* name) {
    if (!name) return nullptr;
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetValueByName, static_cast<char*>(nullptr), name);
}
char* ESS_Policy_GetSecurityPath(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetSecurityPath, static_cast<char*>(nullptr));
}
int ESS_Policy_GetRole(ESS_Policy* policy) { return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetRole, -1); }
unsigned int ESS_Policy_GetProviderOptionsMask(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetProviderOptionsMask, 0u);
}
void ESS_Policy_SetProviderOptionsMask(ESS_Policy* policy, unsigned int mask) {
    forward_void(policy, &BCFG_API::pBCFG_SecurityPolicySetProviderOptionsMask, mask);
}
void ESS_Policy_SetModuleLoadMask(ESS_Policy* policy, unsigned int mask) {
    forward_void(policy, &BCFG_API::pBCFG_SecurityPolicySetModuleLoadMask, mask);
}
unsigned int ESS_Policy_GetModuleLoadMask(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetModuleLoadMask, 0u);
}
void ESS_Policy_Dump(ESS_Policy* policy) { forward_void(policy, &BCFG_API::pBCFG_SecurityPolicyDump); }
char** ESS_Policy_GetArgvTab(ESS_Policy* policy) {
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetArgvTab, static_cast<char**>(nullptr));
}

int ESS_Policy_GetPassword(ESS_Policy* policy, char* buf, int size) {
    if (!buf || size < 1) return -1;
    char* password = forward(policy, &BCFG_API::pBCFG_SecurityPolicyGetPassword, static_cast<char*>(nullptr), buf);
    if (!password) return -1;
    const bool fits = std::strlen(password) <= static_cast<size_t>(size - 1);
    if (password != buf) {
        if (fits) std::memcpy(buf, password, std::strlen(password) + 1);
        ESS_Policy_FreePtr(policy, password);
    }
    return fits ? 0 : -1;
}

int ESS_Policy_SetNameValue(ESS_Policy* policy, const char* name, const char* value) {
    if (!policy || !name || !value) return -1;
    if (strcasecmp(name, kLogFile) == 0) return replace_copy(&policy->m_strLogfile, value) ? 0 : -1;
    if (strcasecmp(name, kBinDir) == 0) return replace_copy(&policy->m_strBinDir, value) ? 0 : -1;
    return forward(policy, &BCFG_API::pBCFG_SecurityPolicySetNameValue, -1, name, value);
}

void ESS_Policy_SetLastError(ESS_Policy* policy, const char* format, ...) {
    if (!started(policy) || !format) return;
    va_list args;
    va_start(args, format);
    EssGlobalcSVnprintfUtf8(policy->m_strLastError, sizeof policy->m_strLastError, format, args);
    va_end(args);
    forward(policy, &BCFG_API::pBCFG_SecurityPolicySetLastError, -1, static_cast<const char*>(policy->m_strLastError));
}

char* ESS_Policy_GetSKSPath(ESS_Policy* policy) { return ESS_Policy_GetValueByName(policy, kSksDir); }
char* ESS_Policy_GetBinDir(ESS_Policy* policy) { return ESS_Policy_GetValueByName(policy, kBinDir64); }

char* ESS_Policy_GetDefaultLocation(char* buf, int size, const char* dir, const char* file) {
    if (!buf || size < 1) return buf;
    EssGlobalcSnprintf(buf, size, "%s%s/%s%s/%s", "/etc/", dir ? dir : "", "security_policy", kPolicyVersion,
                       file ? file : "");
    return buf;
}

}  // extern "C"
