/* The wrapper through which the agent library uses the globalization library: process start and
 * stop, the multi-byte ("CJK") mode test, and text conversion between the scheduler's and the
 * application's encodings. */
#ifndef GC_WRAPPER_H
#define GC_WRAPPER_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* 1 when key I18N of table CONFIG is present and is exactly "CJK", else 0. */
int isI18nDefined(void);

CM_EXTERN_C_END

#endif
