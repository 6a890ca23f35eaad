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

/* The flaw of a value of a request that is to be stored in a table file: a line break (line feed
 * or carriage return), which a stored value never holds, or blanks at its ends, which the file
 * would not give back (gm_param::value_flaw); null when there is none. */
const char* stored_value_flaw(std::string_view value);

/* Whether an account name (the request element `field`) can stand as a section of the accounts
 * and watch-times files as sent: no bracket or line break, and what a section name must be; false
 * after storing "<field> refused: <why>" in the error record. */
bool account_name_fits(const char* field, const std::string& name, ZPAError* Error);

/* Whether every value element of an account request can be stored as sent (stored_value_flaw);
 * false after storing "<element> refused: <why>" for the first that cannot. The password is not
 * among them: what is stored of it is this plug-in's own cipher text. */
bool account_values_fit(char* request, ZPAError* Error);

/* 0 when the handler left an answer in the handle (success or failure form), else rc (or 1). */
ZPARC answered(const BE_DUZ_xmldata_handle* handle, ZPARC rc);

}  // namespace be_pkm

#endif
