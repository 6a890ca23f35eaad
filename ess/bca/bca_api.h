/* Secure-communication interface: secure sessions over a caller's own connection, profile
 * attributes, the provider's log and a password store, each operation checking its arguments and
 * then calling the entry of the profile's provider module. */
#ifndef BCA_API_H
#define BCA_API_H

#include "bca_functions.h"
#include "bca_types.h"
#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

#define BCA_LOAD_ERROR_ROOM 256
#define BCA_SESSION_ERROR_ROOM 256

void BCA_Init(void);
const char* BCA_ApiVersion(void);
/* Loads a provider module through the signature-checked loader (version "1.0"; the caller's
 * flags are not passed on). NULL with the loader's message in BCA_LoadError() on failure. */
ESS_ModuleHandle* BCA_LoadModule(const char* path, int* rc, int flags);
int BCA_CloseModule(ESS_ModuleHandle* module);
char* BCA_LoadError(void);
ESS_Capability* BCA_Caps(ESS_ModuleHandle* module);
char* BCA_Version(ESS_ModuleHandle* module);

BCA_PRF* BCA_CreateClientProfile(ESS_ModuleHandle* module, char* host, unsigned short port, char* dconf, char* mconf,
                                 int* status);
BCA_PRF* BCA_CreateServerProfile(ESS_ModuleHandle* module, char* host, unsigned short port, char* dconf, char* mconf,
                                 int* status);
int BCA_Close(BCA_PRF* profile);
void BCA_DumpProfile(BCA_PRF* profile);
void BCA_SetClientName(BCA_PRF* profile, char* name);
void BCA_SetServerName(BCA_PRF* profile, char* name);
char* BCA_GetClientName(BCA_PRF* profile, int* status);
char* BCA_GetServerName(BCA_PRF* profile, int* status);
int BCA_LoginUser(BCA_PRF* profile, char* user, char** passwd);
char* BCA_GetUserName(BCA_PRF* profile);

/* Sessions on the caller's connection handle h. */
int BCA_Connect(BCA_PRF* profile, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* cname,
                char* sname);
int BCA_Accept(BCA_PRF* profile, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* sname);
int BCA_IsEstablished(BCA_PRF* profile, void* h);
int BCA_GetSid(BCA_PRF* profile, void* h);
int BCA_Terminate(BCA_PRF* profile, void* h);
int BCA_CleanUp(BCA_PRF* profile, void* obj);
int BCA_Write(BCA_PRF* profile, void* h, char* buf, int len);
int BCA_Read(BCA_PRF* profile, void* h, char* buf, int len);
int BCA_PeerEvent(BCA_PRF* profile, void* h, char* buf, int len);
char* BCA_ReadEvent(BCA_PRF* profile, void* h, int* len);
char* BCA_PacketBuffer(BCA_PRF* profile, void* h, char* buf, int* len);
void BCA_AddAppCallback(BCA_PRF* profile, void* h, ESS_AppProc cb);
void BCA_AddHandler(BCA_PRF* profile, void* h, ESS_HandlerProc cb);
int BCA_Option(BCA_PRF* profile, ESS_Option* in, ESS_Option* out);
int BCA_SessionOption(BCA_PRF* profile, void* h, ESS_Option* in, ESS_Option* out);
int BCA_GetProtocol(BCA_PRF* profile);
char* BCA_ErrList(BCA_PRF* profile, int code);
int BCA_Peek(BCA_PRF* profile, void* h);
int BCA_Impersonate(BCA_PRF* profile, void* h);
int BCA_Revert(BCA_PRF* profile, void* h);
char* BCA_Log(BCA_PRF* profile, int level, char* str);
char* BCA_GetLastProfileError(BCA_PRF* profile);
/* "session not found" when the provider has no session for h. */
char* BCA_GetLastSessionError(BCA_PRF* profile, void* h);

/* Sessions made by the provider. */
BCA_SESSION* BCA_SessionCreate(BCA_PRF* profile, int role, int options, void* h, ESS_ReadProc rproc,
                               ESS_WriteProc wproc, char* cname, char* sname);
int BCA_SessionAccept(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionConnect(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionWrite(BCA_PRF* profile, BCA_SESSION* session, char* buf, int len);
int BCA_SessionRead(BCA_PRF* profile, BCA_SESSION* session, char* buf, int len);
void BCA_SessionTerminate(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionIsEstablished(BCA_PRF* profile, BCA_SESSION* session);
char* BCA_SessionGetLastError(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionOptionSess(BCA_PRF* profile, BCA_SESSION* session, ESS_Option* in, ESS_Option* out);
int BCA_SessionPeek(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionImpersonate(BCA_PRF* profile, BCA_SESSION* session);
int BCA_SessionRevert(BCA_PRF* profile, BCA_SESSION* session);

/* Option wrappers. */
int BCA_SetLogHandler(BCA_PRF* profile, ESS_LogCallback hook, void* context);
int BCA_SetLogLevel(BCA_PRF* profile, unsigned int level);
/* The provider's log level, or -1. */
int BCA_GetLogLevel(BCA_PRF* profile);
char* BCA_GetProfileAttributeChar(BCA_PRF* profile, char* name);
int BCA_GetProfileAttributeInt(BCA_PRF* profile, char* name, int* value);
int BCA_SetProfileAttributeChar(BCA_PRF* profile, char* name, char* value);
int BCA_SetProfileAttributeInt(BCA_PRF* profile, char* name, int value);
int BCA_SetAuthorizationCB(BCA_PRF* profile, int type, void* data);

/* Password store: secrets of any bytes under a label ("" is a label; NULL is refused). The data
 * of BCA_GetPassword belongs to the provider and is released with BCA_CleanUp. */
int BCA_GetPassword(BCA_PRF* profile, char** data, int* length, const char* label);
int BCA_StorePassword(BCA_PRF* profile, const char* data, int length, const char* label);
int BCA_DeletePassword(BCA_PRF* profile, const char* label);

CM_EXTERN_C_END

#endif
