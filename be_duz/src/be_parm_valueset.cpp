/* Table-validated value sets: the check of one value (its row's columns kept in the parameter's
 * list for later references) and the query of all values for a list answer, both built from the
 * value set's definition in FND_FLEX_VALIDATION_TABLES. The table, columns and WHERE clause come
 * from that definition and stay SQL; every value the plug-in adds is bound. */
#include "be_parm_internal.h"

#include "gm_param.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kDefinitionSql =
    "SELECT APPLICATION_TABLE_NAME, ID_COLUMN_NAME, ID_COLUMN_TYPE, ID_COLUMN_SIZE, VALUE_COLUMN_NAME, "
    "VALUE_COLUMN_TYPE, VALUE_COLUMN_SIZE, ADDITIONAL_WHERE_CLAUSE, ADDITIONAL_QUICKPICK_COLUMNS, "
    "MEANING_COLUMN_NAME, MEANING_COLUMN_TYPE,MEANING_COLUMN_SIZE FROM FND_FLEX_VALIDATION_TABLES WHERE "
    "FLEX_VALUE_SET_ID = :valsetid";

constexpr std::size_t kTextMax = BE_DUZ_SQL_TEXT_SIZE - 1;
constexpr int kSlotSize = BE_DUZ_PARM_VALUE_SIZE;
constexpr const char* kWhiteSpace = " \t\r\n";

/* One row of the definition query. */
struct Definition {
    char table[241];
    char id_column[241];
    char id_type[2];
    int id_size;
    char value_column[241];
    char value_type[2];
    int value_size;
    char where[4001];
    char quick_picks[241];
    char meaning_column[241];
    char meaning_type[2];
    int meaning_size;
};

std::string trim_leading(const std::string& text) {
    const std::size_t at = text.find_first_not_of(kWhiteSpace);
    return at == std::string::npos ? std::string() : text.substr(at);
}

