/* The scheduler's wildcard in a filter value turned into SQL's, which the list filters, the alert
 * queries and the value-set query share to choose between LIKE and an equality. */
#include "be_def.h"

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_SQL_replace_wildchar(char* input_str, char cm_wild, char sql_wild) {
    ZPARC rc = 2;
    if (input_str == nullptr) return rc;
    for (char* p = input_str; *p != '\0'; ++p) {
        if (*p != cm_wild) continue;
        *p = sql_wild;
        rc = 0;
    }
    return rc;
}

CM_EXTERN_C_END
