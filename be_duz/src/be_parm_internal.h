/* The parameter model's C++ side: resolving the bind references of an SQL text into numbered
 * placeholders whose values travel beside the text. Internal to be_duz. */
#ifndef BE_PARM_INTERNAL_H
#define BE_PARM_INTERNAL_H

#include "be_def.h"
#include "be_internal.h"
#include "be_sql_internal.h"

#include <functional>
#include <string>
#include <vector>

/* Text modes of the resolution: default and job SQL statements, and value-set clauses. */
inline constexpr const char* kBeParmModeSql = "SQL";
inline constexpr const char* kBeParmModeValueSet = "VALUE_SET";

/* Replaces the references ":$PROFILES$.", ":GLOBAL." and ":$FLEX$." of in_str by placeholders of
 * binds (each followed by one blank), or by a bare NULL for a value that cannot be found, and
 * wraps the first argument of rpad and lpad in nvl(). out_str holds BE_DUZ_SQL_TEXT_SIZE bytes.
 * 0; 1 when in_str, a reference name or the result is too long (refused with the reason in
 * Error, out_str emptied). A reference that cannot be resolved does not fail the call. */
/* Logs "what. <error text>" when rc is a failure (the step that failed); returns rc. */
inline ZPARC be_parm_logged(ZPARC rc, const char* what, ZPAError* Error) {
    if (rc != 0) BE_TRACE(2, "%s. %s", what, Error != nullptr ? Error->text : "");
    return rc;
}

/* Copies text into a buffer of size bytes, cut to size - 1 characters. */
inline void be_parm_copy(char* out, const char* text, std::size_t size) {
    if (out == nullptr || size == 0) return;
    std::size_t n = text != nullptr ? strnlen(text, size - 1) : 0;
    std::memcpy(out, text != nullptr ? text : "", n);
    out[n] = '\0';
}

/* The text upper-cased, byte by byte. */
inline std::string be_parm_upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

ZPARC BE_DUZ_resolve_bind_vars(BE_DUZ_Handles* JOB_handle, const char* mode, const char* in_str, char* out_str,
                               BE_DUZ_report_parm** parms, int parmcount, int parmindex, be_sql::BindValues* binds,
                               ZPAError* Error);

/* Pieces that the program and the request-set parameter lists share. */
namespace be_parm {

using be_duz::attr;
/* An option of the connection that is "Y". */
bool option_is_yes(ZPAAttrList* list, const char* name);
/* The job's "DUZ-PARAM_VALIDATION" begins with "N". */
bool validation_off(ZPAAttrList* job);

/* Where a job's parameter values come from: its author wrote them, or discovery copied them from
 * the request's stored arguments (the job's BE_DUZ_PARAM_AS_STORED is "Y"). A stored value is
 * what the E-Business Suite keeps and hands to the program: it is never run as a statement or
 * read as a default request, a table value set looks it up in its ID column only (in the VALUE
 * column when the set has none), and a value that fails its check keeps its stored text rather
 * than being emptied. */
enum class Values { Written, Stored };
Values values_of(ZPAAttrList* job);
std::string without_trailing_blanks(const char* text);

/* One column of a definition query: a text buffer of size bytes, or an integer; failure names
 * the step in the log. */
struct DefinitionColumn {
    char* text;
    int size;
    int* number;
    const char* failure;
};

/* The fields of one parameter definition as a reader found them; display null leaves
 * parm_display as the caller initialised it. */
struct Definition {
    const char* required;
    const char* default_type;
    const char* default_value;
    const char* name;
    const char* display;
    const char* shared_name;
    int value_set_id;
    const char* value_set_name;
    int maximum_size;
    const char* validation_type;
    const char* format_type;
    const char* uppercase;
    const char* displayed;
};
/* Writes a definition into record p at index (its seq_number) and empties its list. */
void store_definition(BE_DUZ_report_parm* p, int index, const Definition& d);

/* The arguments every definition reader checks first: the statement, the count, the caller's 100
 * records and the program name that is bound (at most BE_DUZ_PARM_PROG_NAME_MAX characters). */
ZPARC check_reader_arguments(const char* sqlStr, BE_DUZ_report_parm** parm_recs, int* parms_count, const char* progname,
                             ZPAError* Error);

/* Runs a definition query: prepares sqlStr, lets bind_application bind what the statement needs
 * beside the program, binds prog_name (a buffer of BE_DUZ_PARM_PROG_NAME_MAX + 1 bytes) and, when
 * set_program_id is given, :rsetprogid, defines the columns, executes without fetching and fetches
 * every row; take() copies the current row out and returns whether it takes a record. A row
 * beyond the BE_DUZ_MAX_REPORT_PARMS records, or a fetch that fails, fails the reading. 0, or the
 * failure (the reason in Error, the step in the log). */
ZPARC read_definitions(be_sql::Statement& stmt, const char* sqlStr, const std::function<ZPARC()>& bind_application,
                       char* prog_name, int* set_program_id, const std::vector<DefinitionColumn>& columns,
                       const std::function<bool()>& take, ZPAError* Error);

/* Validation off: job value n (from 1) is value_of(n), null when the job has none. Every record
 * gets its value and report value as given ("Calculated During Submission" and blanks give an
 * empty value). The result is the last index with a value (-1 for none). */
int fill_unvalidated(BE_DUZ_report_parm** recs, const std::function<const char*(int)>& value_of);

/* How the job lists a hidden parameter: under its name at its number (Listed), or not at all
 * (Absent, and the hidden counter grows when the number holds another parameter's name). */
enum class Hidden { Shown, Listed, Absent };
Hidden match_hidden(const BE_DUZ_report_parm* p, const char* job_name, int& hidden_count);

/* What the job gave for a record, for its check and for the case that the check fails: the text
 * (empty for a default, a default request or a failed statement) and whether it is a stored
 * value. A record that took a default, a shared value or nothing keeps the default object. */
struct JobValue {
    std::string text;
    Values source = Values::Written;
};

/* The job's value taken for record i: a stored value is the value as it is; a written one that is
 * "Calculated During Submission" computes the default, an SQL statement (one trailing ';'
 * dropped) gives its first column or else the default, any other text is the value. */
JobValue take_job_value(BE_DUZ_Handles* session, BE_DUZ_report_parm** recs, int last, int i,
                        const std::string& job_value, Values source, ZPAError* Error);

/* The end of a parameter's road: the check against its table value set (warnings on the job's
 * output when it fails), then for a parameter that failed its check (value set "F") or its
 * formatting (other types) the job's text (a stored value's always, a written one's with
 * use_job_value) or else an empty value, then the report value. */
void validate_and_report(BE_DUZ_Handles* session, BE_DUZ_report_parm** recs, int last, int i, ZPARC format_rc,
                         const char* meaning, const JobValue& job, bool use_job_value, ZPAError* Error);

/* Refuses a name longer than max characters (what names it in the error). 0 or 1. */
ZPARC check_name_length(const char* name, std::size_t max, const char* what, ZPAError* Error);

}  // namespace be_parm

#endif
