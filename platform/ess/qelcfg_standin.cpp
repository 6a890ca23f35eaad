// Configuration provider stand-in (libqelcfg.so, libqelcfgnl.so and a variant with its
// life-cycle entries left empty), signed at build like a real provider. It keeps the entries a
// policy hands it, answers from them, and appends every entry called to the journal file named by
// QELCFG_JOURNAL, one line each. GetBCA loads the secure-communication provider beside it
// ("<bindir64>/libqelbca.so") through the host library's own BCA_LoadModule, so signature-checked,
// with "sksdir" as the profile's store folder and "retries=<standin_retries>" as its mconf, followed
// by ";cert=..", ";key=.." and ";ca=.." for the role's "standin_tls_cert", "standin_tls_key" and
// "standin_tls_ca" entries: a server profile for the role "server", else a client one;
// SecurityPolicyDelete closes both. The entry "standin_fail" names entries (comma-separated) that
// then fail with a last-error text; a pair whose value is "standin_refuse" is refused when handed
// over. Links nothing of the product. Like every test module, its constructor appends its path to
// the file named by QEL_TESTMOD_MARKER.
#define _GNU_SOURCE 1
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bca_functions.h"
#include "bcfg_api.h"
#include "qel_testmod.h"

namespace {

constexpr int kFailure = -30;  // what a failing entry answers, so that tests see it passed on
constexpr const char* kRefused = "standin_refuse";

#ifdef QELCFG_NL
constexpr const char* kVersion = "qelcfg stand-in 1.0 nl";
#else
constexpr const char* kVersion = "qelcfg stand-in 1.0";
#endif

struct Handle {
    std::string role;
    std::map<std::string, std::string> pairs;
    std::string last_error;
    ESS_ModuleHandle* bca_module = nullptr;
    BCA_PRF* bca_profile = nullptr;
};

/* A function of the host library (the security library that loaded this module), also when the
 * host was loaded with RTLD_LOCAL: every loaded object is asked in turn. */
void* host_symbol(const char* name) {
    if (void* p = dlsym(RTLD_DEFAULT, name)) return p;
    struct Search {
        const char* name;
        void* found;
    } search{name, nullptr};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name) return 0;
            void* h = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD);
            if (!h) return 0;
            s->found = dlsym(h, s->name);
            dlclose(h);
            return s->found ? 1 : 0;
        },
        &search);
    return search.found;
}

template <typename F>
F host(const char* name) {
    return reinterpret_cast<F>(host_symbol(name));
}

using LoadModuleFn = ESS_ModuleHandle* (*)(const char*, int*, int);
using CloseModuleFn = int (*)(ESS_ModuleHandle*);
using LoadErrorFn = char* (*)(void);
using CreateProfileFn = BCA_PRF* (*)(ESS_ModuleHandle*, char*, unsigned short, char*, char*, int*);
using CloseProfileFn = int (*)(BCA_PRF*);

void close_bca(Handle* h) {
    if (h->bca_profile)
        if (auto close_profile = host<CloseProfileFn>("BCA_Close")) close_profile(h->bca_profile);
    if (h->bca_module)
        if (auto close_module = host<CloseModuleFn>("BCA_CloseModule")) close_module(h->bca_module);
    h->bca_profile = nullptr;
    h->bca_module = nullptr;
}

Handle* of(BCFG_Handle* h) { return reinterpret_cast<Handle*>(h); }

void journal(const std::string& line) { qel_standin_journal("QELCFG_JOURNAL", line.data(), line.size()); }

std::string value_of(Handle* h, const std::string& name) {
    auto it = h->pairs.find(name);
    return it == h->pairs.end() ? std::string() : it->second;
}

/* Whether the policy asked this entry to fail; then the last error says so. */
bool failing(Handle* h, const char* entry) {
    const std::string list = std::string(",").append(value_of(h, "standin_fail")).append(",");
    if (list.find(std::string(",").append(entry).append(",")) == std::string::npos) return false;
    h->last_error = std::string("stand-in: ") + entry + " failed as asked";
    return true;
}

char* copy(const std::string& s) { return strdup(s.c_str()); }

int call(BCFG_Handle* h, const char* entry) {
    journal(entry);
    return failing(of(h), entry) ? kFailure : 0;
}

