/* The agent-utility client: runs an agent utility (job order, condition change, shout, ping and
 * the others) inside the calling process by sending its command line as a utility request to the
 * local agent's utility port or to the scheduling server, and returns the exit status and the
 * reply text. It owns the utility names, the command-line quoting, the choice of host, port and
 * retries, the input-file chunks and the reading of the reply. */
#ifndef AG_UTIL_H
#define AG_UTIL_H

#include "cmpltfrm.h"
#include "dsect_list.h"
#include "dsect_one.h"
#include "os_comm.h"
#include "zpaapi.h"

/* Utility codes, looked up by the utility name (argument 0). */
typedef enum {
    AG_NONE = 0,
    AG_CREATE = 1,
    AG_CONTB = 2,
    AG_CTLTB = 3,
    AG_QRTAB = 4,
    AG_PING = 5,
    AG_SETLOAD = 6,
    AG_SHOUT = 7,
    AG_UDLY = 9,
    AG_PSM = 10,
    AG_DEFINE = 11,
    AG_ORDER = 12,
    AG_KILLJOB = 13,
    AG_ORVVAR = 14,
    AG_NODEGRP = 15,
    AG_STVAR = 16,
    AG_GRPDEF = 17,
    AG_LOG = 18,
    AG_WHY = 19,
    AG_SETOWN = 20,
    AG_ORVDEFTAB = 22,
    AG_ORVDEFSUBTAB = 23,
    AG_ORVDEFFOLDER = 24,
    AG_ORVDEFSUBFOLDER = 25,
    AG_ORVHOSTGRP = 26
} AG_UTIL_PARAM_TYPE;

/* Results beside CM_RC 1 and 2. */
#define AG_UTIL_RC_USAGE 4
#define AG_UTIL_RC_MEMORY 12
#define AG_UTIL_RC_TIMEOUT 46
#define AG_UTIL_RC_NO_CONNECTION 52

/* Longest command line (its quotes and escapes counted). */
#define AG_UTIL_LINE_MAX 32767
/* Longest argument after escaping. */
#define AG_UTIL_ARG_MAX 2047
/* Characters of argument 0 kept in the short line sent with an input file. */
#define AG_UTIL_SHORT_NAME_MAX 100
/* Longest input-file chunk. */
#define AG_UTIL_CHUNK_MAX 2046
/* The reply text starts with this room and grows by it while further text messages arrive. */
#define AG_UTIL_REPLY_STEP (256 * 1024)
/* The reply text never grows beyond this room: a peer streaming text without end is cut off. */
#define AG_UTIL_REPLY_MAX (64 * AG_UTIL_REPLY_STEP)

CM_EXTERN_C_BEGIN

/* Runs the utility of p_argv[0] with the further arguments; Message (MessageSize bytes) receives at
 * most MessageSize - 1 characters of the reply text. 1 when the utility answered with exit status
 * "Y"; otherwise 2, 4 (usage), 12 (memory), 46 (time-out) or 52 (no connection). */
CM_RC AG_UTIL_main(int p_argc, char** p_argv, char* Message, unsigned long MessageSize);
/* The same; *Message is allocated here (at least AG_UTIL_REPLY_STEP bytes) and freed by the caller. */
CM_RC AG_UTIL_main_dynamic(int p_argc, char** p_argv, char** Message);
AG_UTIL_PARAM_TYPE AG_UTIL_translate_param(char* parameter);
/* Sends one command line (and the input file, when stream_file is not empty) and reads the reply.
 * *Message: a reply buffer made by AG_UTIL_main_dynamic (it may be moved while it grows). */
CM_RC AG_UTIL_exec(char* Command, char** Message, char* stream_file, int load_args_flag);
/* The exchange of a packed request: endpoint, hosts and attempts, chunks, reply. *Text as above. */
CM_RC AG_UTIL_send_utils_get(DSECT_MSG_typ* out_msg, char** Text, char* stream_file, int* seq,
                             DSECT_HEADER_typ* dsect_header, int load_args_flag);
/* The type of the first record of a packed outgoing message. */
CM_RC AG_UTIL_get_msg_typ(DSECT_MSG_typ* out_msg, DSECT_TYPE_typ* dsect_type);
/* The session's error; a time-out also prints the hint on standard output. */
CM_RC AG_UTIL_print_error(OS_COMM_sess_typ* sess_id);
/* Runs commandName with arguments made from inListAttr and from section sectionName of the
 * sectioned file fileName (when given). p_message: 2048 bytes. */
CM_RC AG_UTIL_main_2(char* fileName, char* sectionName, char* commandName, ZPAAttrList* inListAttr, char* p_message,
                     ZPAError* Error);

CM_EXTERN_C_END

#endif
