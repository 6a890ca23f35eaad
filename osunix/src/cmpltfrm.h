/* Platform basics shared by every module of the agent runtime library: the result code type of
 * the agent library (CM_RC) with its values, and the markers of the library's C interface used by
 * every header. */
#ifndef CMPLTFRM_H
#define CMPLTFRM_H

/* The library's C interface: every declaration between CM_EXTERN_C_BEGIN and CM_EXTERN_C_END has
 * C linkage and is exported from libappbridge.so. The library is built with hidden visibility, so
 * these blocks are its only exports; C++ helpers (namespaces, *_internal.h) never are. */
#ifdef __cplusplus
#define CM_EXTERN_C_BEGIN \
    extern "C" {          \
    _Pragma("GCC visibility push(default)")
#define CM_EXTERN_C_END           \
    _Pragma("GCC visibility pop") \
    }
#else
#define CM_EXTERN_C_BEGIN _Pragma("GCC visibility push(default)")
#define CM_EXTERN_C_END _Pragma("GCC visibility pop")
#endif

typedef int CM_RC;

/* One-byte truth values of the agent library: 0 false, anything else true. */
typedef unsigned char orv_boolean;
typedef unsigned char CM_boolean;

/* One parameter of a started program: at most 255 characters. */
typedef char PARAM_D_typ[256];
typedef int PARAMNUMBER_D_typ;

/* One argument or command text of the command layer: at most 1024 characters. */
typedef char CMDLINE_D_typ[1025];

/* Result codes of the agent library. 1 success, 2 failure, 6 end / not found / unchanged; the rest
 * belong to the file layer (5 to 56), process start-up (23, 24, 53). */
enum {
    CM_RC_OK = 1,
    CM_RC_FAIL = 2,
    CM_RC_EOF = 5,
    CM_RC_END = 6,
    CM_RC_LOCKED = 8,
    CM_RC_OPEN_FAILED = 11,
    CM_RC_NOT_PERMITTED = 17,
    CM_RC_STAT_FAILED = 21,
    CM_RC_CREATE_FAILED = 22,
    CM_RC_LOCK_FREE = 23,
    CM_RC_LOCK_HELD = 24,
    CM_RC_DIR_END = 48,
    CM_RC_NO_LOCK_TYPE = 53,
    CM_RC_DISK_LOW = 56
};

#endif
