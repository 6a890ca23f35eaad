/* INI document model of the security library's configuration store: a file of sections in file
 * order, each a list of name = value attributes in file order, with its reader and writer. */
#ifndef BCC_DA_H
#define BCC_DA_H

#include <stdio.h>

#include "cmpltfrm.h"
#include "ess_arrays.h"
#include "ess_list.h"

CM_EXTERN_C_BEGIN

/* Result codes of the store. */
#define ESS_CONFIG_OK 0
#define ESS_CONFIG_FAIL (-1)
#define ESS_CONFIG_UNREADABLE (-3)
#define ESS_CONFIG_NOT_FOUND (-5)    /* section (or attribute to delete) not found; end of sections */
#define ESS_CONFIG_NO_ATTRIBUTE (-6) /* attribute not found; end of attributes */
#define ESS_CONFIG_NO_STANZA (-52)   /* section to delete not found */
#define ESS_CONFIG_UNWRITABLE (-54)
#define ESS_CONFIG_NOT_ADDED (-56)

/* Room of the file name (259 characters) and of one line read (16383 bytes). */
#define BCC_INI_FILENAME_ROOM 260
#define BCC_INI_LINE_ROOM 16384

/* Open-mode letters: update ("r+"), create anew (starts empty), read. */
#define BCC_INI_MODE_UPDATE 'a'
#define BCC_INI_MODE_CREATE 'w'
#define BCC_INI_MODE_READ 'r'

typedef struct BCC_IniAttribute {
    char* m_attrName;
    char* m_attrValue;
} BCC_IniAttribute;

typedef struct BCC_IniStanza {
    char* m_stanzaName;
    ESS_LIST_typ* m_attrList; /* BCC_IniAttribute* by pointer, in file order */
} BCC_IniStanza;

typedef struct BCC_IniFile {
    char m_filename[BCC_INI_FILENAME_ROOM]; /* UTF-8 */
    FILE* fd;
} BCC_IniFile;

typedef struct BCC_IniAccess {
    BCC_IniFile* m_store;
    ESS_LIST_typ* m_stanzaList; /* BCC_IniStanza* by pointer, in file order */
    char* m_strPreamble;
} BCC_IniAccess;

/* Reads and parses the file (host and port are not used). NULL with *rc -3 when the file cannot be
 * opened or an attribute comes before the first section. In create mode the file is not read: the
 * document starts empty and the old file stays until a save replaces it. */
BCC_IniAccess* New_BCC_IniAccess(const char* host, int port, const char* file, char mode, int* rc);
void Free_BCC_IniAccess(BCC_IniAccess* acc);
/* The first section of that exact name, or NULL (*rc -5). */
BCC_IniStanza* BCC_IniAccess_FindStanza(BCC_IniAccess* acc, const char* name, int* rc);
int BCC_IniAccess_DeleteStanza(BCC_IniAccess* acc, const char* name);
/* Appends a section with attributes from "name=value" items; an item without '=' that is not
 * empty makes the call fail (-1) and adds nothing. */
int BCC_IniAccess_AddStanza(BCC_IniAccess* acc, const char* name, ESS_StringArray* pars);
BCC_IniStanza* BCC_IniAccess_GetFirstStanza(BCC_IniAccess* acc);
BCC_IniStanza* BCC_IniAccess_GetNextStanza(BCC_IniAccess* acc);
int BCC_IniAccess_SetPreambleText(BCC_IniAccess* acc, const char* text);
/* Writes the preamble and the sections back to the file through a temporary file renamed over it;
 * -54 (the old file unchanged) when it cannot be written. */
int BCC_IniAccess_Save(BCC_IniAccess* acc);
/* The default preamble written at the head of a saved file. */
const char* BCC_IniAccess_DefaultPreamble(void);

BCC_IniStanza* New_BCC_IniStanza(const char* name);
void Free_BCC_IniStanza(BCC_IniStanza* stanza);
char* BCC_IniStanza_GetName(BCC_IniStanza* stanza);
int BCC_IniStanza_AddAttribute(BCC_IniStanza* stanza, const char* name, const char* value);
int BCC_IniStanza_DeleteAttribute(BCC_IniStanza* stanza, const char* name);
/* New copies the caller frees with Free_BCC_IniAttribute. */
BCC_IniAttribute* BCC_IniStanza_FindAttribute(BCC_IniStanza* stanza, const char* name);
BCC_IniAttribute* BCC_IniStanza_GetFirstAttribute(BCC_IniStanza* stanza);
BCC_IniAttribute* BCC_IniStanza_GetNextAttribute(BCC_IniStanza* stanza);
/* The stored attributes. */
BCC_IniAttribute* BCC_IniStanza_FindAttributePtr(BCC_IniStanza* stanza, const char* name);
BCC_IniAttribute* BCC_IniStanza_GetFirstAttributePtr(BCC_IniStanza* stanza);
BCC_IniAttribute* BCC_IniStanza_GetNextAttributePtr(BCC_IniStanza* stanza);

BCC_IniAttribute* New_BCC_IniAttribute(const char* name, const char* value);
void Free_BCC_IniAttribute(BCC_IniAttribute* attr);
int BCC_IniAttribute_SetValue(BCC_IniAttribute* attr, const char* value);
char* BCC_IniAttribute_GetName(BCC_IniAttribute* attr);
char* BCC_IniAttribute_GetValue(BCC_IniAttribute* attr);

/* A file name of 260 characters or more is refused (NULL). */
BCC_IniFile* New_BCC_IniFile(const char* fileName, char mode);
void Free_BCC_IniFile(BCC_IniFile* file);
/* The next line (at most length-1 bytes; a longer line continues as the next one), a CR LF end
 * read as LF; NULL at the end. */
char* BCC_IniFile_GetNextString(BCC_IniFile* file, char* buffer, int length);
int BCC_IniFile_PutNextString(BCC_IniFile* file, const char* text);

/* In place: cuts dn at its last '/' and returns it (the directory part). */
char* BCM_Profile_SplitDnPath(char* dn);
/* The part after the last '/' (the whole text when there is none). */
char* BCM_Profile_SplitDnEntry(char* dn);

CM_EXTERN_C_END

#endif