BCFG_Handle* Startup(void*, char* error) {
    journal("Startup");
    if (error) error[0] = '\0';
    return reinterpret_cast<BCFG_Handle*>(new Handle());
}
int Shutdown(BCFG_Handle* h, char*) {
    journal("Shutdown");
    close_bca(of(h));
    delete of(h);
    return 0;
}
char* GetVersion(BCFG_Handle*) { return const_cast<char*>(kVersion); }
int SecurityPolicyNew(BCFG_Handle* h, const char* role) {
    journal(std::string("SecurityPolicyNew ") + (role ? role : ""));
    of(h)->role = role ? role : "";
    return 0;
}
int SecurityPolicyDelete(BCFG_Handle* h) {
    journal("SecurityPolicyDelete");
    close_bca(of(h));
    return 0;
}
void FreePtr(BCFG_Handle*, void* ptr) {
    journal("FreePtr");
    std::free(ptr);
}
int ParamListSet(BCFG_Handle* h, const char* name, const char* value) {
    journal(std::string("ParamListSet ") + name + "=" + value);
    if (std::strcmp(value, kRefused) == 0) {
        of(h)->last_error = std::string("stand-in: refused ") + name;
        return kFailure;
    }
    of(h)->pairs[name] = value;
    return 0;
}
int SetLevel(BCFG_Handle* h, int level) {
    journal("SetLevel " + std::to_string(level));
    of(h)->pairs["level"] = std::to_string(level);
    return 0;
}
int Init(BCFG_Handle* h) { return call(h, "Init"); }
int BindEE(BCFG_Handle* h, char*) { return call(h, "BindEE"); }
int BootStrapEE(BCFG_Handle* h, char*) { return call(h, "BootStrapEE"); }
void SetModuleVersion(BCFG_Handle*, char* version) {
    journal(std::string("SetModuleVersion ") + (version ? version : ""));
}
void SetProviderOptionsMask(BCFG_Handle*, unsigned int) { journal("SetProviderOptionsMask"); }
int SetNameValue(BCFG_Handle* h, const char* name, const char* value) {
    journal(std::string("SetNameValue ") + name);
    of(h)->pairs[name] = value;
    return 0;
}
char* GetValueByName(BCFG_Handle* h, const char* name) {
    auto it = of(h)->pairs.find(name);
    return it == of(h)->pairs.end() ? nullptr : const_cast<char*>(it->second.c_str());
}
char* GetLastError(BCFG_Handle* h) { return const_cast<char*>(of(h)->last_error.c_str()); }
BCM_LogType* GetLog(BCFG_Handle*) { return nullptr; }
int GetLevel(BCFG_Handle* h) {
    const std::string level = value_of(of(h), "level");
    return level.empty() ? 1 : std::atoi(level.c_str());
}
/* The secure-communication provider beside this one, handed out as a copy given back by FreePtr. */
char* GetModule(BCFG_Handle* h) {
    journal("GetModule");
    if (failing(of(h), "GetModule")) return nullptr;
    return copy(value_of(of(h), "bindir64") + "/libqelbca.so");
}
BCA_PRF* GetBCA(BCFG_Handle* bh) {
    journal("GetBCA");
    Handle* h = of(bh);
    if (failing(h, "GetBCA")) return nullptr;
    if (h->bca_profile) return h->bca_profile;
    auto load = host<LoadModuleFn>("BCA_LoadModule");
    auto load_error = host<LoadErrorFn>("BCA_LoadError");
    auto create = host<CreateProfileFn>(h->role == "server" ? "BCA_CreateServerProfile" : "BCA_CreateClientProfile");
    if (!load || !load_error || !create) {
        h->last_error = "stand-in: the host's secure-communication interface is not there";
        return nullptr;
    }
    const std::string path = value_of(h, "bindir64") + "/libqelbca.so";
    int rc = 0;
    h->bca_module = load(path.c_str(), &rc, 0);
    if (!h->bca_module) {
        h->last_error = load_error();
        return nullptr;
    }
    std::string dconf = value_of(h, "sksdir");
    std::string mconf = "retries=" + value_of(h, "standin_retries");
    /* The TLS files of the role, when it names them, put the profile's sessions on TLS. */
    for (const char* name : {"standin_tls_cert", "standin_tls_key", "standin_tls_ca"}) {
        const std::string value = value_of(h, name);
        if (!value.empty()) mconf += std::string(";") + (name + 12) + "=" + value;
    }
    std::string host_name = "localhost";
    int status = -1;
    h->bca_profile = create(h->bca_module, host_name.data(), 0, dconf.data(), mconf.data(), &status);
    if (!h->bca_profile) {
        h->last_error = "stand-in: no profile from " + path;
        close_bca(h);
    }
    return h->bca_profile;
}
BPW_HANDLE* GetBPW(BCFG_Handle*) { return nullptr; }
BAA_HANDLE* GetBAA(BCFG_Handle*) { return nullptr; }
BAZ_HANDLE* GetBAZ(BCFG_Handle*) { return nullptr; }
unsigned int GetProviderOptionsMask(BCFG_Handle*) { return 0; }
char* GetIdentity(BCFG_Handle* h) { return GetValueByName(h, "identity"); }
char* GetService(BCFG_Handle* h) { return GetValueByName(h, "service"); }
char* GetPassword(BCFG_Handle* h, char*) {
    journal("GetPassword");
    auto it = of(h)->pairs.find("password");
    return it == of(h)->pairs.end() ? nullptr : copy(it->second);
}
int SetPassword(BCFG_Handle* h, char* password) {
    journal("SetPassword");
    of(h)->pairs["password"] = password ? password : "";
    return 0;
}
char* GetKeyfile(BCFG_Handle* h) { return GetValueByName(h, "keyfile"); }
char* GetSecurityPath(BCFG_Handle* h) { return GetValueByName(h, "security_path"); }
int GetRole(BCFG_Handle*) { return 0; }
void SetModuleLoadMask(BCFG_Handle*, unsigned int) { journal("SetModuleLoadMask"); }
unsigned int GetModuleLoadMask(BCFG_Handle*) { return 0; }
void Dump(BCFG_Handle*) { journal("Dump"); }
int SetLastError(BCFG_Handle* h, const char* text) {
    of(h)->last_error = text ? text : "";
    return 0;
}
int Load(BCFG_Handle* h) { return call(h, "Load"); }
int Unload(BCFG_Handle* h) { return call(h, "Unload"); }
int Open(BCFG_Handle* h) { return call(h, "Open"); }
int Close(BCFG_Handle* h) { return call(h, "Close"); }
int PolicyShutdown(BCFG_Handle* h) { return call(h, "SecurityPolicyShutdown"); }
int BindEE_Ex(BCFG_Handle* h, char*, int) { return call(h, "BindEE_Ex"); }
char* argv_tab[] = {const_cast<char*>("qelcfg"), nullptr};
char** GetArgvTab(BCFG_Handle*) { return argv_tab; }

