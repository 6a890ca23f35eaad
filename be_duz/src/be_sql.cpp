/* Small database operations shared by the parameter, list and submission code (session NLS
 * settings, date conversion, profile options, table and view checks, the OEBS release), and the
 * text tests and edits that prepare values for SQL. */
#include "be_def.h"
#include "be_internal.h"
#include "be_sql_internal.h"
#include "gm_str.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kDisplaySql = "select parameter, value from nls_session_parameters";
constexpr const char* kAlterSql = "ALTER SESSION SET %s=%s";
constexpr const char* kConvertDateSql = "select to_char(to_date(:str, :infmt), :outfmt) from dual";
constexpr const char* kEntitySql = " BEGIN   SELECT COUNT(*) INTO :is_exist FROM %s_%ss where %s_name ='%s'; END; ";
constexpr const char* kVersionSql = "SELECT RELEASE_NAME FROM FND_PRODUCT_GROUPS";

constexpr const char* kEntityWords[] = {"table", "view"};
constexpr const char* kScopeWords[] = {"all", "dba", "user"};

/* Room of the entity statement, and of the profile name and value binds. */
constexpr std::size_t kEntitySqlSize = 1024;
constexpr std::size_t kProfileNameMax = 80;
constexpr std::size_t kProfileValueMax = 240;

/* A word that may stand unquoted in ALTER SESSION: letters, digits, '_', '-', '.' and, for a
 * value, blanks (such a value is then quoted, as the database expects for two-word names). */
bool is_nls_word(const char* text, bool blanks_allowed) {
    if (text == nullptr || *text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (std::isalnum(c) || c == '_' || c == '-' || c == '.') continue;
        if (c == ' ' && blanks_allowed) continue;
        return false;
    }
    return true;
}
/* A refused word keeps its refusal in the error record rather than the generic failure text. */

void log_failure(const char* what, ZPAError* Error) {
    BE_TRACE(2, "%s. %s", what, Error != nullptr ? Error->text : "");
}

using be_duz::attr;

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_alter_SQL_session(BE_DUZ_Handles* DUZ_handle, char* varName, char* varValue, ZPAError* Error) {
    if (!is_nls_word(varName, false) || !is_nls_word(varValue, true)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Refused to alter session: '%s' = '%s' is not a plain NLS name and value",
                              varName != nullptr ? varName : "", varValue != nullptr ? varValue : "");
        BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        return 1;
    }
    const std::string value =
        std::strchr(varValue, ' ') != nullptr ? std::string("'").append(varValue).append("'") : std::string(varValue);
    char sql[BE_DUZ_ALTER_SESSION_SIZE];
    int length = std::snprintf(sql, sizeof sql, kAlterSql, varName, value.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof sql) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Refused to alter session: the value of %s is too long", varName);
        BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        return 1;
    }
    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc = stmt.prepare(sql);
    if (rc == 0) rc = stmt.execute();
    if (rc != 0) log_failure("Fail to execute", Error);
    return rc;
}

ZPARC BE_DUZ_display_SQL_session(BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    char parameter[30] = "";
    char value[40] = "";
    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc = stmt.prepare(kDisplaySql);
    if (rc != 0) return rc;
    if ((rc = stmt.define_text(1, parameter, sizeof parameter)) != 0 ||
        (rc = stmt.define_text(2, value, sizeof value)) != 0) {
        log_failure("Fail to define date string", Error);
        return rc;
    }
    if ((rc = stmt.execute()) != 0) {
        log_failure("Fail to execute", Error);
        return rc;
    }
    for (;;) {
        BE_TRACE(4, "%s = %s", parameter, value);
        const be_sql::Fetch next = stmt.fetch();
        if (next == be_sql::Fetch::End) return 0;
        if (next == be_sql::Fetch::Error) {
            log_failure("Fail to fetch", Error);
            return 1;
        }
    }
}

