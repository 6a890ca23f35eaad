/* The wrapper through which the agent library uses the globalization library: process start and
 * stop, the multi-byte ("CJK") mode test, and text conversion between the scheduler's and the
 * application's encodings. */
#ifndef GC_WRAPPER_H
#define GC_WRAPPER_H

#include "cmpltfrm.h"
#include "gc.h"

CM_EXTERN_C_BEGIN

/* The pair of locales of the scheduler's and the application's text (null application locale:
 * UTF-16), the current user's locale, and two conversion handles (left null by
 * GC_getEncodingInfo, closed by GC_releaseEncodingInfo when set). */
typedef struct ENCODING_INFO {
    GCLocale* orvLocale;
    GCLocale* appLocale;
    GCLocale* currLocale;
    GCCnvDesc* orvToAppCnv;
    GCCnvDesc* appToOrvCnv;
} ENCODING_INFO;

typedef enum { GC_ORV_TO_APP = 0, GC_APP_TO_ORV = 1 } GC_CONV_typ;

/* Starts the globalization library over the locale data of "<prod_dir>/exe/locale", strictly (no
 * built-in objects). 1 initialised, 2 failed (after an error line). */
CM_RC GC_init(char* prod_dir);

/* Ends one level of the library's start count. */
void GC_release(void);

/* Fills encInfo for the application's parameter table: 1, or 0 when a locale was not created. */
int GC_getEncodingInfo(ENCODING_INFO* encInfo, char* tableName);
/* A locale from its name, or null (with the reason in the log). */
GCLocale* createLocaleByName(char* localeName);
/* Closes and releases what encInfo holds (each field cleared as it goes); encInfo may be null. */
void GC_releaseEncodingInfo(ENCODING_INFO* encInfo);
/* Converts a terminated string between two locales (null: UTF-16). 1 success, 0 failure. */
int GC_convertString(GCLocale* dstLocale, char* dst, int dstSize, char* src, GCLocale* srcLocale);
/* Converts a text file line by line between the locales of encInfo. 1 success, 2 failure. */
CM_RC GC_convertFile(ENCODING_INFO* encInfo, char* input_file, char* output_file, GC_CONV_typ conv_type);

/* 1 when key I18N of table CONFIG is present and is exactly "CJK", else 0. */
int isI18nDefined(void);

CM_EXTERN_C_END

#endif
