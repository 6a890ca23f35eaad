/* Module loader: the signature check of a provider file, the loading steps (open, entry symbols,
 * compatibility, API handle, shared text-layer state), and the process-wide cache of 64 entries
 * with its write lock and the library's start count. Owns loadError, the last loader message.
 * A module file is opened once: its signature is checked through that descriptor and the dynamic
 * loader opens the same file through it, so a file renamed over the path meanwhile never runs. */
#include "qel_module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bcm_lock.h"
#include "ess_catalog_internal.h"
#include "ess_str_utils.h"
#include "globalchelper.h"
#include "qel_module_internal.h"

namespace {

using namespace ess_catalog;

constexpr int kNativePathRoom = 1024;
constexpr int kReadBlock = 256;
constexpr int kMaxSignature = 255;
constexpr const char* kMissingPath = "(missing)";
constexpr size_t kNameTries = 256;  // descriptor numbers tried for a name no loaded object holds

std::mutex start_mutex;  // guards init_ref_counter and the creation and removal of cache_lock
int init_ref_counter = 0;
BCM_LockType* cache_lock = nullptr;
DllTableEntry DllCacheTable[QEL_MODULE_CACHE_SIZE];
std::atomic<unsigned int> funcFlags{QEL_LOAD_DEFAULT_MASK};

std::mutex error_mutex;
char loadError[QEL_LOAD_ERROR_ROOM];

void clear_error() {
    std::lock_guard<std::mutex> lock(error_mutex);
    loadError[0] = '\0';
}

void set_error_text(const char* text) {
    std::lock_guard<std::mutex> lock(error_mutex);
    ess_strncpy(loadError, text, sizeof loadError);
}

template <typename... Args>
void set_error(const Message& message, Args... args) {
    char text[QEL_LOAD_ERROR_ROOM];
    EssGlobalcUtf8Sprintf(text, sizeof text, ESS_MSG(message), args...);
    set_error_text(text);
}

const char* shown(const char* path) { return path ? path : " "; }

bool to_native(const char* path, char* native) {
    return std::strlen(path) < kNativePathRoom && EssUtf8ToNativeString(native, kNativePathRoom, path) > 0;
}

/* Closes a descriptor when it goes out of scope. */
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

BCM_LockType* current_cache_lock() {
    std::lock_guard<std::mutex> lock(start_mutex);
    return cache_lock;
}

/* Releases the cache's write lock when it goes out of scope. */
class CacheLockHold {
public:
    explicit CacheLockHold(BCM_LockType* lock) : lock_(lock) {}
    ~CacheLockHold() { BCM_WriteUnLock(lock_); }
    CacheLockHold(const CacheLockHold&) = delete;
    CacheLockHold& operator=(const CacheLockHold&) = delete;

private:
    BCM_LockType* lock_;
};

/* Reads exactly size bytes at offset; false on a short read. */
bool read_at(int fd, void* buffer, size_t size, off_t offset) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

/* The signature check of an open file: the last byte is the signature's length, the signature
 * stands before it and the digest covers everything before the signature. Messages name path. */
int verify_descriptor(int fd, const char* path) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        set_error(kSeekLib, shown(path));
        return -1;
    }
    const off_t last = st.st_size - 1;  // offset of the length byte
    if (last <= 0) {
        set_error(kEmptyLib, shown(path));
        return -1;
    }
    unsigned char length = 0;
    if (!read_at(fd, &length, 1, last) || length == 0) {
        set_error(kNotSigned, shown(path));
        return -1;
    }
    /* A length byte that points before the start of the file is refused before any hashing. */
    if (length > last) {
        set_error(kReadSignature);
        return -1;
    }
    qel_module::Sha0 sha;
    unsigned char block[kReadBlock];
    off_t at = 0;
    for (off_t remaining = last - length; remaining > 0;) {
        const size_t want = remaining < kReadBlock ? static_cast<size_t>(remaining) : sizeof block;
        if (!read_at(fd, block, want, at)) {
            set_error(kReadLib, shown(path));
            return -1;
        }
        sha.update(block, want);
        at += static_cast<off_t>(want);
        remaining -= static_cast<off_t>(want);
    }
    unsigned char digest[qel_module::Sha0::kDigestSize];
    sha.final(digest);
    unsigned char signature[kMaxSignature];
    if (!read_at(fd, signature, length, at)) {
        set_error(kReadSignature);
        return -1;
    }
    if (!qel_module::verify_digest(digest, signature, length)) {
        set_error(kBadSignature);
        return -1;
    }
    return 0;
}

/* The module file opened for reading, never through a link at its name and never blocking on a
 * FIFO; anything but a regular file is refused. -1 with the message set. */
