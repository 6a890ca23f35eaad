/* Security log: a leveled, sequence-numbered log file, or a caller's hook that takes the lines. */
#ifndef BCM_LOG_H
#define BCM_LOG_H

#include "bcm_lock.h"
#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Level bits; a level is named by its lowest set bit ("UKN" when none of these is set). */
#define ESS_LOG_ERR 1u
#define ESS_LOG_WRN 2u
#define ESS_LOG_INF 4u
#define ESS_LOG_API 8u
#define ESS_LOG_TRC 16u
#define ESS_LOG_DAT 32u
#define ESS_LOG_ALL 255u

/* Room of the log path (511 characters and the terminator) and of one formatted line. */
#define BCM_LOG_PATH_ROOM 512
#define BCM_LOG_MODE_ROOM 8
#define BCM_LOG_LINE_ROOM 2048
#define BCM_LOG_DEFAULT_PERMISSIONS 0664

/* Takes a line instead of the file; its result is ignored. */
typedef int (*ESS_LogCallback)(void* context, const char* file, int line, int level, const char* msg);

typedef struct BCM_LogType {
    char m_file[BCM_LOG_PATH_ROOM];
    char m_mode[BCM_LOG_MODE_ROOM];
    unsigned int m_levelMask;
    unsigned int m_sequence;
    int* m_hFile; /* a cell holding the descriptor; NULL without a file */
    void* m_context;
    ESS_LogCallback m_hook;
    BCM_LockType* m_lock; /* guards m_sequence */
} BCM_LogType;
typedef BCM_LogType BCM_Log;
typedef BCM_LogType ESS_Log;

/* fileSpec is path[,permissions]; the text is cut at its first ',' (the caller's string changes).
 * A path of more than 511 characters is refused. The level mask starts at 0. */
BCM_Log* New_BCM_Log(char* fileSpec, const char* mode);
void Free_BCM_Log(BCM_Log* log);
void BCM_Log_SetLogLevel(BCM_Log* log, unsigned int mask);
unsigned int BCM_Log_GetLogLevel(BCM_Log* log);
void BCM_Log_SetHook(BCM_Log* log, ESS_LogCallback hook, void* context);
int BCM_Log_Write(BCM_Log* log, const char* file, int line, int level, const char* msg);

/* File layer of the log. openFile opens only a regular file and never follows a symbolic link. */
int* openFile(const char* path, int permissions);
int writeFile(int* file, const char* buf, int count);
int closeFile(int* file);
int ParsePermissionsString(const char* text);

CM_EXTERN_C_END

#endif
