/* The parameter model's C++ side: resolving the bind references of an SQL text into numbered
 * placeholders whose values travel beside the text. Internal to be_duz. */
#ifndef BE_PARM_INTERNAL_H
#define BE_PARM_INTERNAL_H

#include "be_def.h"
#include "be_sql_internal.h"

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

#endif
