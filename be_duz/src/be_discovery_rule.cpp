/* Rule filters of request discovery: turns the rule keys among the job-data attributes into the
 * condition that the discovery queries append to their fixed texts. Columns and operators are text;
 * every value of a rule is a numbered bind value. Owns the rule-key columns and the group scan. */
#include "be_def.h"
#include "be_discovery_internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct KeyColumn {
    const char* key;
    const char* column;
};

constexpr KeyColumn kKeyColumns[] = {
    {"DUZ-USERNAME", "usr.USER_NAME"},
    {"DUZ-RESPNAME", "resp.responsibility_name"},
    {"DUZ-RESPAPP", "resp_app.application_short_name"},
    {"DUZ-PROGNAME", "prog.concurrent_program_name"},
    {"DUZ-SETNAME", "reqs.request_set_name"},
    {"DUZ-APPNAME", "prog_app.application_short_name"},
    {"DUZ-REQUEST_ID", "req.request_id"},
    {"DUZ-REQTYPE", "req_cls.request_class_name"},
    {"DUZ-STATUS_CODE", "req.status_code"},
};

constexpr const char* kProgName = "DUZ-PROGNAME";
constexpr const char* kSetName = "DUZ-SETNAME";
constexpr const char* kTaskType = "DUZ-TASKTYPE";
constexpr const char* kStatusCode = "DUZ-STATUS_CODE";
constexpr const char* kRequestId = "DUZ-REQUEST_ID";
constexpr const char* kStatusColumn = "req.status_code";
constexpr const char* kInvalidValue = "Value '%s' is not valid for %s";

bool is_status_letter(char c) { return c >= 'A' && c <= 'Z'; }

// " AND col = :bvN " for one letter, " AND col in (:bvN, :bvM) " for a list of letters.
bool status_condition(const char* key, const char* column, const char* value, std::string& clause,
                      be_sql::BindValues& binds) {
    const std::size_t length = std::strlen(value);
    if (length == 0) {
        DIAG_printf(kInvalidValue, value, key);
        return false;
    }
    if (length == 1) {
        if (!is_status_letter(value[0])) {
            DIAG_printf(kInvalidValue, value, key);
            return false;
        }
        clause += std::string(" AND ") + column + " = " + binds.add_text(std::string(1, value[0])) + " ";
        return true;
    }
    std::string list;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = value[i];
        if (i > 0 && (c == ' ' || c == '|')) continue;
        if (!is_status_letter(c)) {
            DIAG_printf("Value '%c' is not valid for %s", c, key);
            return false;
        }
        list += (list.empty() ? "" : ", ") + binds.add_text(std::string(1, c));
    }
    clause += std::string(" AND ") + column + " in (" + list + ") ";
    return true;
}