std::string trim(const std::string& text) {
    std::string t = trim_leading(text);
    const std::size_t end = t.find_last_not_of(kWhiteSpace);
    t.resize(end == std::string::npos ? 0 : end + 1);
    return t;
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

/* The clause without a leading AND or OR (in any case) that white space follows; the rest keeps
 * its case and the white space after the word. */
std::string without_leading_term(const std::string& clause) {
    const std::string trimmed = trim_leading(clause);
    const std::string up = be_parm_upper(trimmed);
    std::vector<char> rest(up.size() + 1, '\0');
    for (const char* term : {"AND", "OR"}) {
        BE_DUZ_check_and_remove_term_from_query(up.c_str(), rest.data(), term);
        if (rest[0] != '\0') return trimmed.substr(up.size() - std::strlen(rest.data()));
    }
    return trimmed;
}

/* The clause up to its first ORDER BY outside quotes (found in upper case). */
std::string before_order_by(const std::string& clause) {
    std::string up = be_parm_upper(clause);
    const char* order_by = BE_DUZ_STR_ORDERBY_clause(up.data());
    return order_by == nullptr ? clause : clause.substr(0, static_cast<std::size_t>(order_by - up.c_str()));
}

std::string select_expression(const BE_DUZ_report_parm* p, const char* column, const char* type) {
    char clause[BE_DUZ_SELECT_CLAUSE_SIZE] = "";
    BE_DUZ_construct_select_clause(p->formatype[0], column, type[0], p->maxsize, clause);
    return clause;
}

/* Reads the value set's definition. 0, 1 when it has none (the error record untouched), else
 * the failure. */
ZPARC read_definition(BE_DUZ_Handles* session, const BE_DUZ_report_parm* p, Definition& d, ZPAError* Error) {
    std::memset(&d, 0, sizeof d);
    int value_set_id = p->value_set_id;
    be_sql::Statement stmt(session, Error);
    ZPARC rc;
    if ((rc = stmt.prepare(kDefinitionSql)) != 0)
        return be_parm_logged(rc, "Fail to prepare BE_DUZ_RETRIEVE_VALIDATION_TABLES_WITH_MEANING", Error);
    if ((rc = stmt.bind_int(":valsetid", &value_set_id)) != 0)
        return be_parm_logged(rc, "Fail to bind value_set_id", Error);
    ub4 position = 0;
    auto text = [&](char* buffer, int size) {
        return rc == 0 ? (rc = stmt.define_text(++position, buffer, size)) : rc;
    };
    auto number = [&](int* value) { return rc == 0 ? (rc = stmt.define_int(++position, value)) : rc; };
    text(d.table, sizeof d.table);
    text(d.id_column, sizeof d.id_column);
    text(d.id_type, sizeof d.id_type);
    number(&d.id_size);
    text(d.value_column, sizeof d.value_column);
    text(d.value_type, sizeof d.value_type);
    number(&d.value_size);
    text(d.where, sizeof d.where);
    text(d.quick_picks, sizeof d.quick_picks);
    text(d.meaning_column, sizeof d.meaning_column);
    text(d.meaning_type, sizeof d.meaning_type);
    number(&d.meaning_size);
    if (rc != 0) return be_parm_logged(rc, "Fail to define BE_DUZ_RETRIEVE_VALIDATION_TABLE_SQL", Error);
    if ((rc = stmt.execute_no_fetch()) != 0)
        return be_parm_logged(rc, "Fail to execute BE_DUZ_RETRIEVE_VALIDATION_TABLE_SQL", Error);
    switch (stmt.fetch()) {
    case be_sql::Fetch::Row: return 0;
    case be_sql::Fetch::End: BE_TRACE(2, "No information was retrieved from value set %s", p->value_set_name); return 1;
    case be_sql::Fetch::Error: break;
    }
    return be_parm_logged(1, "Fail to execute BE_DUZ_RETRIEVE_VALIDATION_TABLE_SQL", Error);
}

/* The value set's WHERE clause with the references resolved into binds. 0, or the refusal. */
ZPARC resolve_where(BE_DUZ_Handles* session, const Definition& d, BE_DUZ_report_parm** parms, int parmcount,
                    int parmindex, be_sql::BindValues& binds, std::string& clause, ZPAError* Error) {
    char resolved[BE_DUZ_SQL_TEXT_SIZE];
    ZPARC rc = BE_DUZ_resolve_bind_vars(session, kBeParmModeValueSet, d.where, resolved, parms, parmcount, parmindex,
                                        &binds, Error);
    clause = rc == 0 ? resolved : "";
    return rc;
}

/* The last steps of both operations: the session's FND_SESSIONS row, then the statement prepared
 * and its values bound (only those its text still holds). */
ZPARC prepare_final(BE_DUZ_Handles* session, be_sql::Statement& stmt, const std::string& text,
                    be_sql::BindValues& binds, ZPAError* Error) {
    if (text.size() > kTextMax) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Value-set statement of %zu characters is longer than %zu", text.size(),
                              kTextMax);
        BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        return 1;
    }
    ZPARC rc = BE_parm_check_add_fnd_sessions_row(session, Error);
    if (rc != 0) return rc;
    BE_TRACE(4, "SQL>%s", text.c_str());
    BE_TRACE(4, "SQL>length=%d", static_cast<int>(text.size()));
    if ((rc = stmt.prepare(text.c_str())) != 0) {
        BE_TRACE(2, "Fail to prepare sqlStr %s", text.c_str());
        return rc;
    }
    binds.keep_only_in(text);
    return stmt.bind_values(binds);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_retrieve_valuset_values(BE_DUZ_Handles* JOB_handle, ZPALIST_handle_typ* list, BE_DUZ_report_parm* parm_rec,
                                     BE_DUZ_report_parm** parms, BE_DUZ_xmldata_handle* xmldata_handle, int parmcount,
                                     int parmindex, int check_id, char* value, ZPAError* Error) {
    (void)list;
    (void)check_id;
    if (parm_rec == nullptr || xmldata_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter or list answer", BE_POS);
        return 1;
    }
    Definition d;
    ZPARC rc = read_definition(JOB_handle, parm_rec, d, Error);
    if (rc != 0) return rc;

    const bool has_meaning = d.meaning_column[0] != '\0';
    std::string columns = "SELECT " +
                          (d.value_column[0] != '\0' ? select_expression(parm_rec, d.value_column, d.value_type)
                                                     : select_expression(parm_rec, d.id_column, d.id_type)) +
                          " VALUE ";
    columns += has_meaning ? ", " + select_expression(parm_rec, d.meaning_column, d.meaning_type) + " MEANING"
                           : std::string(", NULL MEANING");

    be_sql::BindValues binds;
    std::string clause;
    if ((rc = resolve_where(JOB_handle, d, parms, parmcount, parmindex, binds, clause, Error)) != 0) return rc;
    if (!clause.empty()) {
        const std::string up = be_parm_upper(trim_leading(clause));
        if (!starts_with(up, "WHERE") && !starts_with(up, "ORDER BY"))
            clause = " WHERE " + without_leading_term(clause);
    }

    std::string text;
    if (value == nullptr || value[0] == '\0') {
        text = " " + columns + " FROM  " + d.table + " " + clause + " ";
    } else {
        const std::string inner = columns + " FROM  " + d.table + " " + before_order_by(clause) + " ";
        const bool pattern = BE_DUZ_SQL_replace_wildchar(value, '*', '%') == 0;
        text = "SELECT VALUE, MEANING FROM (" + inner + ") where VALUE " + (pattern ? "like " : "= ") +
               binds.add_text(value);
    }

    be_sql::Statement stmt(JOB_handle, Error);
    if ((rc = prepare_final(JOB_handle, stmt, text, binds, Error)) != 0) return rc;
    rc = stmt.define_text_kept(1, xmldata_handle->row_data[0], kSlotSize, &xmldata_handle->DUZ_ind[0],
                               &xmldata_handle->DUZ_def[0]);
    if (rc == 0 && has_meaning)
        rc = stmt.define_text_kept(2, xmldata_handle->row_data[1], kSlotSize, &xmldata_handle->DUZ_ind[1],
                                   &xmldata_handle->DUZ_def[1]);
    if (rc != 0) return be_parm_logged(rc, "Fail to define value-set columns", Error);
    if (!has_meaning) {
        BE_TRACE(2, "There is no Meaning. cleaning row_data[1], which has value: '%s'", xmldata_handle->row_data[1]);
        std::memset(xmldata_handle->row_data[1], 0, BE_DUZ_XML_ROW_DATA_SIZE);
    }
    return be_parm_logged(stmt.execute_no_fetch(), "Fail to execute constructed SQL", Error);
}

