/* What the loader's test modules hand out as their API handle: counters of the optional entries
 * the loader calls. Shared by the modules and the tests that load them. */
#ifndef QEL_TESTMOD_H
#define QEL_TESTMOD_H

#define QEL_TESTMOD_MAGIC 0x51454c54
/* Environment variable naming the file each module's constructor appends its own path to. */
#define QEL_TESTMOD_MARKER_ENV "QEL_TESTMOD_MARKER"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/uio.h>
#include <unistd.h>

/* Appends the path of the module holding `self` (a function of the module) to the marker file. */
static inline void qel_testmod_mark(void* self) {
    const char* marker = getenv(QEL_TESTMOD_MARKER_ENV);
    if (!marker) return;
    Dl_info info;
    const char* path = dladdr(self, &info) && info.dli_fname ? info.dli_fname : "?";
    FILE* f = fopen(marker, "a");
    if (!f) return;
    fprintf(f, "%s\n", path);
    fclose(f);
}

/* Appends one line (and a newline) to the journal file named by the environment variable `env`. */
static inline void qel_standin_journal(const char* env, const char* line, size_t len) {
    const char* path = getenv(env);
    if (!path) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct iovec parts[2] = {{(void*)line, len}, {(void*)"\n", 1}};
    ssize_t written = writev(fd, parts, 2); /* one call: lines of concurrent writers stay whole */
    (void)written;
    close(fd);
}

#ifdef __cplusplus
/* The entry symbols of a provider stand-in (compatible with every version, its capabilities and
 * its table of entry points) and the constructor that marks its loading. */
#define QEL_STANDIN_MODULE(caps, api)                                                                          \
    __attribute__((constructor)) static void qel_standin_loaded() {                                            \
        qel_testmod_mark(reinterpret_cast<void*>(&qel_standin_loaded));                                        \
    }                                                                                                          \
    extern "C" __attribute__((visibility("default"))) int QEL_DllVersionCompatibilityFunc(char*) { return 1; } \
    extern "C" __attribute__((visibility("default"))) void* QEL_DllGetCaps(void) { return (caps); }            \
    extern "C" __attribute__((visibility("default"))) void* QEL_DllAPIHandle(void) { return (api); }
#endif

typedef struct QelTestModApi {
    int magic;
    int put_environment_calls;
    int crypto_cleanup_calls;
} QelTestModApi;

#endif