// One comparison operator and a whole number that fits the integer bound for it, blanks around
// them allowed: ">=1000", "= 42", "<> -1".
bool parse_request_id(const char* value, std::string_view& op, int& number) {
    static constexpr std::string_view kOperators[] = {"<>", "!=", ">=", "<=", "=", ">", "<"};
    const char* p = value;
    while (*p == ' ' || *p == '\t') ++p;
    op = {};
    for (const std::string_view candidate : kOperators) {
        if (std::string_view(p).starts_with(candidate)) {
            op = candidate;
            break;
        }
    }
    if (op.empty()) return false;
    p += op.size();
    while (*p == ' ' || *p == '\t') ++p;
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (*digits < '0' || *digits > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(p, &end, 10);
    if (errno != 0 || parsed < INT_MIN || parsed > INT_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    number = static_cast<int>(parsed);
    return true;
}

bool request_id_condition(const char* column, const char* value, std::string& clause, be_sql::BindValues& binds) {
    std::string_view op;
    int number = 0;
    if (!parse_request_id(value, op, number)) {
        BE_TRACE(4, "\tneed to correct rule file: REQUEST_ID value must include one operator: =, >, >= , <, <=");
        return false;
    }
    clause.append(" AND (")
        .append(column)
        .append(" ")
        .append(op)
        .append(" ")
        .append(binds.add_int(number))
        .append(" )");
    return true;
}

// The groups of a name key, joined by OR inside " AND (...)". The value is scanned in a copy of
// its own, so the agent's value stays as it was given. A malformed list, a group longer than the
// group buffer or conditions longer than their buffer refuse the whole rule.
bool name_condition(const char* key, const char* column, const char* value, std::string& clause,
                    be_sql::BindValues& binds) {
    std::vector<char> copy(value, value + std::strlen(value) + 1);
    char* rest = copy.data();
    std::string conditions;
    for (;;) {
        char* group = nullptr;
        const int rc = BE_DUZ_getNextCondition(&rest, &group);
        if (rc == 2) break;
        if (rc != 0 || !group || std::strlen(group) > BE_DUZ_RULE_GROUP_SIZE - 1) {
            DIAG_printf(kInvalidValue, value, key);
            return false;
        }
        std::string pattern = group;
        const std::size_t star = pattern.find('*');
        const bool like = star != std::string::npos;
        if (like) pattern[star] = '%';
        const std::string& placeholder = binds.add_text(pattern);
        if (conditions.empty())
            conditions += like ? std::string(column) + " Like " + placeholder
                               : std::string(" ") + column + " = " + placeholder + " ";
        else
            conditions += std::string(" OR ") + column + (like ? " Like " : " = ") + placeholder;
        if (conditions.size() > BE_DUZ_RULE_KEY_CONDITIONS_SIZE - 1) {
            DIAG_printf(kInvalidValue, value, key);
            return false;
        }
    }
    if (!conditions.empty()) clause += " AND (" + conditions + ")";
    return true;
}

// The agent's list is walked by index, so its cursor is left where the agent had it.
bool build_clause(ZPAAttrList* Attributes, int set_flag, std::string& clause, be_sql::BindValues& binds) {
    bool status_filter = false;
    for (int i = 0; i < Attributes->Count; ++i) {
        const ZPAAttr& attr = Attributes->Attributes[i];
        const char* key = attr.Name ? attr.Name : "";
        const char* value = attr.Value ? attr.Value : "";
        if (set_flag > 0 ? std::strcmp(key, kProgName) == 0 : std::strcmp(key, kSetName) == 0) continue;
        if (std::strcmp(key, kTaskType) == 0) continue;
        const char* column = nullptr;
        BE_DUZ_ConvertKey2DBColumn(key, &column);
        if (!column) {
            BE_TRACE(4, " db_column EQ NULL ");
            continue;
        }
        bool ok;
        if (std::strcmp(key, kStatusCode) == 0) {
            ok = status_condition(key, column, value, clause, binds);
            status_filter = true;
        } else if (std::strcmp(key, kRequestId) == 0) {
            ok = request_id_condition(column, value, clause, binds);
        } else {
            ok = name_condition(key, column, value, clause, binds);
        }
        if (!ok) return false;
    }
    char* mode = nullptr;
    if (!status_filter &&
        ZPAAPI_UTILS_AttrListValueGet(Attributes, const_cast<char*>(BE_DUZ_EXTRACT_MODE), &mode) == ZPA_SUCCESS &&
        mode && std::strcmp(mode, BE_DUZ_MODE_DEFINE) == 0) {
        BE_TRACE(4, "set default status_code to 'I'");
        clause += std::string(" AND ") + kStatusColumn + " = 'I' ";
    }
    return true;
}

}  // namespace

namespace be_discovery {

ZPARC BE_DUZ_AttributesToSQLstr(ZPAAttrList* Attributes, std::string& sqlStr, int set_flag, be_sql::BindValues& binds) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_AttributesToSQLstr");
    sqlStr.clear();
    binds.clear();
    if (!Attributes || (Attributes->Count > 0 && !Attributes->Attributes)) return ZPA_FAIL;
    std::string clause;
    try {
        if (!build_clause(Attributes, set_flag, clause, binds)) {
            binds.clear();
            return ZPA_FAIL;
        }
    } catch (...) {
        binds.clear();
        return ZPA_FAIL;
    }
    if (clause.size() > BE_DUZ_RULE_CLAUSE_SIZE - 1) {
        DIAG_printf("The rule gives a condition of %zu characters; at most %d are kept", clause.size(),
                    BE_DUZ_RULE_CLAUSE_SIZE - 1);
        binds.clear();
        return ZPA_FAIL;
    }
    sqlStr = std::move(clause);
    BE_TRACE(4, "rule condition: %s", sqlStr.c_str());
    return ZPA_SUCCESS;
}

}  // namespace be_discovery

CM_EXTERN_C_BEGIN

void BE_DUZ_ConvertKey2DBColumn(const char* key, const char** column_name) {
    if (!column_name) return;
    *column_name = nullptr;
    if (!key) return;
    for (const KeyColumn& entry : kKeyColumns) {
        if (std::strcmp(key, entry.key) == 0) {
            *column_name = entry.column;
            return;
        }
    }
}

int BE_DUZ_getNextCondition(char** instring, char** condstr) {
    if (!instring || !condstr) return 1;
    char* rest = *instring;
    *condstr = nullptr;
    if (!rest || *rest == '\0') return 2;
    char* open = std::strchr(rest, '{');
    char* close = std::strchr(rest, '}');
    if (!open || !close || open > close) {
        *condstr = rest;
        *instring = rest + std::strlen(rest);
        return 0;
    }
    *close = '\0';
    char* after = close + 1;
    while (*after == ' ' || *after == '\t' || *after == '\n') ++after;
    if (*after == '|') {
        *instring = after + 1;
    } else if (*after == '\0') {
        *instring = after;
    } else {
        *instring = after;
        return 1;
    }
    *condstr = open + 1;
    return 0;
}

CM_EXTERN_C_END
