/* The OCI client interface as the plug-in calls it: scalar types, opaque handles, constants and
 * the functions of the client library. The stand-in libclntsh.so of this folder implements it;
 * the same declarations let the plug-in build unchanged against a real client library. */
#ifndef OCI_H
#define OCI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Scalar types */
typedef unsigned char ub1;
typedef signed char sb1;
typedef unsigned short ub2;
typedef short sb2;
typedef unsigned int ub4;
typedef int sb4;
typedef int sword;
typedef unsigned char OraText;
typedef unsigned char text;
typedef void dvoid;

/* Opaque handles */
typedef struct OCIEnv OCIEnv;
typedef struct OCIError OCIError;
typedef struct OCISvcCtx OCISvcCtx;
typedef struct OCIStmt OCIStmt;
typedef struct OCIBind OCIBind;
typedef struct OCIDefine OCIDefine;
typedef struct OCIServer OCIServer;
typedef struct OCISession OCISession;
typedef struct OCISnapshot OCISnapshot;

/* Status codes */
#define OCI_SUCCESS 0
#define OCI_SUCCESS_WITH_INFO 1
#define OCI_NEED_DATA 99
#define OCI_NO_DATA 100
#define OCI_ERROR -1
#define OCI_INVALID_HANDLE -2
#define OCI_STILL_EXECUTING -3123
#define OCI_CONTINUE -24200

/* Modes */
#define OCI_DEFAULT 0x00000000
#define OCI_THREADED 0x00000001
#define OCI_OBJECT 0x00000002

/* Handle types */
#define OCI_HTYPE_ENV 1
#define OCI_HTYPE_ERROR 2
#define OCI_HTYPE_SVCCTX 3
#define OCI_HTYPE_STMT 4
#define OCI_HTYPE_BIND 5
#define OCI_HTYPE_DEFINE 6
#define OCI_HTYPE_DESCRIBE 7
#define OCI_HTYPE_SERVER 8
#define OCI_HTYPE_SESSION 9

/* Attributes */
#define OCI_ATTR_SERVER 6
#define OCI_ATTR_SESSION 7
#define OCI_ATTR_ROW_COUNT 9
#define OCI_ATTR_PREFETCH_ROWS 11
#define OCI_ATTR_PARAM_COUNT 18
#define OCI_ATTR_USERNAME 22
#define OCI_ATTR_PASSWORD 23
#define OCI_ATTR_STMT_TYPE 24

/* Statement syntax, fetch orientation, credentials */
#define OCI_NTV_SYNTAX 1
#define OCI_FETCH_NEXT 0x00000002
#define OCI_CRED_RDBMS 1

/* External data types */
#define SQLT_CHR 1
#define SQLT_NUM 2
#define SQLT_INT 3
#define SQLT_FLT 4
#define SQLT_STR 5
#define SQLT_LNG 8
#define SQLT_VCS 9
#define SQLT_DAT 12
#define SQLT_BIN 23
#define SQLT_LBI 24
#define SQLT_AFC 96
#define SQLT_AVC 97
#define SQLT_ODT 156

sword OCIInitialize(ub4 mode, dvoid* ctxp, dvoid* (*malocfp)(dvoid* ctxp, size_t size),
                    dvoid* (*ralocfp)(dvoid* ctxp, dvoid* memptr, size_t newsize),
                    void (*mfreefp)(dvoid* ctxp, dvoid* memptr));

sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t xtramem_sz, dvoid** usrmempp);

sword OCIHandleAlloc(const dvoid* parenth, dvoid** hndlpp, ub4 type, size_t xtramem_sz, dvoid** usrmempp);

sword OCIHandleFree(dvoid* hndlp, ub4 type);

sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4 mode);

sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 mode);

sword OCIAttrSet(dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4 size, ub4 attrtype, OCIError* errhp);

sword OCIAttrGet(const dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4* sizep, ub4 attrtype, OCIError* errhp);

sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode);

sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode);

sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len, ub4 language, ub4 mode);

sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder, sb4 placeh_len,
                    dvoid* valuep, sb4 value_sz, ub2 dty, dvoid* indp, ub2* alenp, ub2* rcodep, ub4 maxarr_len,
                    ub4* curelep, ub4 mode);

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, dvoid* valuep, sb4 value_sz,
                     ub2 dty, dvoid* indp, ub2* rlenp, ub2* rcodep, ub4 mode);

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                     const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode);

sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 mode);

sword OCIErrorGet(dvoid* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type);

#ifdef __cplusplus
}
#endif

#endif
