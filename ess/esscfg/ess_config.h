/* Configuration store of the security library: one file and one section of it, opened through a
 * table of back-end functions (one back end: INI files), with attribute lookup, walks, changes,
 * deletion and saving. Returned names and values are new copies the caller frees. */
#ifndef ESS_CONFIG_H
#define ESS_CONFIG_H

#include "bcc_da.h"
#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

#define ESS_CONFIG_TYPE_INI 0
/* Mode bits: open for update, create anew; neither: read. */
#define ESS_CONFIG_MODE_UPDATE 0x4u
#define ESS_CONFIG_MODE_CREATE 0x8u
#define ESS_CONFIG_MODE_READ 0x2u

/* Room of the path (259 characters), section, preamble and error text. */
#define ESS_CONFIG_PATH_ROOM 261
#define ESS_CONFIG_PREAMBLE_ROOM 1024
#define ESS_CONFIG_ERROR_ROOM 1024
/* A path naming a whole file with a separate section is at most this long. */
#define ESS_CONFIG_FILE_MAX 255

typedef char ESS_CONFIG_ERROR[ESS_CONFIG_ERROR_ROOM];

typedef struct ESS_Config_FunctionPointers {
    int (*pfESS_Config_Delete)(void* impl);
    int (*pfESS_Config_GetAttribute)(void* impl, const char* name, char** value);
    int (*pfESS_Config_GetFirstAttribute)(void* impl, char** name, char** value);
    int (*pfESS_Config_GetNextAttribute)(void* impl, char** name, char** value);
    int (*pfESS_Config_SetAttribute)(void* impl, const char* name, const char* value);
    int (*pfESS_Config_DeleteAttribute)(void* impl, const char* name);
    int (*pfESS_Config_Save)(void* impl);
    int (*pfESS_Config_GetFirstSubKey)(void* impl, char** name);
    int (*pfESS_Config_GetNextSubKey)(void* impl, char** name);
    int (*pfESS_Config_SetOptionStr)(void* impl, const char* option, const char* value);
    int (*pfESS_Config_SetOptionInt)(void* impl, const char* option, int value);
    int (*pfESS_Config_GetOptionStr)(void* impl, const char* option, char** value);
    int (*pfESS_Config_GetOptionInt)(void* impl, const char* option, int* value);
} ESS_Config_FunctionPointers;

typedef struct ESS_Config_ContextType {
    int m_ConfigType;
    unsigned int m_mode;
    char m_PathStr[ESS_CONFIG_PATH_ROOM];
    char m_subkey[ESS_CONFIG_PATH_ROOM];
    char m_preambleText[ESS_CONFIG_PREAMBLE_ROOM];
    ESS_CONFIG_ERROR m_error;
    void* m_ConfigContextImplPtr;
    ESS_Config_FunctionPointers m_FuncTable;
} ESS_Config_Context;

/* The INI back end's context. */
typedef struct ESS_Config_Ini_Context {
    ESS_Config_Context* m_ConfigContextPtr;
    BCC_IniAccess* m_da;
    BCC_IniStanza* m_stanza; /* the current section; NULL for "*" */
} ESS_Config_Ini_Context;

/* NULL for a NULL or empty path, a path of more than 259 characters (or a section of more than
 * 260), an unknown type, or when the back end cannot open the file or section. */
ESS_Config_Context* ESS_Config_New(int nConfigType, const char* PathStr, unsigned int mode);
ESS_Config_Context* ESS_Config_NewBySubkey(int nConfigType, const char* PathStr, const char* subkey,
                                           const char* preambleText, unsigned int mode);
void ESS_Config_Delete(ESS_Config_Context** ctx);
int ESS_Config_GetAttribute(ESS_Config_Context* ctx, const char* name, char** value);
int ESS_Config_GetFirstAttribute(ESS_Config_Context* ctx, char** name, char** value);
int ESS_Config_GetNextAttribute(ESS_Config_Context* ctx, char** name, char** value);
int ESS_Config_SetAttribute(ESS_Config_Context* ctx, const char* name, const char* value);
int ESS_Config_DeleteAttribute(ESS_Config_Context* ctx, const char* name);
int ESS_Config_Save(ESS_Config_Context* ctx);
int ESS_Config_GetFirstSubKey(ESS_Config_Context* ctx, char** name);
int ESS_Config_GetNextSubKey(ESS_Config_Context* ctx, char** name);
int ESS_Config_SetOptionStr(ESS_Config_Context* ctx, const char* option, const char* value);
int ESS_Config_SetOptionInt(ESS_Config_Context* ctx, const char* option, int value);
int ESS_Config_GetOptionStr(ESS_Config_Context* ctx, const char* option, char** value);
int ESS_Config_GetOptionInt(ESS_Config_Context* ctx, const char* option, int* value);
char* ESS_Config_LastError(ESS_Config_Context* ctx);

/* The INI back end's table, in the facade's order. */
extern const ESS_Config_FunctionPointers gESS_Config_Ini_FunctionPointers;
int ess_config_Ini_Context_New(ESS_Config_Context* ctx);

CM_EXTERN_C_END

#endif
