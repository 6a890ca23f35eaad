/* The agent messaging transport: communication lines (connecting or listening TCP sockets, IPv4)
 * and sessions on them that read exactly n bytes, read what is there and write whole buffers on
 * non-blocking sockets, waits bounded by the line's time-out, an optional trace file, the SSL
 * decision and the server's IP allow-list. The host name of this machine is asked here too. */
#ifndef OS_COMM_H
#define OS_COMM_H

#include <netinet/in.h>

#include "cmpltfrm.h"
#include "os_file.h" /* PATHNAME_D_typ */

/* A secure-communication profile of the security library; null means plain TCP. */
typedef struct BCA_PRF_tag BCA_PRF;

typedef enum {
    OS_COMM_SERVER = 0,
    OS_COMM_SERVER_FIND_PORT = 1,
    OS_COMM_CLIENT = 2,
    OS_COMM_INETD = 3
} OS_COMM_who_typ;

/* The kind of process at the other end of a line: selects the time-out key and the SSL rule. */
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

typedef enum { SOCK_READ = 0, SOCK_WRITE = 1 } OS_COMM_SOCK_typ;

/* Session error codes and the session-open results beside 1 and 2. */
enum { OS_COMM_ERR_NOT_AUTHORIZED = 44, OS_COMM_ERR_TIMEOUT = 46, OS_COMM_ERR_WAITING = 47 };

/* Time-out in seconds of a line whose configured time-out is missing or unusable. */
#define OS_COMM_DEFAULT_TIMEOUT 60

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

/* One session on a line. */
typedef struct {
    int fd;
    OS_COMM_who_typ who;
    OS_COMM_proc_typ proc;
    struct sockaddr_in addr; /* the peer */
    int timeout_interval;
    PATHNAME_D_typ trace_file;
    orv_boolean trace_active;
    orv_boolean trace_initialized;
    orv_boolean trace_use_lock;
    BCA_PRF* ssl_profile;
    orv_boolean ssl_is_established;
    char buff[32];
    int error; /* 0 none, 46 time-out, 47 waiting, 44 IP not authorised */
    char sender_ip[128];
} OS_COMM_sess_typ;

typedef struct {
    int socket;
} OS_COMM_identifier;

CM_EXTERN_C_BEGIN

/* Lines and sessions. */
CM_RC OS_COMM_init(OS_COMM_who_typ who, OS_COMM_proc_typ proc, char* node, char* port_s, OS_COMM_line_typ* line_id);
CM_RC OS_COMM_sess_open(OS_COMM_line_typ* line_id, OS_COMM_sess_typ* sess_id);
int OS_COMM_sess_read(OS_COMM_sess_typ* sess_id, void* message, int size);
int OS_COMM_sess_read_all(OS_COMM_sess_typ* sess_id, void* message, int size);
CM_RC OS_COMM_sess_write(OS_COMM_sess_typ* sess_id, void* message, int size);
CM_RC OS_COMM_sess_close(OS_COMM_sess_typ* sess_id);
/* Closes a line: with a line, its socket when open (fd becomes -1); with null, the process's
 * recorded open socket, if any, which is then forgotten. Always 1. */
CM_RC OS_COMM_shut(OS_COMM_line_typ* line_id);
CM_RC OS_COMM_sess_error(OS_COMM_sess_typ* sess_id);

/* Liveness and socket state. */
CM_RC OS_COMM_line_active(OS_COMM_line_typ* line_id);
CM_RC OS_COMM_sess_active(OS_COMM_sess_typ* sess_id);
CM_RC OS_COMM_connection_active(int sock_fd, char* buff, int buff_len);
int OS_COMM_get_sndbuf(int sd);
int OS_COMM_find_free_port(OS_COMM_line_typ* line_id);
CM_RC OS_COMM_is_port_free(int port);
CM_RC OS_COMM_is_socket_ready(int sock_fd, OS_COMM_SOCK_typ mode);

/* Names. */
CM_RC OS_COMM_gethostbyname(char* host_name, struct in_addr* sin_addr);
/* Writes this host's name into node (size bytes, terminator included). 1, or 2 when the name
 * cannot be read or does not fit. */
CM_RC OS_COMM_hostname(char* node, int size);
CM_RC OS_COMM_gethostbyname_cmdb(char* nodeId, int nodeIdSize, char* nodeType, char* hostName, int hostNameSize,
                                 char* domainName, int domainNameSize);

/* Configuration check: message needs OS_COMM_VALIDATE_MESSAGE_ROOM bytes, code 8. */
#define OS_COMM_VALIDATE_MESSAGE_ROOM 512
CM_RC OS_COMM_validate(char* validation, char* name, char* value, char* message, char* code);

/* Child processes and identifiers. The child of OS_COMM_fork shuts the line, runs func_ptr on the
 * session and ends. */
typedef void (*OS_COMM_sess_func_typ)(OS_COMM_sess_typ* sess_id);
CM_RC OS_COMM_fork(OS_COMM_sess_func_typ func_ptr, OS_COMM_line_typ* line_id, OS_COMM_sess_typ* sess_id, void* dummy);
CM_RC OS_COMM_copy_identifier(OS_COMM_identifier* target, OS_COMM_identifier* source);
CM_RC OS_COMM_disconnect_client(OS_COMM_identifier* identifier);

/* Trace file ./proclog/trace_<pid>. */
CM_RC OS_COMM_trace_initialize(int lock_flag, OS_COMM_line_typ* line_id);
void OS_COMM_trace_write(OS_COMM_sess_typ* sess_id, const char* format, ...) __attribute__((format(printf, 2, 3)));

/* Signal handlers. */
void OS_COMM_sigpipe_handler(int signal_number);
void OS_comm_sighandler(int signal_number);

/* SSL decision, set-up and the IP allow-list. */
orv_boolean OS_COMM_get_current_ssl_mode(OS_COMM_proc_typ proc);
/* The line's SSL profile: the process's client or server pair of policy and profile, made on
 * first need from ./data/SSL/cert/site.plc and ag.plc and kept for the rest of the process. */
CM_RC OS_COMM_ssl_init(OS_COMM_line_typ* line_id);
/* Handshakes on a session's socket; 1 with ssl_is_established set, else 2. */
CM_RC os_comm_sess_ssl_connect(OS_COMM_sess_typ* sess_id);
CM_RC OS_COMM_sess_ssl_accept(OS_COMM_sess_typ* sess_id);
CM_RC OS_COMM_is_IP_authorized(char* ip);
CM_RC OS_COMM_check_IP_authorized(OS_COMM_sess_typ* sess_id);
CM_RC OS_COMM_validate_commopt(char* key, char* value);
CM_RC OS_COMM_get_server_host(char* server_host, OS_COMM_sess_typ* sess_id);

CM_EXTERN_C_END

#endif
