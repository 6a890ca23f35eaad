/* Secure-communication interface: argument checks, then the entry of the profile's provider (an
 * empty entry counts as a failure), the option wrappers over BCA_Option, and the module and profile
 * records. Owns BCA_LoadError's text and the "session not found" text. */
#include "bca_api.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ess_catalog_internal.h"
#include "ess_str_utils.h"
#include "qel_module.h"

namespace {

constexpr const char* kApiVersion = "BCA Version 1.0|ess3.0.11.0|linux_2.6_x86_64|Aug 11 2011|13:34:03";
constexpr const char* kModuleVersion = "1.0";

char load_error[BCA_LOAD_ERROR_ROOM];
char session_error[BCA_SESSION_ERROR_ROOM];
std::mutex text_mutex;

FunctionPtrs* table(BCA_PRF* profile) { return profile && profile->module ? profile->module->funcs : nullptr; }

/* The provider entry with the profile's own profile first; `none` without one. */
template <typename R, typename F, typename... Args>
R call(BCA_PRF* profile, F FunctionPtrs::*entry, R none, Args... args) {
    FunctionPtrs* t = table(profile);
    if (!t || !(t->*entry)) return none;
    return (t->*entry)(profile->moduleProfile, args...);
}

template <typename F, typename... Args>
void call_void(BCA_PRF* profile, F FunctionPtrs::*entry, Args... args) {
    FunctionPtrs* t = table(profile);
    if (t && (t->*entry)) (t->*entry)(profile->moduleProfile, args...);
}

BCA_PRF* create_profile(ESS_ModuleHandle* module, bool server, char* host, unsigned short port, char* dconf,
                        char* mconf, int* status) {
    int local;
    if (!status) status = &local;
    *status = -1;
    if (!module || !module->funcs) return nullptr;
    auto ctor = server ? module->funcs->BCAF_CreateServerProfile : module->funcs->BCAF_CreateClientProfile;
    if (!ctor) return nullptr;
    auto* profile = static_cast<BCA_PRF*>(std::calloc(1, sizeof(BCA_PRF)));
    if (!profile) return nullptr;
    profile->moduleType = module->type;
    profile->module = module;
    profile->moduleProfile = ctor(host, port, dconf, mconf, status);
    if (!profile->moduleProfile) {
        std::free(profile);
        return nullptr;
    }
    return profile;
}

/* An option with the input record cleared but for its opcode. */
ESS_Option option(int opcode) {
    ESS_Option o;
    std::memset(&o, 0, sizeof o);
    o.opcode = opcode;
    return o;
}

ESS_Option cleared() { return option(0); }

}  // namespace

