/* Types of the plug-in interface that the agent compiles against (attributes, attribute lists, the
 * error record, the result code) and the attribute-list utilities of module zpaapi_utl, which the
 * agent and the plug-in's own code call to read, fill, grow, convert, print and serialize lists. */
#ifndef ZPAAPI_H
#define ZPAAPI_H

#include "cmpltfrm.h"
#include "zpalist.h"

CM_EXTERN_C_BEGIN

/* One attribute. Value has room for ValueLen bytes, terminator included; lists built by this
 * module set ValueLen to the value's length + 1, result slots placed by the agent may be larger. */
typedef struct {
    char* Name;
    unsigned short ValueLen;
    char* Value;
} ZPAAttr;

/* An ordered list of attributes with a cursor (Curr) that may point anywhere, even past the end. */
typedef struct {
    int Count;
    ZPAAttr* Attributes;
    int Curr;
} ZPAAttrList;

typedef unsigned int ZPAErrorCode;
typedef char ZPAErrorText[999];

/* The error record: code 1 is the plug-in's own failure, otherwise an Oracle error number. */
typedef struct {
    ZPAErrorCode code;
    ZPAErrorText text;
} ZPAError;

/* An unavailability report: the error and where it was met (1 or 2 a remote host, 3 or 4 an
 * application account). */
typedef struct {
    ZPAErrorCode errcode;
    ZPAErrorText errtext;
    int unavContext;
} ZPAUnavError;

/* Result of the plug-in entry points. The utilities below return 0 (found, done), 1 (invalid
 * argument, failure) and 2 (not found, end of list). */
typedef int ZPARC;
enum {
    ZPA_SUCCESS = 0,
    ZPA_FAIL = 1,
    ZPA_EOS = 2,
    ZPA_NOT_FOUND = 3,
    ZPA_NOT_SUPPORTED = 4,
    ZPA_RETRY = 5,
    ZPA_UNAVAILABLE = 6,
    ZPA_CPP_STUB_CALLED = 30
};

/* The plug-in handle that the agent owns and passes to ZPAAPI_Init, ZPAAPI_Term and
 * ZPAAPI_Connect; the plug-in reads and writes none of its fields. */
typedef char ZPABeType[32];
typedef char ZPABeDir[256];
typedef char ZPABeName[128];
typedef struct ZPABeHandle {
    ZPABeType Type;
    ZPABeDir Dir;
    ZPAAttrList Attributes;
    void* DLLHandle;
    void* Methods;
    void* UserData;
} ZPABeHandle;

/* One agent connection: the agent owns the record, the plug-in owns what UserData points to. */
typedef struct ZPAConnHandle {
    ZPABeHandle* BeHandle;
    ZPABeName BeName;
    ZPAAttrList Attributes;
    void* UserData;
    ZPARC result;
} ZPAConnHandle;

/* Lookups. A wanted name without the job-variable prefix "%%" also finds a stored "%%NAME". */
ZPARC ZPAAPI_UTILS_AttrListValueGet(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetNoAutoedits(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetLast(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListResetIndex(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetNext(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetPrev(ZPAAttrList* AttrList, char* Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListResetIndexSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetNextSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetPrevSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListResetIndexPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetNextPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value);
ZPARC ZPAAPI_UTILS_AttrListValueGetPrevPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value);

/* The number of characters a slot can hold (ValueLen - 1; 0 for a slot without room). */
ZPARC ZPAAPI_UTILS_AttrListValueSizeGet(ZPAAttrList* AttrList, char* Name, int* size);

/* Sequential walk with the list's cursor. */
ZPARC ZPAAPI_UTILS_AttrListReset(ZPAAttrList* AttrList);
ZPARC ZPAAPI_UTILS_AttrListNext(ZPAAttrList* AttrList, char** Name, char** Value);

/* Write into a result slot the agent placed: cut to ValueLen - 1 characters, never appends. */
ZPARC ZPAAPI_UTILS_AttrListValueSet(ZPAAttrList* AttrList, char* Name, char* Value);

/* Growing a list: a new array of copies; the old array and values are left to their owner. */
ZPARC ZPAAPI_UTILS_AttrListAppend_Value2Attr(ZPAAttrList* AttrList, char* Name, char* Value);
ZPARC ZPAAPI_UTILS_AttrListAppend_Attr2Attr(ZPAAttrList* AttrListFrom, ZPAAttrList* AttrListTo);

/* Conversions into lists of one-block attributes (released with ZPAAPI_utils_release_attr). */
ZPARC ZPAAPI_UTILS_list2attr(ZPALIST_handle_typ* param_list, ZPAAttrList* AttrList);
ZPARC ZPAAPI_UTILS_param2attr(char* table_name, ZPAAttrList* AttrList);
ZPARC ZPAAPI_UTILS_xmlBuff2attr(char* xmlbuffer, char* ParentElem, ZPAAttrList* AttrList);

/* Releasing: one block per attribute, or separate name and value (deserialized lists). */
ZPARC ZPAAPI_utils_release_attr(ZPAAttrList* AttrList);
ZPARC ZPAAPI_utils_release_whole_attr(ZPAAttrList* AttrList);

/* Writes the list to the diagnostic log at the active level the caller set; secrets hidden. */
ZPARC ZPAAPI_utils_print_attr(ZPAAttrList* AttrList);

/* One-text form: "<Count>ATTR_DELIM<name>^#^<value>ATTR_DELIM...". The text is malloc'ed for the
 * caller; a read-back list is released with ZPAAPI_utils_release_whole_attr. */
ZPARC ZPAPI_UTILS_serialize_attr_list(ZPAAttrList* AttributesList, char** buffer);
ZPARC ZPAPI_UTILS_deserialize_attr_list(char* buffer, ZPAAttrList* AttrList);

/* The error record. The format is read as a format: pass a finished text through "%s". */
ZPARC ZPAAPI_UTILS_ErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
ZPAErrorCode ZPAAPI_UTILS_ErrorCodeGet(ZPAError* Error);

/* A formatted line, written unchanged when the debug level reaches DiagLevel. */
ZPARC ZPAAPI_UTILS_DiagPrintf(int DiagLevel, const char* format, ...) __attribute__((format(printf, 2, 3)));

/* The component's version text, at most size - 1 characters, always terminated. */
void ZPA_version(char* ver, int size);

CM_EXTERN_C_END

#endif