ZPARC BE_DUZ_retrieve_valuset_fields(BE_DUZ_Handles* JOB_handle, ZPALIST_handle_typ* list, BE_DUZ_report_parm* parm_rec,
                                     BE_DUZ_report_parm** parms, int parmcount, int parmindex, int check_id,
                                     char* value, char* meaning, ZPAError* Error) {
    if (parm_rec == nullptr || list == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter or list", BE_POS);
        return 1;
    }
    const char* checked = value != nullptr ? value : "";
    Definition d;
    ZPARC rc = read_definition(JOB_handle, parm_rec, d, Error);
    if (rc != 0) return rc;

    const bool has_id = d.id_column[0] != '\0';
    std::string columns =
        "SELECT " + (has_id ? select_expression(parm_rec, d.id_column, d.id_type) + " ID" : std::string("NULL ID"));
    columns += d.meaning_column[0] != '\0'
                   ? ", " + select_expression(parm_rec, d.meaning_column, d.meaning_type) + " MEANING"
                   : std::string(", NULL MEANING");
    columns += ", " + select_expression(parm_rec, d.value_column, d.value_type) + " VALUE";
    std::vector<std::string> names = {"ID", "MEANING", "VALUE"};

    std::string quick_picks = d.quick_picks;
    for (char* rest = quick_picks.data(); rest != nullptr;) {
        char* field = rest;
        BE_DUZ_parse_field(&rest);
        char* expression = nullptr;
        char* name = nullptr;
        BE_DUZ_parse_column_content(field, &expression, &name);
        if (name == nullptr) continue;
        if (names.size() >= BE_DUZ_VALUESET_MAX_COLUMNS) {
            BE_TRACE(2, "Value set '%s': quick-pick column '%s' left out, more than %d columns",
                     parm_rec->value_set_name, name, BE_DUZ_VALUESET_MAX_COLUMNS);
            continue;
        }
        columns += ", " + std::string(expression != nullptr ? expression : "");
        names.push_back(be_parm_upper(trim(name)));
    }

    be_sql::BindValues binds;
    std::string clause;
    if ((rc = resolve_where(JOB_handle, d, parms, parmcount, parmindex, binds, clause, Error)) != 0) return rc;
    const std::string whole = be_parm_upper(trim(clause));
    const std::string cut = before_order_by(clause);
    if (whole.empty())
        columns += " FROM  " + std::string(d.table) + " ";
    else if (starts_with(whole, "WHERE") || starts_with(whole, "ORDER BY"))
        columns += " FROM  " + std::string(d.table) + " " + cut + " ";
    else
        columns += " FROM  " + std::string(d.table) + " WHERE " + without_leading_term(cut) + " ";

    std::string text = "select * from ( " + columns + " ) where ";
    if (has_id && check_id != 0) {
        text += "ID = " + binds.add_text(checked);
    } else if (meaning != nullptr && meaning[0] != '\0') {
        text += "upper(VALUE) = upper(" + binds.add_text(checked) + ")";
        text += " and upper(MEANING) = upper(" + binds.add_text(meaning) + ")";
    } else {
        text += "upper(VALUE) = upper(" + binds.add_text(checked) + ")";
    }

    be_sql::Statement stmt(JOB_handle, Error);
    if ((rc = prepare_final(JOB_handle, stmt, text, binds, Error)) != 0) return rc;
    std::vector<std::array<char, kSlotSize>> slots(names.size());
    for (std::size_t i = 0; i < slots.size() && rc == 0; ++i) {
        slots[i].fill('\0');
        rc = stmt.define_text(static_cast<ub4>(i + 1), slots[i].data(), kSlotSize);
    }
    if (rc != 0) return be_parm_logged(rc, "Fail to define value-set columns", Error);
    if ((rc = stmt.execute_no_fetch()) != 0) return be_parm_logged(rc, "Fail to execute constructed SQL", Error);
    switch (stmt.fetch()) {
    case be_sql::Fetch::Row: break;
    case be_sql::Fetch::End:
        BE_DUZ_UpdateErrorSet(Error, 1, "For parameter '%s', fail to find value '%s' in value_set '%s'",
                              parm_rec->parm_name, checked, parm_rec->value_set_name);
        return 1;
    case be_sql::Fetch::Error: return be_parm_logged(1, "Fail to execute constructed SQL", Error);
    }

    bool stored = GM_PARAM_list_set(list, "HAS_ID", has_id ? "YES" : "NO") == CM_RC_OK;
    for (std::size_t i = 0; i < names.size(); ++i)
        stored = GM_PARAM_list_set(list, names[i].c_str(), slots[i].data()) == CM_RC_OK && stored;
    if (!stored) {
        BE_DUZ_UpdateErrorSet(Error, 1, "For parameter '%s', fail to set list values", parm_rec->parm_name);
        return 1;
    }
    if (DIAG_debug_level() >= 4) GM_PARAM_list_print(list);
    return 0;
}

