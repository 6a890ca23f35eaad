/* Availability status of application accounts: one file ./data/av_status/<applType>_<account>.unav
 * per unavailable account, holding its error code and message, and the check intervals. */
#ifndef GM_AVSTAT_H
#define GM_AVSTAT_H

#include <stdio.h>

#include "cmpltfrm.h"
#include "zpalist.h"

typedef struct {
    char applType[30];
    char account[128];
    char errorCode[20];
    char errorMsg[999];
    char addInfo[999];
} CM_ACCOUNT_INFO_typ;

typedef enum {
    GM_ACCOUNT_AVAILABLE = 0,
    GM_ACCOUNT_UNAVAILABLE = 1,
    GM_ACCOUNT_DISABLED = 2,
    GM_ACCOUNT_NOT_FOUND = 3
} CM_ACCOUNT_STATUS_typ;

typedef enum { GM_INFO_FULL = 0, GM_INFO_SHORT = 1 } CM_INFO_typ;

CM_EXTERN_C_BEGIN

/* Records the account's status: writes (unavailable) or removes (available, disabled, not found)
 * its status file. Rewrites info->errorCode into its stored form, the type and the absolute code in
 * at least four digits (OEBS0012). */
CM_RC GM_AVSTAT_set_account_status(CM_ACCOUNT_INFO_typ* info, CM_ACCOUNT_STATUS_typ status);
/* Writes one "name value" line (line breaks in the value become blanks). */
CM_RC gm_avstat_writeNamedValue(FILE* file, const char* name, const char* value);
/* The distinct application types that have status files, as "|"-separated value rows. */
CM_RC GM_AVSTAT_get_unavailable_cmlist(ZPALIST_handle_typ* list);
/* One CM_ACCOUNT_INFO_typ element per unavailable account of a type (or of every type, "All");
 * with GM_INFO_FULL the error code and message are read from the status file. */
CM_RC GM_AVSTAT_get_unavailable_account(const char* appl_type, ZPALIST_handle_typ* list, CM_INFO_typ info);
/* The check intervals in seconds from CONFIG (CMACC_AV_INTERVAL, CMACC_UNAV_INTERVAL). Always 1. */
CM_RC GM_AVSTAT_getAvailabilityIntervals(int* available_interval, int* unavailable_interval);

CM_EXTERN_C_END

#endif
