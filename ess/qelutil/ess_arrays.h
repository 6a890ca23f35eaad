/* Growable byte and string arrays of the security library. */
#ifndef ESS_ARRAYS_H
#define ESS_ARRAYS_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef struct _ESS_CHAR_ARRAY {
    char* data;
    int datalen;  /* bytes used */
    int spacelen; /* bytes free */
} ESS_CharArray;

typedef struct _ESS_STRING_ARRAY {
    char** argv; /* NULL-terminated array of owned strings */
    int cur;     /* count */
    int size;    /* capacity */
    int expincr; /* growth step */
} ESS_StringArray;

#define ESS_STRING_ARRAY_STEP 40
#define ESS_CHAR_ARRAY_STEP 1024

ESS_CharArray* ESS_NewCharArray(int size);
/* Appends n bytes; a zero byte always follows the data. Returns the data pointer (NULL on failure). */
char* ESS_Add2CharArray(ESS_CharArray* arr, const void* bytes, int n);
void ESS_DeleteCharArray(ESS_CharArray* arr);
char* ESS_GetCharArrayPtr(ESS_CharArray* arr);
int ESS_GetCharArrayLength(ESS_CharArray* arr);

ESS_StringArray* ESS_NewStringArray(int n);
int ESS_Add2StringArray(ESS_StringArray* arr, const char* text);
int ESS_StringArrayExpand(ESS_StringArray* arr);
void ESS_StringArrayDelete(ESS_StringArray* arr);
char** ESS_GetArgvStringArray(ESS_StringArray* arr);
char* ESS_GetStrStringArray(ESS_StringArray* arr, int i);
int ESS_UpdateStringArray(ESS_StringArray* arr, int i, const char* text);
int ESS_SortStringArray(ESS_StringArray* arr);

CM_EXTERN_C_END

#endif