ZPARC BE_DUZ_construct_select_clause(char vs_fmt, const char* col_name, char col_type, int vs_size, char* clause) {
    if (clause == nullptr) return 0;
    std::string expression = col_name != nullptr ? col_name : "";
    if (col_type == 'N' || col_type == 'D') {
        expression = "TO_CHAR(" + expression;
        if (vs_fmt == 'X' || vs_fmt == 'Y' || vs_fmt == 'Z') {
            char date_format[BE_DUZ_DATE_OUT_SIZE] = "";
            BE_DUZ_DATE_TIME_fmtcode(vs_fmt, vs_size, date_format);
            expression += ", '" + std::string(date_format) + "')";
        } else {
            expression += ")";
        }
    }
    be_parm_copy(clause, expression.c_str(), BE_DUZ_SELECT_CLAUSE_SIZE);
    return 0;
}

void BE_DUZ_parse_field(char** column_content) {
    if (column_content == nullptr || *column_content == nullptr) return;
    bool quoted = false;
    int depth = 0;
    for (char* p = *column_content; *p != '\0'; ++p) {
        if (*p == '\'') {
            quoted = !quoted;
        } else if (!quoted) {
            if (*p == '(') {
                ++depth;
            } else if (*p == ')') {
                if (depth > 0) --depth;
            } else if (*p == ',' && depth == 0) {
                *p = '\0';
                *column_content = p + 1;
                return;
            }
        }
    }
    *column_content = nullptr;
}

