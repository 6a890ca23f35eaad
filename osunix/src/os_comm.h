/* The agent messaging transport: communication lines (TCP sockets) and the process's one recorded
 * open socket. The host name of this machine is asked here too. */
#ifndef OS_COMM_H
#define OS_COMM_H

#include <netinet/in.h>

#include "cmpltfrm.h"
#include "os_file.h" /* PATHNAME_D_typ */

/* A secure-communication profile of the security library; null means plain TCP. */
typedef struct BCA_PRF BCA_PRF;

typedef enum {
    OS_COMM_SERVER = 0,
    OS_COMM_SERVER_FIND_PORT = 1,
    OS_COMM_CLIENT = 2,
    OS_COMM_INETD = 3
} OS_COMM_who_typ;

/* The kind of process at the other end of a line. */
typedef enum {
    OS_COMM_PROC_AG = 0,
    OS_COMM_PROC_AM = 1,
    OS_COMM_PROC_AT = 2,
    OS_COMM_PROC_ATW = 3,
    OS_COMM_PROC_UT = 4,
    OS_COMM_PROC_AS = 5,
    OS_COMM_PROC_AR_INT = 6,
    OS_COMM_PROC_AR_EXT = 7,
    OS_COMM_PROC_WEBACCESS = 8,
    OS_COMM_PROC_RU = 9
} OS_COMM_proc_typ;

/* One communication line. fd is -1 while the line is closed. */
typedef struct {
    int fd_init;
    int fd;
    OS_COMM_who_typ who;
    OS_COMM_proc_typ proc;
    int timeout_interval; /* seconds */
    PATHNAME_D_typ trace_file;
    orv_boolean trace_active;
    orv_boolean trace_initialized;
    orv_boolean trace_use_lock;
    struct sockaddr_in addr; /* the peer (client, inetd) or the bound address (server) */
    BCA_PRF* ssl_profile;
    char buff[32]; /* scratch for the liveness peek */
} OS_COMM_line_typ;

CM_EXTERN_C_BEGIN

/* Closes a line: with a line, its socket when open (fd becomes -1); with null, the process's
 * recorded open socket, if any, which is then forgotten. Always 1. */
CM_RC OS_COMM_shut(OS_COMM_line_typ* line_id);

/* Writes this host's name into node (size bytes, terminator included). 1, or 2 when the name
 * cannot be read or does not fit. */
CM_RC OS_COMM_hostname(char* node, int size);

CM_EXTERN_C_END

#endif
