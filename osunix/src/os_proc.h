/* The process layer of the agent library. Process start-up and exit (home directory, log, levels,
 * configuration, locale, signals, registration with a lock file and a pid file), the process's
 * own state as start-up records it (before start-up has run the accessors still answer), the
 * lock check of the agent's processes, the cpu-specs buffer, and child processes and commands:
 * agent utilities run through a generated script, starts of the agent's processes and tracker
 * workers, restarts through the agent's scripts, forked workers, machine details and processor
 * load. */
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

/* The exit status handed to OS_PROC_exit. */
typedef int OS_STATUS_typ;

/* Room of the process name (at most 32 characters), of the start directory, of the system
 * information text and of one line of the version banner. */
#define OS_PROC_NAME_ROOM 33
#define OS_PROC_START_DIR_ROOM 256
#define OS_PROC_SYSTEM_INFO_ROOM 512
#define OS_PROC_VERSION_ROOM 128
/* Room of the configuration table name (at most 255 characters). */
#define OS_PROC_CONFIG_NAME_ROOM 256
/* Soft (and, when lower, hard) limit of open files that the agent's processes get. */
#define OS_PROC_DESC_LIMIT 1024

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

/* Start-up of every process of the agent library: finds the agent home (ORVANTA, else the
 * installation file), makes it the working directory, records the process (a "%s" in p_proc
 * stands for the pid), opens ./proclog/<p_proc>_<pid>.log, sets the levels, loads the
 * configuration table, starts the globalization library, chooses the locale, sets the signal
 * dispositions the name calls for and registers the agent's processes. 1, 2, or the result of
 * the registration. argv is kept, not copied. */
CM_RC OS_PROC_init(char* p_proc, int p_argc, char** p_argv);
/* Ends the process with p_status after releasing the globalization library and removing the
 * pid files of the workload process and of a tracker worker. Static destructors are not run
 * (other threads may still be using what they would destroy); stdio streams are flushed. */
void OS_PROC_exit(OS_STATUS_typ p_status) __attribute__((noreturn));
/* The handler of SIGINT and SIGTERM: records the signal and raises the exit-request flag (the
 * first OS_PROC_exit_request_get afterwards logs "Shutdown requested. signal - [%d]"), and
 * installs itself again. Start-up installs it for the agent's own processes. */
void OS_proc_shutdown_signal(int signal_number);

/* The name of the process's configuration table: "CONFIG" unless another was stored. */
char* OS_PROC_config_file(void);
/* Stores another configuration table name (cut to 255 characters) and returns the stored name. */
char* OS_PROC_set_config_file(const char* filename);
/* The exit-request flag: 0 until a shutdown request raises it to 1. */
int OS_PROC_exit_request_get(void);
void OS_PROC_exit_request_set(int value);
/* The passwd name of the real user ("root" for user id 0), at most 30 characters. */
char* OS_PROC_get_curr_user(void);
/* The process name recorded by start-up; "" in a process that never ran it. */
char* OS_PROC_name(void);
char* OS_PROC_get_curr_proc_name(void);
/* The calling process's id as decimal text (the three give the same text). */
char* OS_PROC_get_curr_proc_id(void);
char* OS_PROC_get_curr_decimal_proc_id(void);
char* OS_PROC_procid(void);
/* Copies the id text into pid (OS_SPV_PROCID_ROOM bytes) and returns pid. */
char* OS_PROC_get_uniq_procid(char* pid);
/* The parent process id as decimal text. */
char* OS_PROC_parent_procid(void);
char** OS_PROC_get_env_block(void);
/* The argument count given to start-up minus 1 (-1 when start-up got none). */
int OS_PROC_argc(void);
/* Copies argument index + 1 (cut to 255 characters) into destination (a PARAM_D_typ): 1 when it
 * exists, else an empty text and 2. */
CM_RC OS_PROC_get_arg(int index, char* destination);
/* "/tty". */
char* OS_PROC_standard_output(void);
CM_RC OS_PROC_epilogue(void);
void OS_PROC_set_Thread_Name(const char* name);
void OS_PROC_set_Log_Id(void);
void OS_PROC_reset_Log_Id(void);
void OS_PROC_set_debug_level(void);
/* "<node> - <system> <release> <version> <machine>" into destination (OS_PROC_SYSTEM_INFO_ROOM
 * bytes); returns destination. */
char* OS_PROC_get_system_info(char* destination);
/* The host line and the version lines of the layers AG, ZPA, DSECT, GLOBAL, OS: into the log at
 * level 1 when toLog, else to standard output. */
void OS_PROC_print_version(int toLog);
/* 1 when procname is "ATW", a digit and more; WorkerNumber (may be null) then gets the number
 * from the fourth character on. */
int OS_PROC_is_track_worker(const char* procname, int* WorkerNumber);
int OS_PROC_is_main_mtrack(void);
void OS_PROC_set_main_mtrack(int value);

/* Takes the lock of the type (or of the name) for the rest of the process and, once it is held,
 * replaces the stem's pid files in the pid directory by <stem>_<own pid>. 1 registered; 2 the
 * lock is held elsewhere, the pid file cannot be written or the type is unknown; 1 for type 0
 * without a name and 53 for the types without a lock, as the lock check gives them. */
CM_RC OS_PROC_register(int proc_type, const char* proc_name);
/* Raises the soft limit of open files to OS_PROC_DESC_LIMIT (and the hard limit when it is
 * lower). 1, or 2 when the limit cannot be read or set. */
CM_RC OS_PROC_ensure_desc_limit(void);
/* The locale of the configuration table "CONFIG": LC_CTYPE from its LOCALE, else the "C" locale. */
void OS_PROC_set_locale(void);

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
                                    ZPALIST_handle_typ* add_attrs, char* stdout_buf, char* stderr_buf, char* exit_code);
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
