/* The scheduler's name patterns: matching a name against a pattern ("*" any run of characters,
 * "?" and "$" exactly one) and translating patterns to and from the SQL LIKE form. */
#ifndef GM_WILD_H
#define GM_WILD_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* 1 when the whole source matches the whole pattern, else 2. An empty pattern matches anything. */
CM_RC GM_WILD_match(const char* source, const char* pattern);
/* Number of characters before the first "*" (the length when there is none). */
int GM_wild_subsrtlen(const char* pattern);
/* In place: "*" -> "%" and "?" -> "_"; 1 when something was replaced, else 2. */
CM_RC GM_WILD_translate_to_sql(char* pattern);
/* In place: "%" -> "*" and "_" -> "?"; 1 when something was replaced, else 2. */
CM_RC GM_WILD_translate_from_sql(char* pattern);

CM_EXTERN_C_END

#endif
