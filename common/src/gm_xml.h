/* XML texts of the agent's forms (root UVSCM with a HEADER and a BODY part): a writer that appends
 * to a caller's buffer, and readers over the XML parser that fetch one element's value or turn all
 * leaf elements under a parent into name/value rows. */
#ifndef GM_XML_H
#define GM_XML_H

#include "cmpltfrm.h"
#include "zpalist.h"

/* Names of elements and parents are kept to this many characters by the readers. */
#define GM_XML_NAME_MAX 31
/* A list row: the element name in a field of this size, then the text and its terminator. */
#define GM_XML_ROW_NAME_SIZE 64
/* Longest element text the list reader turns into a row. */
#define GM_XML_LIST_VALUE_MAX 2047

CM_EXTERN_C_BEGIN

/* Writer. Every function appends to a NUL-terminated buffer that the caller made large enough
 * for the whole text, and returns 1. */
CM_RC GM_XML_BufInit(char* buffer);
CM_RC GM_XML_StartParentElement(char* buffer, const char* name, const char* attributes);
CM_RC GM_XML_WriteElement(char* buffer, const char* name, const char* value, const char* attributes);
CM_RC GM_XML_CloseParentElement(char* buffer, const char* name);
CM_RC GM_XML_BufEnd(char* buffer);
/* Appends a copy of the source's first element <name>...</name>; 2 when memory runs out. */
CM_RC GM_XML_DuplicateParentElement(const char* source, char* dest, const char* name);

CM_RC GM_xml_writeHeader(char* buffer, const char* text);
/* attributes: name, value, name, value, ..., ended by a null name (or null for none). */
CM_RC GM_xml_writeStartElem(char* buffer, const char* name, const char** attributes);
CM_RC GM_xml_writeStartElemWithStringAttributes(char* buffer, const char* name, const char* attributes);
CM_RC GM_xml_writeAttributeValue(char* buffer, const char* value);
CM_RC GM_xml_writeAttributes(char* buffer, const char* text);
CM_RC GM_xml_writeCharacterData(char* buffer, const char* text, int length);
CM_RC GM_xml_writeEndElem(char* buffer, const char* name);

/* Single-value reader: the text of the last occurrence of element under parent, and the last
 * attribute (name and value) of that element. Every output comes with its size in bytes and is
 * cut to size - 1 characters; an element that does not occur leaves the outputs as they were.
 * 1 success, 2 null or size-less output, parser failure or malformed text. */
CM_RC GM_XML_ParseByParentElement(const char* xml, const char* element, const char* parent, char* value, int value_size,
                                  char* att_name, int att_name_size, char* att_value, int att_value_size);
CM_RC GM_XML_ParseHeader(const char* xml, const char* element, char* value, int value_size, char* att_name,
                         int att_name_size, char* att_value, int att_value_size);
CM_RC GM_XML_ParseBody(const char* xml, const char* element, char* value, int value_size, char* att_name,
                       int att_name_size, char* att_value, int att_value_size);

/* List reader: initialises list and appends one row per leaf element under parent, in document
 * order. 1 success; 2 parser failure, malformed text, or an over-long name or text (skipped). */
CM_RC GM_XML_ParseBuf2List(const char* xml, const char* parent, ZPALIST_handle_typ* list);
CM_RC GM_XML_ParseBuf2ListByEncoding(const char* xml, const char* parent, ZPALIST_handle_typ* list,
                                     const char* encoding);

CM_EXTERN_C_END

#endif