extern "C" {

void BCA_Init(void) {}

const char* BCA_ApiVersion(void) { return kApiVersion; }

ESS_ModuleHandle* BCA_LoadModule(const char* path, int* rc, int) {
    int local;
    if (!rc) rc = &local;
    QEL_ModuleHandle* loaded = QEL_LoadModule(path, rc, 0, const_cast<char*>(kModuleVersion));
    auto* module = loaded ? static_cast<ESS_ModuleHandle*>(std::calloc(1, sizeof(ESS_ModuleHandle))) : nullptr;
    if (!module) {
        std::lock_guard<std::mutex> lock(text_mutex);
        ess_strncpy(load_error, loaded ? "Cannot allocate memory for the module\n" : QEL_LoadError(),
                    sizeof load_error);
        if (loaded) QEL_UnloadModule(loaded);
        *rc = -1;
        return nullptr;
    }
    module->type = 0;
    module->shobj = loaded->shobj;
    module->funcs = static_cast<FunctionPtrs*>(loaded->APIHandle);
    module->qel_module_handle = loaded;
    return module;
}

int BCA_CloseModule(ESS_ModuleHandle* module) {
    if (!module) return -1;
    const int rc = QEL_UnloadModule(module->qel_module_handle);
    std::free(module);
    return rc;
}

char* BCA_LoadError(void) { return load_error; }

ESS_Capability* BCA_Caps(ESS_ModuleHandle* module) {
    return module && module->funcs && module->funcs->BCAF_Caps ? module->funcs->BCAF_Caps(module) : nullptr;
}

char* BCA_Version(ESS_ModuleHandle* module) {
    return module && module->funcs && module->funcs->BCAF_Version ? module->funcs->BCAF_Version(module) : nullptr;
}

BCA_PRF* BCA_CreateClientProfile(ESS_ModuleHandle* module, char* host, unsigned short port, char* dconf, char* mconf,
                                 int* status) {
    return create_profile(module, false, host, port, dconf, mconf, status);
}

BCA_PRF* BCA_CreateServerProfile(ESS_ModuleHandle* module, char* host, unsigned short port, char* dconf, char* mconf,
                                 int* status) {
    return create_profile(module, true, host, port, dconf, mconf, status);
}

int BCA_Close(BCA_PRF* profile) {
    if (!profile) return -1;
    const int rc = call(profile, &FunctionPtrs::BCAF_Close, -1);
    std::free(profile);
    return rc;
}

void BCA_DumpProfile(BCA_PRF* profile) { call_void(profile, &FunctionPtrs::BCAF_DumpProfile); }

void BCA_SetClientName(BCA_PRF* profile, char* name) {
    if (name) call_void(profile, &FunctionPtrs::BCAF_SetClientName, name);
}

void BCA_SetServerName(BCA_PRF* profile, char* name) {
    if (name) call_void(profile, &FunctionPtrs::BCAF_SetServerName, name);
}

char* BCA_GetClientName(BCA_PRF* profile, int* status) {
    if (!profile && status) *status = -1;
    return call(profile, &FunctionPtrs::BCAF_GetClientName, static_cast<char*>(nullptr), status);
}

char* BCA_GetServerName(BCA_PRF* profile, int* status) {
    if (!profile && status) *status = -1;
    return call(profile, &FunctionPtrs::BCAF_GetServerName, static_cast<char*>(nullptr), status);
}

int BCA_LoginUser(BCA_PRF* profile, char* user, char** passwd) {
    if (!user || !passwd) return -1;
    return call(profile, &FunctionPtrs::BCAF_LoginUser, -1, user, passwd);
}

char* BCA_GetUserName(BCA_PRF* profile) {
    return call(profile, &FunctionPtrs::BCAF_GetUserName, static_cast<char*>(nullptr));
}

int BCA_Connect(BCA_PRF* profile, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* cname,
                char* sname) {
    if (!h || !cname || !sname) return -1;
    return call(profile, &FunctionPtrs::BCAF_Connect, -1, options, h, rproc, wproc, cname, sname);
}

int BCA_Accept(BCA_PRF* profile, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* sname) {
    if (!h || !sname) return -1;
    return call(profile, &FunctionPtrs::BCAF_Accept, -1, options, h, rproc, wproc, sname);
}

int BCA_IsEstablished(BCA_PRF* profile, void* h) {
    return h ? call(profile, &FunctionPtrs::BCAF_IsEstablished, -1, h) : -1;
}
int BCA_GetSid(BCA_PRF* profile, void* h) { return h ? call(profile, &FunctionPtrs::BCAF_GetSid, -1, h) : -1; }
int BCA_Terminate(BCA_PRF* profile, void* h) { return h ? call(profile, &FunctionPtrs::BCAF_Terminate, -1, h) : -1; }
int BCA_CleanUp(BCA_PRF* profile, void* obj) { return obj ? call(profile, &FunctionPtrs::BCAF_CleanUp, -1, obj) : -1; }

int BCA_Write(BCA_PRF* profile, void* h, char* buf, int len) {
    if (!h || !buf || len < 1) return -1;
    return call(profile, &FunctionPtrs::BCAF_Write, -1, h, buf, len);
}

int BCA_Read(BCA_PRF* profile, void* h, char* buf, int len) {
    if (!h || !buf || len < 1) return -1;
    return call(profile, &FunctionPtrs::BCAF_Read, -1, h, buf, len);
}

int BCA_PeerEvent(BCA_PRF* profile, void* h, char* buf, int len) {
    if (!h || !buf || len < 1) return -1;
    return call(profile, &FunctionPtrs::BCAF_PeerEvent, -1, h, buf, len);
}

char* BCA_ReadEvent(BCA_PRF* profile, void* h, int* len) {
    if (!h || !len) return nullptr;
    return call(profile, &FunctionPtrs::BCAF_ReadEvent, static_cast<char*>(nullptr), h, len);
}

char* BCA_PacketBuffer(BCA_PRF* profile, void* h, char* buf, int* len) {
    if (!h || !buf || !len) return nullptr;
    return call(profile, &FunctionPtrs::BCAF_PacketBuffer, static_cast<char*>(nullptr), h, buf, len);
}

void BCA_AddAppCallback(BCA_PRF* profile, void* h, ESS_AppProc cb) {
    if (h) call_void(profile, &FunctionPtrs::BCAF_AddAppCallback, h, cb);
}

void BCA_AddHandler(BCA_PRF* profile, void* h, ESS_HandlerProc cb) {
    if (h) call_void(profile, &FunctionPtrs::BCAF_AddHandler, h, cb);
}

int BCA_Option(BCA_PRF* profile, ESS_Option* in, ESS_Option* out) {
    if (!in || !out) return -1;
    return call(profile, &FunctionPtrs::BCAF_Option, -1, in, out);
}

int BCA_SessionOption(BCA_PRF* profile, void* h, ESS_Option* in, ESS_Option* out) {
    if (!h || !in || !out) return -1;
    return call(profile, &FunctionPtrs::BCAF_SessionOption, -1, h, in, out);
}

int BCA_GetProtocol(BCA_PRF* profile) { return call(profile, &FunctionPtrs::BCAF_GetProtocol, -1); }
char* BCA_ErrList(BCA_PRF* profile, int code) {
    return call(profile, &FunctionPtrs::BCAF_ErrList, static_cast<char*>(nullptr), code);
}
int BCA_Peek(BCA_PRF* profile, void* h) { return call(profile, &FunctionPtrs::BCAF_Peek, -1, h); }
int BCA_Impersonate(BCA_PRF* profile, void* h) { return call(profile, &FunctionPtrs::BCAF_Impersonate, -1, h); }
int BCA_Revert(BCA_PRF* profile, void* h) { return call(profile, &FunctionPtrs::BCAF_Revert, -1, h); }

char* BCA_Log(BCA_PRF* profile, int level, char* str) {
    if (!str) return nullptr;
    return call(profile, &FunctionPtrs::BCAF_Log, static_cast<char*>(nullptr), level, str);
}

char* BCA_GetLastProfileError(BCA_PRF* profile) {
    ESS_Option in = option(ESS_OPT_LAST_ERROR);
    ESS_Option out = cleared();
    if (BCA_Option(profile, &in, &out) != 0) return nullptr;
    return out.allOptions.nameValue.value.charValue;
}

char* BCA_GetLastSessionError(BCA_PRF* profile, void* h) {
    ESS_Option in = option(ESS_OPT_LAST_ERROR);
    ESS_Option out = cleared();
    if (BCA_SessionOption(profile, h, &in, &out) == 0) return out.allOptions.nameValue.value.charValue;
    std::lock_guard<std::mutex> lock(text_mutex);
    ess_strncpy(session_error, ess_catalog::text(ess_catalog::kSessionNotFound).c_str(), sizeof session_error);
    return session_error;
}

BCA_SESSION* BCA_SessionCreate(BCA_PRF* profile, int role, int options, void* h, ESS_ReadProc rproc,
                               ESS_WriteProc wproc, char* cname, char* sname) {
    return call(profile, &FunctionPtrs::BCAF_SessionCreate, static_cast<BCA_SESSION*>(nullptr), role, options, h, rproc,
                wproc, cname, sname);
}

int BCA_SessionAccept(BCA_PRF* profile, BCA_SESSION* session) {
    return call(profile, &FunctionPtrs::BCAF_SessionAccept, -1, session);
}
int BCA_SessionConnect(BCA_PRF* profile, BCA_SESSION* session) {
    return call(profile, &FunctionPtrs::BCAF_SessionConnect, -1, session);
}

int BCA_SessionWrite(BCA_PRF* profile, BCA_SESSION* session, char* buf, int len) {
    if (!session || !buf || len < 1) return -1;
    return call(profile, &FunctionPtrs::BCAF_SessionWrite, -1, session, buf, len);
}

int BCA_SessionRead(BCA_PRF* profile, BCA_SESSION* session, char* buf, int len) {
    if (!session || !buf || len < 1) return -1;
    return call(profile, &FunctionPtrs::BCAF_SessionRead, -1, session, buf, len);
}

void BCA_SessionTerminate(BCA_PRF* profile, BCA_SESSION* session) {
    call_void(profile, &FunctionPtrs::BCAF_SessionTerminate, session);
}

int BCA_SessionIsEstablished(BCA_PRF* profile, BCA_SESSION* session) {
    return session ? call(profile, &FunctionPtrs::BCAF_SessionIsEstablished, -1, session) : -1;
}

int BCA_SessionOptionSess(BCA_PRF* profile, BCA_SESSION* session, ESS_Option* in, ESS_Option* out) {
    if (!in || !out) return -1;
    return call(profile, &FunctionPtrs::BCAF_SessionOptionSess, -1, session, in, out);
}

char* BCA_SessionGetLastError(BCA_PRF* profile, BCA_SESSION* session) {
    ESS_Option in = option(ESS_OPT_LAST_ERROR);
    ESS_Option out = cleared();
    if (BCA_SessionOptionSess(profile, session, &in, &out) != 0) return nullptr;
    return out.allOptions.nameValue.value.charValue;
}

int BCA_SessionPeek(BCA_PRF* profile, BCA_SESSION* session) {
    return session ? call(profile, &FunctionPtrs::BCAF_SessionPeek, -1, session) : -1;
}
int BCA_SessionImpersonate(BCA_PRF* profile, BCA_SESSION* session) {
    return call(profile, &FunctionPtrs::BCAF_SessionImpersonate, -1, session);
}
int BCA_SessionRevert(BCA_PRF* profile, BCA_SESSION* session) {
    return call(profile, &FunctionPtrs::BCAF_SessionRevert, -1, session);
}

int BCA_SetLogHandler(BCA_PRF* profile, ESS_LogCallback hook, void* context) {
    ESS_Option in = option(ESS_OPT_LOG_HANDLER);
    ESS_Option out = cleared();
    in.context = context;
    in.allOptions.logCallback = hook;
    return BCA_Option(profile, &in, &out);
}

int BCA_SetLogLevel(BCA_PRF* profile, unsigned int level) {
    ESS_Option in = option(ESS_OPT_SET_LOG_LEVEL);
    ESS_Option out = cleared();
    in.allOptions.level = level;
    return BCA_Option(profile, &in, &out);
}

int BCA_GetLogLevel(BCA_PRF* profile) {
    ESS_Option in = option(ESS_OPT_GET_LOG_LEVEL);
    ESS_Option out = cleared();
    if (BCA_Option(profile, &in, &out) != 0) return -1;
    return static_cast<int>(out.allOptions.level);
}

char* BCA_GetProfileAttributeChar(BCA_PRF* profile, char* name) {
    if (!name) return nullptr;
    ESS_Option in = option(ESS_OPT_GET_ATTRIBUTE);
    ESS_Option out = cleared();
    in.allOptions.nameValue.name = name;
    if (BCA_Option(profile, &in, &out) != 0) return nullptr;
    return out.allOptions.nameValue.value.charValue;
}

int BCA_GetProfileAttributeInt(BCA_PRF* profile, char* name, int* value) {
    if (!name || !value) return -1;
    ESS_Option in = option(ESS_OPT_GET_ATTRIBUTE);
    ESS_Option out = cleared();
    in.allOptions.nameValue.name = name;
    const int rc = BCA_Option(profile, &in, &out);
    if (rc == 0) *value = out.allOptions.nameValue.value.intValue;
    return rc;
}

int BCA_SetProfileAttributeChar(BCA_PRF* profile, char* name, char* value) {
    if (!name) return -1;
    ESS_Option in = option(ESS_OPT_SET_ATTRIBUTE);
    ESS_Option out = cleared();
    in.allOptions.nameValue.name = name;
    in.allOptions.nameValue.value.charValue = value;
    return BCA_Option(profile, &in, &out);
}

int BCA_SetProfileAttributeInt(BCA_PRF* profile, char* name, int value) {
    if (!name) return -1;
    ESS_Option in = option(ESS_OPT_SET_ATTRIBUTE);
    ESS_Option out = cleared();
    in.allOptions.nameValue.name = name;
    in.allOptions.nameValue.value.intValue = value;
    return BCA_Option(profile, &in, &out);
}

int BCA_SetAuthorizationCB(BCA_PRF* profile, int type, void* data) {
    ESS_Option in = option(type);
    ESS_Option out = cleared();
    in.allOptions.handle = data;
    return BCA_Option(profile, &in, &out);
}

int BCA_GetPassword(BCA_PRF* profile, char** data, int* length, const char* label) {
    if (!label) return -1;
    ESS_Option in = option(ESS_OPT_GET_PASSWORD);
    ESS_Option out = cleared();
    in.allOptions.name = const_cast<char*>(label);
    const int rc = BCA_Option(profile, &in, &out);
    if (rc != -1) {
        if (data) *data = out.allOptions.nameValue.name;
        if (length) *length = out.allOptions.nameValue.value.intValue;
    }
    return rc;
}

int BCA_StorePassword(BCA_PRF* profile, const char* data, int length, const char* label) {
    if (!label || !data || length < 0) return -1;
    ESS_Option in = option(ESS_OPT_STORE_PASSWORD);
    ESS_Option out = cleared();
    in.context = const_cast<char*>(label);
    in.allOptions.nameValue.name = const_cast<char*>(data);
    in.allOptions.nameValue.value.intValue = length;
    return BCA_Option(profile, &in, &out);
}

int BCA_DeletePassword(BCA_PRF* profile, const char* label) {
    if (!label) return -1;
    ESS_Option in = option(ESS_OPT_DELETE_PASSWORD);
    ESS_Option out = cleared();
    in.allOptions.name = const_cast<char*>(label);
    return BCA_Option(profile, &in, &out);
}

}  // extern "C"
