/* Internals of request discovery shared by its modules: the rule clause with its bound values, the
 * query runners of the monitor and intercept modes, the job-data handles (each carries its kind)
 * and the growing of an agent's output list. Internal to be_duz. */
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

/* One discovery query: its text and the values its placeholders take. */
struct Query {
    std::string text;
    be_sql::BindValues binds;
};

/* The monitor query: new rows go into list (values from BE_DUZ_monitor_row) and, with the time
 * they were seen, into seen. 0, or 1 with the text in Error. */
ZPARC BE_DUZ_execute_monitor_SQL(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const Query& query, ZPAError* Error,
                                 ZPALIST_handle_typ* seen);
/* The intercept query: 0 rows found, 2 none, 1 a database error. */
ZPARC BE_DUZ_execute_intercept_SQL(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const Query& query,
                                   ZPAError* Error);

/* The nine fields of a monitor row joined by '&', each with '\' and '&' escaped by a '\', so that a
 * name holding '&' keeps its place; BE_DUZ_monitor_fields splits such a value back (false when it
 * does not hold nine fields). */
std::string BE_DUZ_monitor_row(int req_id, int app_id, int prog_id, const std::string (&texts)[6]);
bool BE_DUZ_monitor_fields(const char* value, std::string (&fields)[9]);

/* Job-data handles. Each begins with its kind, so that CLOSE frees it the way it was made and READ
 * and WRITE refuse a mode that is not the handle's. */
enum class HandleKind : unsigned { Define = 0x44454631u, Monitor = 0x4D4F4E31u, Intercept = 0x494E5431u };

/* Define mode: the discovered requests of programs (key request id, value program name) and of
 * request sets (key and value request id), and the request that the last READ handed over. */
struct BE_DUZ_extract_file_type {
    HandleKind kind = HandleKind::Define;
    ZPALIST_handle_typ req_list{};
    ZPALIST_handle_typ set_list{};
    int curr_reqid = 0;
};

/* Monitor and intercept modes: one row per request (key request id). */
struct BE_DUZ_request_list_type {
    HandleKind kind = HandleKind::Monitor;
    ZPALIST_handle_typ list{};
};

/* The kind of a handle that the job-data entry points made. */
inline HandleKind kind_of(const void* handle) { return *static_cast<const HandleKind*>(handle); }

/* Empties the handle's lists and frees it by its kind. */
void free_handle(void* handle);

/* A step that failed after its helper filled the error record: the step's text goes in front of
 * the helper's ("<step>: <cause>"), so the agent sees both. Returns rc. */
ZPARC wrap_failure(const char* step, ZPARC rc, ZPAError* Error);

/* Appends to an agent's output list. The agent's own array (agents_array) is the agent's to free;
 * an array that an earlier append of this call made is released once its attributes are copied. */
ZPARC append_value(ZPAAttrList* out, const ZPAAttr* agents_array, const char* name, const char* value);
ZPARC append_list(ZPAAttrList* out, const ZPAAttr* agents_array, ZPAAttrList* from);

}  // namespace be_discovery

#endif
