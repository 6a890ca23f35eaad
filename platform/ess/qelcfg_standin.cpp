// Configuration provider stand-in (libqelcfg.so, libqelcfgnl.so and a variant with its
// life-cycle entries left empty), signed at build like a real provider. It keeps the entries a
// policy hands it, answers from them, and appends every entry called to the journal file named by
// QELCFG_JOURNAL, one line each. The entry "standin_fail" names entries (comma-separated) that
// then fail with a last-error text; a pair whose value is "standin_refuse" is refused when handed
// over. Links nothing of the product. Like every test module, its constructor appends its path to
// the file named by QEL_TESTMOD_MARKER.
#define _GNU_SOURCE 1
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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
};

Handle* of(BCFG_Handle* h) { return reinterpret_cast<Handle*>(h); }

void journal(const std::string& line) {
    const char* path = std::getenv("QELCFG_JOURNAL");
    if (!path) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] ssize_t n = write(fd, text.data(), text.size());
    close(fd);
}

std::string value_of(Handle* h, const std::string& name) {
    auto it = h->pairs.find(name);
    return it == h->pairs.end() ? std::string() : it->second;
}

/* Whether the policy asked this entry to fail; then the last error says so. */
bool failing(Handle* h, const char* entry) {
    const std::string list = "," + value_of(h, "standin_fail") + ",";
    if (list.find("," + std::string(entry) + ",") == std::string::npos) return false;
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
    delete of(h);
    return 0;
}
char* GetVersion(BCFG_Handle*) { return const_cast<char*>(kVersion); }
int SecurityPolicyNew(BCFG_Handle* h, const char* role) {
    journal(std::string("SecurityPolicyNew ") + (role ? role : ""));
    of(h)->role = role ? role : "";
    return 0;
}
int SecurityPolicyDelete(BCFG_Handle*) { return journal("SecurityPolicyDelete"), 0; }
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
void SetModuleVersion(BCFG_Handle*, char* version) { journal(std::string("SetModuleVersion ") + (version ? version : "")); }
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
BCA_PRF* GetBCA(BCFG_Handle* h) {
    journal("GetBCA");
    failing(of(h), "GetBCA");
    return nullptr;
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
    Startup, Shutdown, GetVersion, SecurityPolicyNew, SecurityPolicyDelete, FreePtr, ParamListSet, SetLevel, Init,
    BindEE, BootStrapEE, SetModuleVersion, SetProviderOptionsMask, SetNameValue, GetValueByName, GetLastError, GetLog,
    GetLevel, GetModule, GetBCA, GetBPW, GetBAA, GetBAZ, GetProviderOptionsMask, GetIdentity, GetService, GetPassword,
    SetPassword, GetKeyfile, GetSecurityPath, GetRole, SetModuleLoadMask, GetModuleLoadMask, Dump, SetLastError,
    LIFE_CYCLE(Load), LIFE_CYCLE(Unload), LIFE_CYCLE(Open), LIFE_CYCLE(Close), LIFE_CYCLE(PolicyShutdown), BindEE_Ex,
    LIFE_CYCLE(GetArgvTab),
};

__attribute__((constructor)) void loaded() {
    const char* marker = std::getenv(QEL_TESTMOD_MARKER_ENV);
    if (!marker) return;
    Dl_info info;
    const char* self = dladdr(reinterpret_cast<void*>(&loaded), &info) && info.dli_fname ? info.dli_fname : "?";
    if (FILE* f = std::fopen(marker, "a")) {
        std::fprintf(f, "%s\n", self);
        std::fclose(f);
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int QEL_DllVersionCompatibilityFunc(char*) { return 1; }
__attribute__((visibility("default"))) void* QEL_DllGetCaps(void) { return &table; }
__attribute__((visibility("default"))) void* QEL_DllAPIHandle(void) { return &table; }

}  // extern "C"
