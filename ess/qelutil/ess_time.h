/* Time helpers of the security library and its terminal password reader. */
#ifndef ESS_TIME_H
#define ESS_TIME_H

#include <sys/time.h>
#include <time.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef struct timeval ESS_TIME;

/* ctime_r text of *clock cut to len-1 characters; returns buf. */
char* essTime(const time_t* clock, char* buf, int len);
/* The current time as that text without its newline. */
char* ESS_Time_GetCurrentTime(char* buf, int len);
void ESS_Time_Sleep(int seconds);
int ESS_Time_GetTime(ESS_TIME* t);
/* end minus start in milliseconds. */
double ESS_Time_difftime(const ESS_TIME* end, const ESS_TIME* start);

/* Reads a line from standard input with echo off; returns its length. */
int gets_psw(char* buf, int size);

CM_EXTERN_C_END

#endif