ZPARC BE_DUZ_set_parameter_SQL_session(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    const char* nls_lang = attr(AttributesIn, "PARM_NLS_LANG");
    if (nls_lang != nullptr) {
        const char* underscore = std::strchr(nls_lang, '_');
        if (underscore == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "The value for PARM_NLS_LANG is not the correct format");
            BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        } else {
            /* Copies, cut to the longest part, so that the attribute keeps its value. */
            std::string language(nls_lang, static_cast<std::size_t>(underscore - nls_lang));
            std::string territory(underscore + 1);
            if (language.size() > BE_DUZ_NLS_PART_MAX) language.resize(BE_DUZ_NLS_PART_MAX);
            if (territory.size() > BE_DUZ_NLS_PART_MAX) territory.resize(BE_DUZ_NLS_PART_MAX);
            ZPARC rc = BE_DUZ_alter_SQL_session(DUZ_handle, const_cast<char*>("NLS_LANGUAGE"), language.data(), Error);
            if (rc != 0) {
                if (is_nls_word(language.c_str(), true))
                    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to alter session for NLS_LANGUAGE='%s'", language.c_str());
                BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
                return rc;
            }
            rc = BE_DUZ_alter_SQL_session(DUZ_handle, const_cast<char*>("NLS_TERRITORY"), territory.data(), Error);
            if (rc != 0) {
                if (is_nls_word(territory.c_str(), true))
                    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to alter session for NLS_TERRITORY='%s'",
                                          territory.c_str());
                BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
                return rc;
            }
            if (DIAG_debug_level() >= 4) BE_DUZ_display_SQL_session(DUZ_handle, Error);
        }
    }
    char* date_language = attr(AttributesIn, "NLS_DATE_LANGUAGE");
    if (date_language == nullptr) return 0;
    ZPARC rc = BE_DUZ_alter_SQL_session(DUZ_handle, const_cast<char*>("NLS_DATE_LANGUAGE"), date_language, Error);
    if (rc != 0) {
        if (is_nls_word(date_language, true))
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to alter session for %s='%s'", "NLS_DATE_LANGUAGE", date_language);
        BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        return rc;
    }
    if (DIAG_debug_level() >= 4) BE_DUZ_display_SQL_session(DUZ_handle, Error);
    return 0;
}

ZPARC BE_DUZ_convert_date_format(BE_DUZ_Handles* DUZ_handle, char* dateStr, char* dateFormat, char* outStr,
                                 char* outFormat, ZPAError* Error) {
    if (dateStr == nullptr || dateFormat == nullptr || outStr == nullptr || outFormat == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing date, format or output", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc = stmt.prepare(kConvertDateSql);
    if (rc != 0) return rc;
    if ((rc = stmt.bind_text(":str", dateStr, static_cast<int>(std::strlen(dateStr) + 1))) != 0) {
        log_failure("Fail to bind input date string", Error);
        return rc;
    }
    if ((rc = stmt.bind_text(":infmt", dateFormat, static_cast<int>(std::strlen(dateFormat) + 1))) != 0) {
        log_failure("Fail to bind in format", Error);
        return rc;
    }
    if ((rc = stmt.bind_text(":outfmt", outFormat, static_cast<int>(std::strlen(outFormat) + 1))) != 0) {
        log_failure("Fail to bind out format", Error);
        return rc;
    }
    if ((rc = stmt.define_text(1, outStr, BE_DUZ_DATE_OUT_SIZE)) != 0) {
        log_failure("Fail to define date string", Error);
        return rc;
    }
    if ((rc = stmt.execute()) != 0) {
        log_failure("Fail to execute", Error);
        return rc;
    }
    BE_TRACE(4, "input_date: %s", dateStr);
    BE_TRACE(4, "output_date: %s", outStr);
    return 0;
}

ZPARC BE_DUZ_set_profile_pair(BE_DUZ_Handles* JOB_handle, char* pro_name, char* pro_value, ZPAError* Error) {
    char name[kProfileNameMax + 2] = "";
    char value[kProfileValueMax + 1] = "";
    char read_back[kProfileValueMax + 1] = "";
    sb2 read_back_indicator = 0;
    if (pro_name != nullptr) std::strncpy(name, pro_name, kProfileNameMax);
    if (pro_value != nullptr) std::strncpy(value, pro_value, kProfileValueMax);

    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(BE_DUZ_PUT_PROFILE_SQL);
    if (rc != 0) {
        BE_TRACE(2, "Fail to prepare BE_DUZ_PUT_PROFILE_SQL.");
        return rc;
    }
    if ((rc = stmt.bind_text(":pname", name, sizeof name)) != 0) {
        BE_TRACE(2, "Fail to bind profile_name.");
        return rc;
    }
    if ((rc = stmt.bind_text(":pvalue", value, sizeof value)) != 0) {
        BE_TRACE(2, "Fail to bind profile_value.");
        return rc;
    }
    /* The value read back may be NULL: the indicator keeps that from failing the block. */
    if ((rc = stmt.bind_text(":new_value", read_back, sizeof read_back, &read_back_indicator)) != 0) {
        BE_TRACE(2, "Fail to bind tmp_value.");
        return rc;
    }
    if (stmt.execute() != 0) {
        BE_TRACE(2, "Fail to execute BE_DUZ_PUT_PROFILE_SQL %s", Error != nullptr ? Error->text : "");
        BE_TRACE(2, "Error: Fail to set profile %s to value %s", name, value);
        return 0;
    }
    if (read_back_indicator == -1) read_back[0] = '\0';
    BE_TRACE(4, "Set Profile %s  to %s", name, read_back);
    return 0;
}

ZPARC BE_DUZ_check_entity_exist(BE_DUZ_Handles* DUZ_handle, char* entity_name, BE_DUZ_entity_types entity_type,
                                BE_DUZ_search_scopes scope, int* result_flag, ZPAError* Error) {
    if (entity_name == nullptr || result_flag == nullptr || entity_type < TABLE_ENTITY_TYPE ||
        entity_type > VIEW_ENTITY_TYPE || scope < ALL_SEARCH_SCOPE || scope > USER_SEARCH_SCOPE) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: invalid entity name, type or search scope", BE_POS);
        return 1;
    }
    /* The name is a literal of the block: its quotes are doubled so that it stays one literal. */
    std::string escaped(std::strlen(entity_name) * 2 + 1, '\0');
    BE_DUZ_replace_esc_char(escaped.data(), entity_name);
    const char* entity = kEntityWords[entity_type];
    char sql[kEntitySqlSize];
    int length = std::snprintf(sql, sizeof sql, kEntitySql, kScopeWords[scope], entity, entity, escaped.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof sql) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: entity name too long", BE_POS);
        return 1;
    }
    BE_TRACE(4, "Entity name  = %s", entity_name);
    BE_TRACE(4, "Entity type  = %s", entity);
    BE_TRACE(4, "Search scope = %s", kScopeWords[scope]);

    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc = stmt.prepare(sql);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to prepare SQL statement");
        return 1;
    }
    int count = 0;
    if ((rc = stmt.bind_int(":is_exist", &count)) != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to bind return code");
        return 1;
    }
    if ((rc = stmt.execute()) != 0) {
        /* The record's text is stored again as text (it then carries the prefix twice). */
        std::string text = Error != nullptr ? Error->text : "";
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s", text.c_str());
        return rc;
    }
    *result_flag = count != 0 ? 1 : 0;
    return 0;
}

