/* Admin requests of the agent protocol: show or change one back end's parameter table
 * ./data/<back-end>.dat as an admin record asks, and answer on the same session with one framed
 * message of a general-response record and, for some actions, general-parameter records. */
#ifndef AG_ADMIN_H
#define AG_ADMIN_H

#include "cmpltfrm.h"
#include "dsect_list.h"
#include "dsect_one.h"
#include "os_comm.h"
#include "zpaapi.h"
#include "zpalist.h"

CM_EXTERN_C_BEGIN

/* Handles one admin record received with dsect_header on sess_id; the reply is written framed on
 * the session. Error gets the outcome (code 0 success, 1 failure). 1, or 2 when the request failed. */
CM_RC AG_ADMIN_handle_request(DSECT_HEADER_typ* dsect_header, DSECT_ONE_handle_typ* dsect_stc,
                              OS_COMM_sess_typ* sess_id, ZPAError* Error);
/* Applies the action of param_list (the request's rows) to file_path and appends the response
 * records to response_dsect_list. */
CM_RC AG_admin_action(OS_COMM_sess_typ* sess_id, const char* file_path, DSECT_LIST_handle_typ* response_dsect_list,
                      ZPALIST_handle_typ* param_list, ZPAError* Error);
/* The module's version text, at most size - 1 characters. */
void AG_version(char* ver, int size);

CM_EXTERN_C_END

#endif
