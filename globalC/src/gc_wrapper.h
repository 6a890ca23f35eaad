/* The wrapper through which the agent library uses the globalization library: process start and
 * stop, the multi-byte ("CJK") mode test, and text conversion between the scheduler's and the
 * application's encodings. */
#ifndef GC_WRAPPER_H
#define GC_WRAPPER_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Starts the globalization library over the locale data of "<prod_dir>/exe/locale", strictly (no
 * built-in objects). 1 initialised, 2 failed (after an error line). */
CM_RC GC_init(char* prod_dir);

/* Ends one level of the library's start count. */
void GC_release(void);

/* 1 when key I18N of table CONFIG is present and is exactly "CJK", else 0. */
int isI18nDefined(void);

CM_EXTERN_C_END

#endif