ZPARC BE_DUZ_get_oebs_version(char* oebs_ver, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (oebs_ver == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing version buffer", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kVersionSql);
    if (rc != 0) {
        BE_TRACE(4, "Fail to prepare \"get OEBS version\" query");
        return rc;
    }
    if ((rc = stmt.define_chars(1, oebs_ver, 4)) != 0) {
        BE_TRACE(4, "Fail to define oebs_ver in query");
        return rc;
    }
    if ((rc = stmt.execute()) != 0) BE_TRACE(4, "Fail to execute get \"get OEBS version\" SQL Statement");
    return rc;
}

CM_RC BE_DUZ_isNumber(char* num) {
    if (num == nullptr) return CM_RC_FAIL;
    const char* p = num;
    int points = 0;
    bool valid = false;
    if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') {
        if (*p == '.') ++points;
        ++p;
        while (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.') {
            if (*p == '.') ++points;
            ++p;
        }
        valid = *p == '\0' && points <= 1;
    }
    if (valid) return CM_RC_OK;
    OS_MSGERR_display("%s is not valid number", num);
    return CM_RC_FAIL;
}

int BE_DUZ_isSQLCommand(char* value) {
    if (value == nullptr || *value == '\0') return 0;
    static constexpr const char kSelect[] = "SELECT ";
    for (std::size_t i = 0; i + 1 < sizeof kSelect; ++i) {
        if (value[i] == '\0') return 0;
        if (std::toupper(static_cast<unsigned char>(value[i])) != kSelect[i]) return 0;
    }
    return 1;
}

void BE_DUZ_replace_esc_char(char* esc_value, char* old_value) {
    if (esc_value == nullptr) return;
    char* out = esc_value;
    if (old_value != nullptr) {
        for (const char* in = old_value; *in != '\0'; ++in) {
            *out++ = *in;
            if (*in == '\'') *out++ = '\'';
        }
    }
    *out = '\0';
}

char* BE_DUZ_STR_remove_blanks(char* str) {
    if (str == nullptr) return nullptr;
    GM_STR_unpad(str);
    while (*str == ' ') ++str;
    return str;
}

int BE_DUZ_replace_chars(char* str, char from, char to) {
    if (str == nullptr) return 0;
    for (char* p = str; *p != '\0'; ++p)
        if (*p == from) *p = to;
    return 0;
}

CM_EXTERN_C_END
