/* The secure-communication provider's table of entry points (its module's API handle), 53 entries,
 * shared by the secure-communication interface and the provider modules. Profile operations take
 * the provider's own profile first, then the caller's arguments in their order; BCAF_Version and
 * BCAF_Caps take the module handle; the two profile constructors take no profile. */
#ifndef BCA_FUNCTIONS_H
#define BCA_FUNCTIONS_H

#include "bca_types.h"

typedef void (*BCAF_PlaceHolder)(void);

typedef struct FunctionPtrs {
    char* (*BCAF_Version)(struct ESS_ModuleHandle* module);
    ESS_Capability* (*BCAF_Caps)(struct ESS_ModuleHandle* module);
    void* (*BCAF_CreateClientProfile)(char* host, unsigned short port, char* dconf, char* mconf, int* status);
    void* (*BCAF_CreateServerProfile)(char* host, unsigned short port, char* dconf, char* mconf, int* status);
    void (*BCAF_DumpProfile)(void* prf);
    void (*BCAF_SetClientName)(void* prf, char* name);
    void (*BCAF_SetServerName)(void* prf, char* name);
    char* (*BCAF_GetClientName)(void* prf, int* status);
    char* (*BCAF_GetServerName)(void* prf, int* status);
    BCAF_PlaceHolder BCAF_PlaceHolder1;
    BCAF_PlaceHolder BCAF_PlaceHolder2;
    BCAF_PlaceHolder BCAF_PlaceHolder3;
    BCAF_PlaceHolder BCAF_PlaceHolder4;
    BCAF_PlaceHolder BCAF_PlaceHolder5;
    BCAF_PlaceHolder BCAF_PlaceHolder6;
    BCAF_PlaceHolder BCAF_PlaceHolder7;
    int (*BCAF_LoginUser)(void* prf, char* user, char** passwd);
    char* (*BCAF_GetUserName)(void* prf);
    int (*BCAF_Connect)(void* prf, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* cname,
                        char* sname);
    int (*BCAF_Accept)(void* prf, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char* sname);
    int (*BCAF_ModuleOption)(void* prf, ESS_Option* in, ESS_Option* out);
    int (*BCAF_IsEstablished)(void* prf, void* h);
    int (*BCAF_GetSid)(void* prf, void* h);
    int (*BCAF_PeerEvent)(void* prf, void* h, char* buf, int len);
    void (*BCAF_AddAppCallback)(void* prf, void* h, ESS_AppProc cb);
    void (*BCAF_AddHandler)(void* prf, void* h, ESS_HandlerProc cb);
    BCAF_PlaceHolder BCAF_PlaceHolder8;
    int (*BCAF_Write)(void* prf, void* h, char* buf, int len);
    int (*BCAF_Read)(void* prf, void* h, char* buf, int len);
    char* (*BCAF_ReadEvent)(void* prf, void* h, int* len);
    char* (*BCAF_PacketBuffer)(void* prf, void* h, char* buf, int* len);
    int (*BCAF_Terminate)(void* prf, void* h);
    int (*BCAF_Close)(void* prf);
    char* (*BCAF_Log)(void* prf, int level, char* str);
    char* (*BCAF_ErrList)(void* prf, int code);
    int (*BCAF_CleanUp)(void* prf, void* obj);
    int (*BCAF_Option)(void* prf, ESS_Option* in, ESS_Option* out);
    int (*BCAF_SessionOption)(void* prf, void* h, ESS_Option* in, ESS_Option* out);
    int (*BCAF_GetProtocol)(void* prf);
    int (*BCAF_Peek)(void* prf, void* h);
    int (*BCAF_Impersonate)(void* prf, void* h);
    int (*BCAF_Revert)(void* prf, void* h);
    BCA_SESSION* (*BCAF_SessionCreate)(void* prf, int role, int options, void* h, ESS_ReadProc rproc,
                                       ESS_WriteProc wproc, char* cname, char* sname);
    int (*BCAF_SessionAccept)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionConnect)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionWrite)(void* prf, BCA_SESSION* session, char* buf, int len);
    int (*BCAF_SessionRead)(void* prf, BCA_SESSION* session, char* buf, int len);
    void (*BCAF_SessionTerminate)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionIsEstablished)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionOptionSess)(void* prf, BCA_SESSION* session, ESS_Option* in, ESS_Option* out);
    int (*BCAF_SessionPeek)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionImpersonate)(void* prf, BCA_SESSION* session);
    int (*BCAF_SessionRevert)(void* prf, BCA_SESSION* session);
} FunctionPtrs;

#ifdef __cplusplus
static_assert(sizeof(FunctionPtrs) == 53 * sizeof(void (*)(void)), "the provider table has 53 entries");
#endif

#endif
