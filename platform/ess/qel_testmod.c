/* Provider module for the loader's tests, built in several variants from this one source: the
 * full module (every entry symbol, counters of the optional entries), one without any entry
 * symbol, one without the API-handle entry, one that declares itself incompatible and one whose
 * API handle is NULL. Every variant's constructor appends the module's path to the file named by
 * QEL_TESTMOD_MARKER, so a test sees whether the module's code ever ran. Links nothing of ours. */
#define _GNU_SOURCE
#include "qel_testmod.h"

__attribute__((unused)) static QelTestModApi api = {QEL_TESTMOD_MAGIC, 0, 0};

__attribute__((constructor)) static void qel_testmod_loaded(void) { qel_testmod_mark((void*)&qel_testmod_loaded); }

#ifndef QEL_TESTMOD_NO_SYMBOLS
int QEL_DllVersionCompatibilityFunc(char* version) {
    (void)version;
#ifdef QEL_TESTMOD_INCOMPATIBLE
    return 0;
#else
    return 1;
#endif
}

void* QEL_DllGetCaps(void) { return &api; }

#ifndef QEL_TESTMOD_NO_API_HANDLE
void* QEL_DllAPIHandle(void) {
#ifdef QEL_TESTMOD_NULL_API_HANDLE
    return NULL;
#else
    return &api;
#endif
}
#endif

void EssGlobalcPutEnvironment(void* table, void* utf8Locale, void* nativeLocale, void* catalog) {
    (void)table;
    (void)utf8Locale;
    (void)nativeLocale;
    (void)catalog;
    ++api.put_environment_calls;
}

void CRYPTO_cleanup_all_ex_data(void) { ++api.crypto_cleanup_calls; }
#endif