int BE_DUZ_parse_column_content(char* col_content, char** col_exp, char** col_name) {
    if (col_name != nullptr) *col_name = nullptr;
    if (col_content == nullptr || col_name == nullptr) return 0;
    char* into = std::strstr(col_content, "INTO");
    if (into == nullptr) into = std::strstr(col_content, "into");
    if (into == nullptr) return 0;
    *into = '\0';
    *col_name = into + 4;
    std::size_t length = std::strlen(col_content);
    while (length > 0 && std::isspace(static_cast<unsigned char>(col_content[length - 1])))
        col_content[--length] = '\0';
    /* A display width such as (20) or (*) after the expression is dropped. */
    if (length > 0 && col_content[length - 1] == ')') {
        char* open = std::strrchr(col_content, '(');
        if (open != nullptr) {
            const std::string width(open + 1, col_content + length - 1);
            const bool digits = !width.empty() && width.find_first_not_of("0123456789") == std::string::npos;
            if (width == "*" || (digits && width.find_first_not_of('0') != std::string::npos)) *open = '\0';
        }
    }
    if (col_exp != nullptr) *col_exp = col_content;
    return 0;
}

char* BE_DUZ_STR_ORDERBY_clause(char* str) {
    if (str == nullptr) return nullptr;
    for (char* at = std::strstr(str, "ORDER BY"); at != nullptr; at = std::strstr(at + 1, "ORDER BY")) {
        std::size_t quotes = 0;
        for (const char* p = at; *p != '\0'; ++p)
            if (*p == '\'') ++quotes;
        if (quotes % 2 == 0) return at;
    }
    return nullptr;
}

int BE_DUZ_check_and_remove_term_from_query(const char* in_query, char* out_query, const char* term) {
    if (term == nullptr) {
        BE_TRACE(4, "The term to check is NULL. the query will not change.");
        return 0;
    }
    if (in_query == nullptr || out_query == nullptr) return 0;
    const std::size_t length = std::strlen(term);
    if (std::strncmp(in_query, term, length) == 0 && in_query[length] != '\0' &&
        std::isspace(static_cast<unsigned char>(in_query[length]))) {
        std::memmove(out_query, in_query + length, std::strlen(in_query + length) + 1);
        BE_TRACE(4, "removing '%s' from the beginning of the query.", term);
    }
    return 0;
}

CM_EXTERN_C_END