#ifdef QELCFG_SPARSE
#define LIFE_CYCLE(entry) ((void)entry, nullptr)
#else
#define LIFE_CYCLE(entry) entry
#endif

BCFG_API table = {
    Startup,
    Shutdown,
    GetVersion,
    SecurityPolicyNew,
    SecurityPolicyDelete,
    FreePtr,
    ParamListSet,
    SetLevel,
    Init,
    BindEE,
    BootStrapEE,
    SetModuleVersion,
    SetProviderOptionsMask,
    SetNameValue,
    GetValueByName,
    GetLastError,
    GetLog,
    GetLevel,
    GetModule,
    GetBCA,
    GetBPW,
    GetBAA,
    GetBAZ,
    GetProviderOptionsMask,
    GetIdentity,
    GetService,
    GetPassword,
    SetPassword,
    GetKeyfile,
    GetSecurityPath,
    GetRole,
    SetModuleLoadMask,
    GetModuleLoadMask,
    Dump,
    SetLastError,
    LIFE_CYCLE(Load),
    LIFE_CYCLE(Unload),
    LIFE_CYCLE(Open),
    LIFE_CYCLE(Close),
    LIFE_CYCLE(PolicyShutdown),
    BindEE_Ex,
    LIFE_CYCLE(GetArgvTab),
};

}  // namespace

QEL_STANDIN_MODULE(&table, &table)
