/* Typed parameter list of the security library: named ints, strings, byte blocks and lists of
 * strings or blocks, kept on a hash set; a name exists once per type and compares without regard
 * to case. Values are owned copies; getters hand out the stored value. */
#ifndef ESS_PARAMLIST_H
#define ESS_PARAMLIST_H

#include "cmpltfrm.h"
#include "ess_set.h"

CM_EXTERN_C_BEGIN

enum {
    ESS_PARAM_INT = 0,
    ESS_PARAM_STRING = 1,
    ESS_PARAM_OBJECT = 2,
    ESS_PARAM_STRING_LIST = 3,
    ESS_PARAM_OBJECT_LIST = 4
};

/* Result of a walk past its last entry (shared by the set's copying walk). */
#define ESS_END_OF_WALK (-6)

typedef struct ParamListEntry_typ {
    char* m_szLabel;
    int m_nType;
    int m_nSize; /* 4 for an int, string length, block bytes, or element count of a list */
    void* m_pData;
    char** m_StringListParamValue;
    void** m_ObjectListParamValue;
    int m_nSizeOfEach;
} ParamListEntry_typ;

typedef struct ParamList_typ {
    Ess_Set m_pEss_Set;
} ParamList_typ;
typedef ParamList_typ ESS_ParamList;

ESS_ParamList* ESS_ParamList_New(void);
int ESS_ParamList_Delete(ESS_ParamList** list);
int ESS_ParamList_Clear(ESS_ParamList* list);

int ESS_ParamList_SetInt(ESS_ParamList* list, const char* name, int value);
int ESS_ParamList_SetString(ESS_ParamList* list, const char* name, const char* value);
int ESS_ParamList_SetObject(ESS_ParamList* list, const char* name, const void* block, int size);
int ESS_ParamList_SetStringList(ESS_ParamList* list, const char* name, char** texts, int count);
int ESS_ParamList_SetObjectList(ESS_ParamList* list, const char* name, void** blocks, int count, int sizeOfEach);

int ESS_ParamList_GetInt(ESS_ParamList* list, const char* name, int* value);
int ESS_ParamList_GetString(ESS_ParamList* list, const char* name, char** value);
int ESS_ParamList_GetObject(ESS_ParamList* list, const char* name, void** block, int* size);
int ESS_ParamList_GetStringList(ESS_ParamList* list, const char* name, char*** texts, int* count);
int ESS_ParamList_GetObjectList(ESS_ParamList* list, const char* name, void*** blocks, int* count, int* sizeOfEach);

/* Walk in set order: the name (cut to nameSize-1 and terminated) and, for ints, strings and
 * blocks, min(size, *valueSize) bytes of the value (a string without its terminator), *valueSize
 * set to the count copied. List entries give -1; the end gives -6. */
int ESS_ParamList_GetFirst(ESS_ParamList* list, char* name, int nameSize, void* value, int* valueSize);
int ESS_ParamList_GetNext(ESS_ParamList* list, char* name, int nameSize, void* value, int* valueSize);

CM_EXTERN_C_END

#endif
