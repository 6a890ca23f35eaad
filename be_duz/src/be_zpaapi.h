/* The plug-in's entry points: what an agent looks up in libappbridge and calls, with their C
 * signatures. The agent loads the library, calls ZPAAPI_Init once, then for each connection
 * ZPAAPI_Connect, any number of action and data calls with that connection, and
 * ZPAAPI_Disconnect; ZPAAPI_Term ends the use on the calling thread. The attribute-list utilities
 * and the types are in zpaapi.h, which this header includes. Usable from C and C++. */
#ifndef BE_ZPAAPI_H
#define BE_ZPAAPI_H

#include "zpaapi.h"

CM_EXTERN_C_BEGIN

/* ------------------------------------------------------------------------------------------------
 * Life cycle and connection
 * ---------------------------------------------------------------------------------------------- */

ZPARC ZPAAPI_Init(ZPABeHandle* BackEnd, ZPAAttrList* Attributes, ZPAError* Error);
ZPARC ZPAAPI_Term(ZPABeHandle* BackEnd, ZPAError* Error);
/* UserData afterwards: the plug-in's session (for "TRACK" its sessions, one a database), or null
 * when the request needs none or the session failed for an Oracle reason (the call then succeeds
 * and the failure is in the jobs failure table). A null BackEnd is the plug-in's own reconnection
 * of a tracking connection: UserData keeps its sessions and the new one joins them. */
ZPARC ZPAAPI_Connect(ZPABeHandle* BackEnd, ZPAConnHandle* Connection, ZPAAttrList* Attributes, ZPAError* Error);
/* Closes and frees whatever UserData holds and clears it. 0, or 1 when it cannot be walked. */
ZPARC ZPAAPI_Disconnect(ZPAConnHandle* Connection, ZPAError* Error);
/* Releases a list that the plug-in grew (ZPAAPI_utils_release_attr). */
ZPARC ZPAAPI_ReleaseAttr(ZPAAttrList* AttrList);
/* The plug-in's banner, at most size - 1 characters, terminated. */
void OEBS_version(char* ver, int size);

/* ------------------------------------------------------------------------------------------------
 * Job script
 * ---------------------------------------------------------------------------------------------- */

/* Always 3 (ZPA_NOT_FOUND) with code 3: there is no job-script action. */
ZPARC ZPAAPI_JCL_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error);
/* Builds the text of the job named by ORDERNO/RUNNO (or MEMLIB/MEMNAME) on the connection's
 * session; 0 with the text's FILE* in *Handle. A failed open hands out nothing and leaves no file. */
ZPARC ZPAAPI_JCL_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error);
/* The next piece (the room of the output slot "TEXT") for NAVIGATE=NEXT: 0 a piece, 2 end of text
 * (the bytes before the end are in the slot, terminated), 1 failure. */
ZPARC ZPAAPI_JCL_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error);
/* Always 0, no effect. */
ZPARC ZPAAPI_JCL_DATA_WRITE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);
/* Closes (and so removes) the text: 0, or 1 for a null handle. */
ZPARC ZPAAPI_JCL_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Encryption key change of the accounts file ("BackUp", "CleanUp", "Restore", "Deploy")
 * ---------------------------------------------------------------------------------------------- */

ZPARC ZPAAPI_PASSWORDKEY_ACTION(ZPAConnHandle* ConnHandle, char* Action, ZPAAttrList* AttributesIn,
                                ZPAAttrList* AttributesOut, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Lists: the request's "TEXT" holds the XML question; the answer goes into the output "TEXT"
 * ---------------------------------------------------------------------------------------------- */

ZPARC ZPAAPI_LIST_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                         ZPAError* Error);
ZPARC ZPAAPI_LIST_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, ZPAError* Error);
/* 0 while more follows, 2 with the last text, 1 on failure (also a row that does not fit the slot). */
ZPARC ZPAAPI_LIST_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                            ZPAAttrList* AttributesOut, ZPAError* Error);
ZPARC ZPAAPI_LIST_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Job data (discovery). OPEN with EXTRACT_MODE "ORVDEFINE" or "ORVCREATE" stores a new handle (any
 * other mode: 0 and no handle); READ appends the next request's job attributes (2 when none is
 * left); WRITE holds and/or cancels the request of the last define-mode READ and always releases
 * Attributes (build it with ZPAAPI_UTILS_AttrListAppend_Value2Attr); CLOSE frees the handle by
 * the kind it was opened with.
 * ---------------------------------------------------------------------------------------------- */

ZPARC ZPAAPI_JOB_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC ZPAAPI_JOB_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error);
ZPARC ZPAAPI_JOB_DATA_WRITE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);
ZPARC ZPAAPI_JOB_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Job actions, events and shouts
 * ---------------------------------------------------------------------------------------------- */

/* The agent's job actions: SUBMIT, TRACK, STATISTICS, KILL, DELETE, DEQUEUE, TRACK_INIT and
 * TRACK_TERM. A job recorded in the jobs failure table is answered from it; after a failed action
 * the failure notice goes into the job's sysout. 0, 1 own failure, 4 unsupported action, or the
 * handler's result. */
ZPARC ZPAAPI_JOB_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error);
/* Sleeps EVENT_TIMEOUT seconds in the calling thread: 0, or 1 when the attribute is missing. */
ZPARC ZPAAPI_EVENT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                          ZPAAttrList* AttributesOut, ZPAError* Error);
/* "SEND" delivers MESSAGE to the OEBS user of SHOUT_DESTINATION ("<account>:<user>") as a Workflow
 * notification on the connection's session. 0 sent, 1 failure, 4 another action. */
ZPARC ZPAAPI_SHOUT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                          ZPAAttrList* AttributesOut, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Job output (sysout). The open hands out a read-only copy of the job's sysout, building it from
 * the database first when it does not exist.
 * ---------------------------------------------------------------------------------------------- */

ZPARC ZPAAPI_SYSOUT_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, ZPAError* Error);
/* NAVIGATE "NEXT": the next piece into TEXT (chunk mode) or the next line into ONSTMT/ONCODE.
 * 0 data, 2 end of the sysout, 1 failure. */
ZPARC ZPAAPI_SYSOUT_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                              ZPAAttrList* AttributesOut, ZPAError* Error);
ZPARC ZPAAPI_SYSOUT_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error);
/* "N" move, "F" copy (to SYSOUT_ACTION_PARAM), "D" and "CLEAR" delete; 4 for any other action. */
ZPARC ZPAAPI_SYSOUT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error);

CM_EXTERN_C_END

#endif
