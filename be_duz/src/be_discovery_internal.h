/* Internals of request discovery shared by its modules: the rule clause with its bound values and
 * the growing of an agent's output list. Internal to be_duz. */
#ifndef BE_DISCOVERY_INTERNAL_H
#define BE_DISCOVERY_INTERNAL_H

#include "be_def.h"
#include "be_sql_internal.h"

#include <string>

namespace be_discovery {

/* The rule clause of a discovery query: columns and operators as text, every rule value a numbered
 * placeholder whose value lands in binds. 0 with the clause in sqlStr (possibly empty; at most
 * BE_DUZ_RULE_CLAUSE_SIZE - 1 characters), 1 for a missing list or a value that is not valid (the
 * reason is logged). The attributes are never changed. set_flag above 0 builds the clause of the
 * request-set queries. */
ZPARC BE_DUZ_AttributesToSQLstr(ZPAAttrList* Attributes, std::string& sqlStr, int set_flag, be_sql::BindValues& binds);

/* Appends to an agent's output list. The agent's own array (agents_array) is the agent's to free;
 * an array that an earlier append of this call made is released once its attributes are copied. */
ZPARC append_value(ZPAAttrList* out, const ZPAAttr* agents_array, const char* name, const char* value);
ZPARC append_list(ZPAAttrList* out, const ZPAAttr* agents_array, ZPAAttrList* from);

}  // namespace be_discovery

#endif
