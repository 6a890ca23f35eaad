/* Helpers shared by the configuration manager's request modules (be_pkm_*). Internal to be_duz. */
#ifndef BE_PKM_INTERNAL_H
#define BE_PKM_INTERNAL_H

#include "be_def.h"

#include <string>
#include <string_view>

namespace be_pkm {

/* Text for an element of an answer: '&', '<' and '>' written as references. */
std::string escaped(std::string_view text);

/* The text of an element of the request (at most BE_DUZ_XML_VALUE_SIZE - 1 characters); false when
 * the request has none. */
bool element(char* request, const char* tag, std::string& value);

/* The error record's text without the plug-in's prefix. */
std::string reason(const ZPAError* Error);

/* The document a request manager wrote: from the first "<?xml version" to the first "</UVSCM>",
 * both included; false when either is missing (or the end comes first). */
bool document_of(std::string_view text, std::string& document);

/* 0 when the handler left an answer in the handle (success or failure form), else rc (or 1). */
ZPARC answered(const BE_DUZ_xmldata_handle* handle, ZPARC rc);

}  // namespace be_pkm

#endif
