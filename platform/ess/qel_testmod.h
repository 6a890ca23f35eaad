/* What the loader's test modules hand out as their API handle: counters of the optional entries
 * the loader calls. Shared by the modules and the tests that load them. */
#ifndef QEL_TESTMOD_H
#define QEL_TESTMOD_H

#define QEL_TESTMOD_MAGIC 0x51454c54
/* Environment variable naming the file each module's constructor appends its own path to. */
#define QEL_TESTMOD_MARKER_ENV "QEL_TESTMOD_MARKER"

typedef struct QelTestModApi {
    int magic;
    int put_environment_calls;
    int crypto_cleanup_calls;
} QelTestModApi;

#endif
