/* The agent daily log: one file a day, ./dailylog/daily_orvag_<YYYYMMDD>.log, into which numbered
 * messages are written with their texts from the message table MSGTBL. */
#ifndef GM_LOG_H
#define GM_LOG_H

#include "cmpltfrm.h"

/* GM_LOG_read_msgfrmt: the message text was cut to fit the caller's buffer. */
#define GM_LOG_RC_TRUNCATED 47

CM_EXTERN_C_BEGIN

/* Writes message msg_id, its MSGTBL text formatted with the arguments. CM_RC_OK when written or
 * when the daily log is off (CONFIG AG_LOG_ON beginning with "N"), else CM_RC_FAIL. */
CM_RC GM_LOG_write_msg(const char* msg_id, ...);
/* Copies the message's text (at most msgfrmt_len - 1 characters): CM_RC_OK, GM_LOG_RC_TRUNCATED
 * when cut, or the table look-up's failure. */
CM_RC GM_LOG_read_msgfrmt(const char* msg_id, char* msg_frmt, int msgfrmt_len);

CM_EXTERN_C_END

#endif