int open_module(const char* path) {
    char native[kNativePathRoom];
    if (!to_native(path, native)) {
        set_error(kInitialStat, std::strerror(ENAMETOOLONG));
        return -1;
    }
    Descriptor fd(open(native, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ELOOP)
            set_error(kNotRegular, path);
        else
            set_error(kInitialStat, std::strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) {
        set_error(kInitialStat, std::strerror(errno));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        set_error(kNotRegular, path);
        return -1;
    }
    return fd.release();
}

std::string descriptor_name(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

/* True when no loaded object answers to the name of a descriptor that holds /dev/null, which no
 * object can be: the dynamic loader then finds nothing under the name and nothing in the file. */
bool descriptor_name_free(int number) {
    void* held = dlopen(descriptor_name(number).c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!held) return true;
    dlclose(held);
    return false;
}

/* The module's descriptor placed at a number whose name no loaded object holds. The dynamic loader
 * hands back an object it already holds under the name it is given, without opening anything, and
 * a /proc/self/fd name stays with an object after its descriptor was closed. Each number is tried
 * while this process holds it open on /dev/null, so no other thread's file is ever looked at; -1
 * when none of the next numbers is free. */
int loadable_descriptor(int fd) {
    std::vector<int> taken;  // numbers whose name an object holds, kept so that the next try moves on
    int placed = -1;
    while (placed < 0 && taken.size() < kNameTries) {
        const int number = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (number < 0) break;
        if (descriptor_name_free(number)) placed = dup3(fd, number, O_CLOEXEC);
        if (placed < 0) taken.push_back(number);
    }
    const int err = errno;
    for (const int number : taken) close(number);
    errno = placed < 0 && taken.size() >= kNameTries ? EMFILE : err;
    return placed;
}

void close_library(QEL_ModuleHandle* module) {
    if (!module->shobj) return;
    char reason[QEL_DLL_REASON_ROOM];
    QEL_DllUnload(module->shobj, reason);
    module->shobj = nullptr;
}

/* Entries in use matched by path (exact bytes) when one is given, else by module pointer. */
int qel_module_find(const char* path, QEL_ModuleHandle* module) {
    for (int i = 0; i < QEL_MODULE_CACHE_SIZE; ++i) {
        const DllTableEntry& e = DllCacheTable[i];
        if (e.reference_count == 0) continue;
        if (path ? (e.dll_path && std::strcmp(e.dll_path, path) == 0) : e.qel_module_handle_ptr == module) return i;
    }
    return -1;
}

int qel_module_add_new(const char* path, QEL_ModuleHandle* module) {
    for (DllTableEntry& e : DllCacheTable) {
        if (e.reference_count != 0) continue;
        char* copy = ess_strdup(path);
        if (!copy) return -1;
        std::free(e.dll_path);
        e = DllTableEntry{copy, module, 1};
        return 0;
    }
    return -1;
}

/* The loading steps, for the checked file open at fd (path names it in messages). On a failure
 * after the library was opened it is closed again, so that a refused module does not stay in the
 * process. */
int qel_module_load(int fd, const char* path, QEL_ModuleHandle* module, char* version, char* reason, int flags) {
    Descriptor named(loadable_descriptor(fd));
    if (named.get() < 0) {
        set_error(kLoadLib, path, std::strerror(errno));
        return -1;
    }
    module->shobj = QEL_DllLoad(descriptor_name(named.get()).c_str(), reason, flags != 0 ? flags : RTLD_NOW);
    if (!module->shobj) {
        set_error(kLoadLib, path, reason);
        return -1;
    }
    const unsigned int mask = funcFlags.load();
    auto refuse = [&](const Message& message, const char* symbol) {
        if (symbol)
            set_error(message, path, symbol, reason);
        else
            set_error(message, path);
        close_library(module);
        return -1;
    };
    if (mask & QEL_LOAD_VERSION_CHECK) {
        module->pvcf = reinterpret_cast<QEL_VersionCompatibilityFunc>(
            QEL_DllSym(module->shobj, QEL_SYM_VERSION_COMPATIBILITY, reason));
        if (!module->pvcf) return refuse(kNoSymbol, QEL_SYM_VERSION_COMPATIBILITY);
    }
    if (module->pvcf && module->pvcf(version) == 0) return refuse(kIncompatible, nullptr);
    if (mask & QEL_LOAD_CAPS) {
        module->pcapf = reinterpret_cast<QEL_GetCapsFunc>(QEL_DllSym(module->shobj, QEL_SYM_GET_CAPS, reason));
        if (!module->pcapf) return refuse(kNoSymbol, QEL_SYM_GET_CAPS);
    }
    if (mask & QEL_LOAD_API_HANDLE) {
        auto api = reinterpret_cast<QEL_APIHandleFunc>(QEL_DllSym(module->shobj, QEL_SYM_API_HANDLE, reason));
        if (!api) return refuse(kNoSymbol, QEL_SYM_API_HANDLE);
        module->APIHandle = api();
        if (!module->APIHandle) return refuse(kNullApiHandle, nullptr);
    }
    if (mask & QEL_LOAD_ENVIRONMENT) {
        using PutEnvironment = void (*)(Globalc_FunctionPtrs*, void*, void*, void*);
        char ignored[QEL_DLL_REASON_ROOM];
        if (auto put = reinterpret_cast<PutEnvironment>(QEL_DllSym(module->shobj, QEL_SYM_PUT_ENVIRONMENT, ignored)))
            put(EssGlobalcGetFunctionPtrs(), EssGetUtf8Locale(), EssGetNativeLocale(), EssGetCatalog());
    }
    return 0;
}

}  // namespace

int qel_module::start_count() {
    std::lock_guard<std::mutex> lock(start_mutex);
    return init_ref_counter;
}

extern "C" {

int QEL_Module_Init(void) {
    std::lock_guard<std::mutex> lock(start_mutex);
    if (init_ref_counter == 0) {
        if (cache_lock) return -1;
        /* Entries left from an earlier start are forgotten; their modules close at their unload. */
        for (DllTableEntry& e : DllCacheTable) {
            std::free(e.dll_path);
            e = DllTableEntry{};
        }
        cache_lock = BCM_NewLock(0, nullptr);
        if (!cache_lock) return -1;
    }
    ++init_ref_counter;
    return 0;
}

int QEL_Module_End(void) {
    std::lock_guard<std::mutex> lock(start_mutex);
    if (init_ref_counter == 0) return -1;
    if (--init_ref_counter == 0) {
        BCM_DeleteLock(cache_lock);
        cache_lock = nullptr;
    }
    return 0;
}

int QEL_VerifyModuleSignature(const char* path, int) {
    clear_error();
    if (!path || !*path) {
        set_error(kNoModulePath);
        return -1;
    }
    char native[kNativePathRoom];
    Descriptor fd(to_native(path, native) ? open(native, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
    if (fd.get() < 0) {
        set_error(kOpenLib, shown(path));
        return -1;
    }
    return verify_descriptor(fd.get(), path);
}

QEL_ModuleHandle* QEL_LoadModule(const char* path, int* rc, int flags, char* version) {
    int local_rc;
    if (!rc) rc = &local_rc;
    *rc = 0;
    clear_error();
    /* Without a path there is no file to check, and the loader would search its library path for
     * whatever it is given: nothing is loaded. */
    if (!path) {
        char reason[QEL_DLL_REASON_ROOM];
        EssGlobalcUtf8Sprintf(reason, sizeof reason, ESS_MSG(kLoaderReason), kMissingPath);
        set_error(kLoadLib, kMissingPath, reason);
        *rc = -1;
        return nullptr;
    }
    BCM_LockType* lock = current_cache_lock();
    if (!lock) {
        set_error(kNoCacheLock);
        *rc = -1;
        return nullptr;
    }
    if (BCM_WriteLock(lock, 0) != 0) {
        set_error(kCacheLockFailed);
        *rc = -1;
        return nullptr;
    }
    CacheLockHold hold(lock);

    const int hit = qel_module_find(path, nullptr);
    if (hit >= 0) {
        ++DllCacheTable[hit].reference_count;
        return DllCacheTable[hit].qel_module_handle_ptr;
    }
    *rc = -1;
    Descriptor file(open_module(path));
    if (file.get() < 0 || verify_descriptor(file.get(), path) != 0) return nullptr;
    auto* module = static_cast<QEL_ModuleHandle*>(std::calloc(1, sizeof(QEL_ModuleHandle)));
    if (!module) {
        set_error(kNoModuleMemory);
        return nullptr;
    }
    ess_strncpy(module->loadedBy, QEL_LOADED_BY_USER, sizeof module->loadedBy);
    char reason[QEL_DLL_REASON_ROOM];
    if (qel_module_load(file.get(), path, module, version, reason, flags) != 0) {
        std::free(module);
        return nullptr;
    }
    if (qel_module_add_new(path, module) != 0) {
        close_library(module);
        std::free(module);
        set_error(kCacheFull, path);
        return nullptr;
    }
    *rc = 0;
    return module;
}

int QEL_UnloadModule(QEL_ModuleHandle* module) {
    if (!module) return -1;
    clear_error();
    if (module->shobj) {
        char ignored[QEL_DLL_REASON_ROOM];
        using Cleanup = void (*)(void);
        if (auto cleanup = reinterpret_cast<Cleanup>(QEL_DllSym(module->shobj, QEL_SYM_CRYPTO_CLEANUP, ignored)))
            cleanup();
    }
    BCM_LockType* lock = current_cache_lock();
    if (!lock || BCM_WriteLock(lock, 0) != 0) {
        set_error(kCacheLockFailed);
        return -1;
    }
    CacheLockHold hold(lock);
    const int entry = qel_module_find(nullptr, module);
    if (entry >= 0 && --DllCacheTable[entry].reference_count > 0) return 0;
    int rc = 0;
    if (module->shobj) {
        char reason[QEL_DLL_REASON_ROOM];
        rc = QEL_DllUnload(module->shobj, reason);
        if (rc != 0) set_error_text(reason);
    }
    std::free(module);
    if (entry >= 0) {
        std::free(DllCacheTable[entry].dll_path);
        DllCacheTable[entry] = DllTableEntry{};
    }
    return rc;
}

char* QEL_ModuleError(void) { return loadError; }

char* QEL_LoadError(void) { return loadError; }

void QEL_LoadModuleMask(unsigned int mask) { funcFlags.store(mask); }

}  // extern "C"
