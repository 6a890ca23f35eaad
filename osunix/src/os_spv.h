/* Process supervision: starting the agent's programs as detached children, testing and signalling
 * processes and process groups by their id text, running an argument vector to its end (also as
 * another user), handing a command to the at scheduler, and the pid files of registered processes. */
#ifndef OS_SPV_H
#define OS_SPV_H

#include "cmpltfrm.h"

/* Most parameters a started program gets; further ones are dropped. */
#define OS_SPV_MAX_PARAMS 32
/* Room of a process-id text (decimal, at most 19 digits). */
#define OS_SPV_PROCID_ROOM 20
/* Longest command line handed to the at scheduler. */
#define OS_SPV_AT_CMDLINE_MAX 1024

CM_EXTERN_C_BEGIN

/* 24 the process exists, 23 it does not (or the id is not a number above 0), 17 not privileged,
 * 2 other error. A finished child of the caller with that id is collected first. */
CM_RC OS_SPV_check(const char* job_name, const char* user_name, const char* proc_id);
/* The caller's process id into output (OS_SPV_PROCID_ROOM bytes); 2 for a null output. */
CM_RC OS_SPV_get_selfid(char* output);
/* SIGTERM (SIGKILL) to one process: 1 when sent, 2 otherwise (also for an id below 1). */
CM_RC OS_SPV_kill(const char* job_name, const char* user_name, const char* proc_id);
CM_RC OS_SPV_kill_minus_9(const char* job_name, const char* user_name, const char* proc_id);
/* SIGTERM (SIGKILL when brutal_kill) to the process group of the id, then waits up to 5 seconds
 * for it to go: 1 gone, 24 still alive, 2 not signalled (errno_id receives the reason; an id
 * below 2 is refused with EINVAL). */
CM_RC OS_SPV_kill_process_group(const char* job_name, const char* user_name, const char* proc_id,
                                CM_boolean brutal_kill, int* errno_id);
/* Closes descriptors 3 to 255. */
void close_all_fds(void);

/* Starts the program (no PATH search) with the first 32 non-null parameters and does not wait
 * for it. 1 once it runs: its id goes into proc_id (OS_SPV_PROCID_ROOM bytes, may be null) and,
 * when asked, a pid file is written; 2 when it is not executable or cannot be started. */
CM_RC OS_SPV_run_params(const char* path, const char* application, const char* proc_name, PARAMNUMBER_D_typ param_count,
                        char** params, char* proc_id, int write_pid_file);
/* Starts <AGENT_DIR>/exe/p_<application><code> (lower case) with a pid file. */
CM_RC OS_SPV_run(const char* proc_code, const char* application, char* proc_id);
/* Submits "<directory>/<program> <parameters>" to the at scheduler for the time text. */
CM_RC OS_SPV_run_params_at_time(const char* directory, const char* application, const char* program,
                                const char* at_time, PARAMNUMBER_D_typ param_count, PARAM_D_typ* params);

/* Copies the arguments that start-up recorded, in order, into consecutive slots (at most
 * OS_SPV_MAX_PARAMS of them, each cut to 255 characters) and stores their number in count. 1; 2
 * for a null output. */
CM_RC OS_SPV_get_params(int* count, PARAM_D_typ* params);

/* Writes the empty pid file <dir>/<stem>_<pid>: name_length 1 takes the last two characters of
 * the program path as the stem, 2 the whole name. */
CM_RC OS_SPV_write_pid_to_dir(const char* proc_path, long pid, int name_length);
/* The pid directory (a PATHNAME_D_typ): ORV_PROC_DIR, else that of OS_SPV_get_dir_from_env. */
CM_RC OS_SPV_get_full_dir_nm(char* directory);
/* ORVANTA followed by "/pid". */
CM_RC OS_SPV_get_dir_from_env(char* directory);

/* Runs cmd[0] with the null-terminated vector and waits: its exit status, the signal that ended
 * or stopped it, or -1 when it could not be started or waited for. The argument at
 * private_data_index never reaches the log. */
int OS_SPV_run_cmd(char** cmd, int private_data_index);
/* Runs the command line as the owner through the agent's switch-user program; 1 when it exited
 * with 0, else 2. */
CM_RC OS_SPV_run_non_root_cmd(const char* owner, const char* password, const char* cmdline);

CM_EXTERN_C_END

#endif
