/* The process layer of the agent library. The process's own state as start-up records it (the
 * configuration table name, the exit-request flag, the registered name, the user the process runs
 * as; before start-up has run the accessors still answer), the lock check of the agent's processes, the cpu-specs
 * buffer, and child processes and commands: agent utilities run through a generated script,
 * starts of the agent's processes and tracker workers, restarts through the agent's scripts,
 * forked workers, machine details and processor load. */
#ifndef OS_PROC_H
#define OS_PROC_H

#include "ag_xalert.h"
#include "cmpltfrm.h"
#include "gm_param.h"
#include "os_file.h"
#include "zpalist.h"

/* Process types of the lock check and of the starts. */
enum {
    OS_PROC_TYPE_NAMED = 0, /* a lock file named by the process name */
    OS_PROC_TYPE_AG = 2,
    OS_PROC_TYPE_AT = 4,
    OS_PROC_TYPE_AR = 9,
    OS_PROC_TYPE_WK = 10,
    OS_PROC_TYPE_RL = 13
};

/* Room of the cpu-specs buffer (filled by start-up in the agent process only). */
#define OS_PROC_CPU_SPECS_ROOM 20480
/* Room of the output buffers of the utility runs and of the locale list. */
#define OS_PROC_OUTPUT_ROOM 20480
/* Room of the exit-code text of a utility run. */
#define OS_PROC_EXIT_CODE_ROOM 12

/* The temporary files of a utility run. */
typedef struct {
    PATHNAME_D_typ scriptFileName;
    PATHNAME_D_typ stdinFileName;
    PATHNAME_D_typ stdoutFileName;
    PATHNAME_D_typ stderrFileName;
} OS_PROC_exec_util_tempfiles;

/* The block handed to a forked worker, copied whole. */
typedef struct {
    GM_PARAM_VALUE_typ cmName;
    AG_XALERT_DATA alert_data;
} OS_PROC_FORK_DATA;

typedef void (*OS_PROC_FORK_FUNC)(OS_PROC_FORK_DATA* data);

/* Machine details; texts of at most 127 characters. */
typedef char ORV_MACHINE_TEXT_typ[128];
typedef struct {
    ORV_MACHINE_TEXT_typ host;
    ORV_MACHINE_TEXT_typ resolvedHost;
    ORV_MACHINE_TEXT_typ nodeId;
    ORV_MACHINE_TEXT_typ osType;
    ORV_MACHINE_TEXT_typ osVersion;
    ORV_MACHINE_TEXT_typ platform;
    ORV_MACHINE_TEXT_typ cpuArcType;
    int numOfProcessors;
    int numOfProcessorSockets;
    ORV_MACHINE_TEXT_typ compType;
    ORV_MACHINE_TEXT_typ compUsage;
    ORV_MACHINE_TEXT_typ applType;
    ORV_MACHINE_TEXT_typ account;
    ORV_MACHINE_TEXT_typ addAttr;
} ORV_MACHINE_INFO_typ;

CM_EXTERN_C_BEGIN

/* The name of the process's configuration table: "CONFIG" unless another was stored. */
char* OS_PROC_config_file(void);
/* The exit-request flag: 0 until a shutdown request raises it to 1. */
int OS_PROC_exit_request_get(void);
void OS_PROC_exit_request_set(int value);
/* The name under which the process registered at start-up; empty before start-up has run. */
char* OS_PROC_name(void);
/* The passwd name of the real user ("root" for user id 0), at most 30 characters. */
char* OS_PROC_get_curr_user(void);

/* Tests (and with create_lock takes, for the rest of the process) the lockf lock of the process
 * type's lock file, or of ./locks/<proc_name>.lock when a name is given: 23 free (or taken now),
 * 24 held by another process (also for a name that is empty or holds '/'), 53 a type without a
 * lock, 1 type 0 without a name, 2 an unknown type. lock_fd is not used. */
CM_RC OS_PROC_check_lock(int proc_type, orv_boolean create_lock, int lock_fd, const char* proc_name);
/* The cpu-specs buffer (OS_PROC_CPU_SPECS_ROOM bytes), empty until start-up fills it. */
char* OS_PROC_getCpuSpecsBuffer(void);

/* Runs the action's executable with the parameter values and the additional attributes' values
 * as shell words, standard input from the text (when not empty), and returns standard output,
 * standard error (OS_PROC_OUTPUT_ROOM bytes each) and the exit code as text
 * (OS_PROC_EXIT_CODE_ROOM bytes). Lists hold GM_PARAM_table_row rows. 1 / 2. */
CM_RC OS_PROC_exec_util_with_params(const char* action_name, ZPALIST_handle_typ* action_attrs,
                                    ZPALIST_handle_typ* param_list, const char* stdin_text,
                                    ZPALIST_handle_typ* add_attrs, char* stdout_buf, char* stderr_buf,
                                    char* exit_code);
/* Runs the action's executable with the XML text as standard input; its standard output goes into
 * out_buf (OS_PROC_OUTPUT_ROOM bytes). 1 / 2. */
CM_RC OS_PROC_exec_util_with_xml(const char* action_name, ZPALIST_handle_typ* action_attrs, const char* xml_in,
                                 char* out_buf);

CM_RC OS_PROC_start_process(int proc_type);
CM_RC OS_PROC_start_tracker_worker(const char* worker_name);
/* Only the workload process (type 10): 1 running, 0 not; -1 for other types. */
int OS_PROC_is_running(int proc_type);
CM_RC OS_PROC_stop_process(int proc_type);
CM_RC OS_PROC_autorestart(int start, void* sess_id);
/* Runs ./scripts/shut-ag -u <user> -p <process code>. */
CM_RC os_proc_shut_by_name(const char* proc_code, const char* user_name);

/* Forks a worker that runs func on a copy of the block (may be null) and ends; the caller does
 * not wait for it. name is not used. */
CM_RC OS_PROC_fork(OS_PROC_FORK_DATA* data, OS_PROC_FORK_FUNC func, const char* name);
CM_RC OS_PROC_gather_machine_details(ORV_MACHINE_INFO_typ* info);
CM_RC OS_PROC_collect_workload_cpu(int* cpu_usage, char* err_msg, int err_msg_size);
CM_RC OS_PROC_collect_cpu_sar(int* cpu_usage, int interval, int samples, int interactive);
/* owner: a USERNAME_D_typ. */
void OS_PROC_getAgentOwner(char* owner);
/* Appends "<locale>...</locale>" elements to xml_outbuf (OS_PROC_OUTPUT_ROOM bytes in all). */
CM_RC OS_PROC_get_locale_list(char* xml_outbuf);
void OS_PROC_housekeeping(void);
void OS_PROC_newday_clean_up(void);

CM_EXTERN_C_END

#endif
