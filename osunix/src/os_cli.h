/* Command execution: shell commands fired off or waited for, fork-and-exec of a program with an
 * argument vector (with or without a time-out) reported by the codes below, and the small
 * temporary scripts of the command layer. */
#ifndef OS_CLI_H
#define OS_CLI_H

#include "cmpltfrm.h"

/* Results of the fork-and-exec operations (1: the child exited, its status in the exit code). */
enum {
    OS_CLI_FORK_FAILED = -3, /* the alarm could not be set, or fork failed */
    OS_CLI_TIMED_OUT = -5,   /* the time-out expired and the child was killed */
    OS_CLI_NOT_EXECUTABLE = -6,
    OS_CLI_NO_STATUS = -7, /* the child neither exited nor was killed nor stopped; exit code -7 */
    OS_CLI_KILLED = -8,    /* killed by a signal: the signal in the exit code */
    OS_CLI_STOPPED = -9    /* stopped: the stop signal in the exit code */
};

/* Most arguments a program gets from an argument array; further ones are dropped. */
#define OS_CLI_MAX_ARGS 32
/* Exit status of a child whose program could not be executed (-4 as seen by the parent). */
#define OS_CLI_EXEC_FAILED_STATUS 252

typedef long MAXLIMIT_D_typ;

CM_EXTERN_C_BEGIN

/* Runs "<command> &" through the shell. 2 for a null or empty command, else 1. */
CM_RC OS_CLI_exec_nowait(const char* command, const char* node);
/* Runs the command through the shell and waits: 1 when it exited with 0, else 2. */
CM_RC OS_CLI_exec_wait(const char* command, const char* node);
/* Runs the program (PATH searched) with the first min(param_num, 32) texts of the argument array
 * as the leader of a new process group, standard output and error to /dev/null, and waits. After
 * `timeout` seconds (0: no limit) the group is killed and the result is -5. One call at a time
 * per process; a second caller waits. exit_code may be null. */
int OS_CLI_exec_wait_timeout(const char* fullpath, CMDLINE_D_typ* p_cmd, int timeout, int param_num, int* p_exit_code);
int OS_CLI_exec_wait_rc(const char* fullpath, CMDLINE_D_typ* p_cmd, int param_num, int* p_exit_code);
/* The SIGALRM handler of the timed call: it only records that the alarm fired. */
void Sig_Alrm(int signal_number);

/* Writes /tmp/orv/CMD.<order> with "#!/bin/sh" and the command line, mode 0755; the directory
 * and the name go into PATHNAME_D_typ outputs. */
CM_RC OS_CLI_create_tmp_script(MAXLIMIT_D_typ p_orderno, const char* p_cmdline, char* p_dir, char* p_script_nm);
/* Names /tmp/CMD.<order>_<run> (nothing is created) into PATHNAME_D_typ outputs. Always 1. */
CM_RC OS_CLI_get_tmp_script(MAXLIMIT_D_typ order_no, int run_no, char* o_full_script_nm, char* o_last_script_nm);
const char* OS_CLI_get_def_tmp_dir(void);
const char* OS_CLI_sharch(void);

CM_EXTERN_C_END

#endif
