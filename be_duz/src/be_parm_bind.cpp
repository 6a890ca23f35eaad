/* Bind references of the E-Business Suite's forms in SQL texts (":$PROFILES$.", ":GLOBAL.",
 * ":$FLEX$."): each is replaced by a numbered placeholder whose value travels beside the text,
 * never pasted into it. Also the default statement's single value, the profile and planning
 * instance look-ups, and the session's FND_SESSIONS row for date-tracked views. */
#include "be_parm_internal.h"

#include "gm_param.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr const char* kProfileSql =
    "BEGIN FND_PROFILE.GET(:pname, :pvalue); if (:pvalue is NULL ) then :pvalue := 'PROFILE NOT SET'; end if; END;";
constexpr const char* kProfileNotSet = "PROFILE NOT SET";
constexpr const char* kInstanceIdSql =
    "SELECT DISTINCT SR_INSTANCE_ID FROM MSC_ORG_ACCESS WHERE RESP_APPLICATION_ID = (SELECT APPLICATION_ID FROM "
    "FND_APPLICATION WHERE APPLICATION_SHORT_NAME = 'MSC') AND ROWNUM  =  1";
constexpr const char* kSessionRowSql =
    "SELECT SESSION_ID, EFFECTIVE_DATE FROM FND_SESSIONS WHERE SESSION_ID = userenv('sessionid')";
constexpr const char* kInsertSessionRowSql =
    "INSERT INTO FND_SESSIONS (SESSION_ID, EFFECTIVE_DATE) VALUES (userenv('sessionid'), trunc(sysdate))";

constexpr const char* kProfilePrefix = ":$PROFILES$.";
constexpr const char* kGlobalPrefix = ":GLOBAL.";
constexpr const char* kFlexPrefix = ":$FLEX$.";
constexpr const char* kInstanceIdGlobal = "MSC_INSTANCE_ID";
constexpr const char* kBareNull = "NULL";

constexpr std::size_t kTextMax = BE_DUZ_SQL_TEXT_SIZE - 1;
constexpr std::size_t kValueMax = BE_DUZ_PARM_VALUE_SIZE - 1;
/* Room of the session row's two columns. */
constexpr int kSessionColumnSize = 41;

bool is_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '.' || c == '#' || c == '$';
}

/* The wrapping of the first call of pad_name: its first top-level argument goes into nvl(..., ' ').
 * A call that closes before any top-level comma is left alone. */
void wrap_pad(std::string& text, const char* pad_name) {
    const std::size_t call = text.find(pad_name);
    if (call == std::string::npos) return;
    const std::size_t open = text.find('(', call);
    if (open == std::string::npos) return;
    int depth = 0;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (depth == 0) return;
            --depth;
        } else if (c == ',' && depth == 0) {
            text =
                text.substr(0, open + 1) + "nvl(" + text.substr(open + 1, i - open - 1) + ",' ')," + text.substr(i + 1);
            return;
        }
    }
}

struct Resolution {
    BE_DUZ_Handles* session;
    const char* mode;
    BE_DUZ_report_parm** parms;
    int parmcount;
    int parmindex;
    be_sql::BindValues* binds;
    ZPAError* error;
};

/* What a reference stands for: a value, or nothing (a bare NULL). */
using Lookup = std::optional<std::string> (*)(const Resolution&, std::string name);

std::optional<std::string> profile_value(const Resolution& r, const std::string& name) {
    char value[BE_DUZ_PARM_VALUE_SIZE] = "";
    if (BE_DUZ_reslove_bind_p_var(r.session, name.c_str(), value, r.error) != 0) return std::nullopt;
    return std::string(value);
}

/* Everything from the last ':' of a profile or global name on is dropped (a suffix like :NULL). */
std::string without_suffix(std::string name) {
    const std::size_t colon = name.rfind(':');
    if (colon != std::string::npos) name.resize(colon);
    return name;
}

std::optional<std::string> lookup_profile(const Resolution& r, std::string name) {
    return profile_value(r, without_suffix(std::move(name)));
}

std::optional<std::string> lookup_global(const Resolution& r, std::string name) {
    name = without_suffix(std::move(name));
    if (name == kInstanceIdGlobal) {
        int instance_id = 0;
        if (BE_DUZ_get_sr_instance_id(&instance_id, r.session, r.error) == 0) return std::to_string(instance_id);
        BE_TRACE(4, "No planning instance id; reading the profile %s", kInstanceIdGlobal);
    }
    return profile_value(r, name);
}

std::optional<std::string> lookup_flex(const Resolution& r, std::string name) {
    std::string value_set;
    std::string field;
    const std::size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        value_set = name.substr(0, colon);
        field = be_parm_upper(name.substr(colon + 1));
        if (field == kBareNull) field = "ID";
    } else if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) {
        value_set = name.substr(0, dot);
        field = be_parm_upper(name.substr(dot + 1));
    } else {
        value_set = name;
        field = "ID";
    }
    char value[BE_DUZ_PARM_VALUE_SIZE] = "";
    if (BE_DUZ_reslove_bind_v_var(r.session, r.mode, value_set.c_str(), field.data(), r.parms, r.parmcount, r.parmindex,
                                  value, r.error) != 0)
        return std::nullopt;
    return std::string(value);
}

/* Replaces every reference that begins with prefix, scanning on after what was inserted. Each value
 * becomes a placeholder of its own; a missing value, or the value "NULL", stays a bare NULL. Every
 * replacement is followed by one blank. 0, or 1 for a name longer than BE_DUZ_BIND_NAME_MAX. */
ZPARC replace_references(std::string& text, const char* prefix, Lookup lookup, const Resolution& r) {
    const std::size_t prefix_length = std::strlen(prefix);
    std::size_t from = 0;
    for (std::size_t at = text.find(prefix, from); at != std::string::npos; at = text.find(prefix, from)) {
        std::size_t end = at + prefix_length;
        while (end < text.size() && is_name_char(text[end])) ++end;
        std::string name = text.substr(at + prefix_length, end - at - prefix_length);
        if (name.size() > BE_DUZ_BIND_NAME_MAX) {
            BE_DUZ_UpdateErrorSet(r.error, 1, "Reference name '%.*s...' is longer than %d characters", 40, name.c_str(),
                                  BE_DUZ_BIND_NAME_MAX);
            return 1;
        }
        std::optional<std::string> value = lookup(r, std::move(name));
        std::string inserted;
        if (!value || *value == kBareNull) {
            inserted = kBareNull;
        } else {
            if (value->size() > kValueMax) value->resize(kValueMax);
            inserted = r.binds->add_text(std::move(*value));
        }
        inserted += ' ';
        text = text.substr(0, at) + inserted + text.substr(end);
        from = at + inserted.size();
    }
    return 0;
}

ZPARC refuse_long_text(const char* what, std::size_t length, ZPAError* Error) {
    BE_DUZ_UpdateErrorSet(Error, 1, "%s of %zu characters is longer than %zu", what, length, kTextMax);
    BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
    return 1;
}

}  // namespace

ZPARC BE_DUZ_resolve_bind_vars(BE_DUZ_Handles* JOB_handle, const char* mode, const char* in_str, char* out_str,
                               BE_DUZ_report_parm** parms, int parmcount, int parmindex, be_sql::BindValues* binds,
                               ZPAError* Error) {
    if (out_str == nullptr || binds == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing output text or bind list", BE_POS);
        return 1;
    }
    out_str[0] = '\0';
    if (in_str == nullptr) return 0;
    const std::size_t in_length = std::strlen(in_str);
    if (in_length > kTextMax) return refuse_long_text("SQL text", in_length, Error);

    std::string text(in_str, in_length);
    wrap_pad(text, "rpad");
    wrap_pad(text, "lpad");
    const Resolution r{JOB_handle, mode != nullptr ? mode : kBeParmModeSql, parms, parmcount, parmindex, binds, Error};
    if (replace_references(text, kProfilePrefix, lookup_profile, r) != 0 ||
        replace_references(text, kGlobalPrefix, lookup_global, r) != 0 ||
        replace_references(text, kFlexPrefix, lookup_flex, r) != 0)
        return 1;
    if (text.size() > kTextMax) return refuse_long_text("Resolved SQL text", text.size(), Error);
    std::memcpy(out_str, text.c_str(), text.size() + 1);
    return 0;
}

CM_EXTERN_C_BEGIN

void BE_DUZ_resolve_pad_func(char* in_str, const char* pad_name) {
    if (in_str == nullptr || pad_name == nullptr || *pad_name == '\0') return;
    std::string text(in_str);
    wrap_pad(text, pad_name);
    /* The text lives in a buffer of BE_DUZ_SQL_TEXT_SIZE bytes: a wrapping that would not fit is
     * not made. */
    if (text.size() <= kTextMax) std::memcpy(in_str, text.c_str(), text.size() + 1);
}

ZPARC BE_DUZ_reslove_bind_v_var(BE_DUZ_Handles* JOB_handle, const char* mode, const char* segname, char* segfield,
                                BE_DUZ_report_parm** parm_recs, int parmCount, int parmIndex, char* tmp_value,
                                ZPAError* Error) {
    (void)JOB_handle;
    (void)parmCount;
    if (segname == nullptr || tmp_value == nullptr || parm_recs == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing reference or records", BE_POS);
        return 1;
    }
    const bool value_set_mode = mode != nullptr && std::strcmp(mode, kBeParmModeValueSet) == 0;
    BE_DUZ_report_parm* current =
        parmIndex >= 0 && parmIndex < BE_DUZ_MAX_REPORT_PARMS ? parm_recs[parmIndex] : nullptr;
    BE_DUZ_report_parm* found = nullptr;
    for (int i = std::min(parmIndex, BE_DUZ_MAX_REPORT_PARMS) - 1; i >= 0 && found == nullptr; --i) {
        BE_DUZ_report_parm* p = parm_recs[i];
        if (p != nullptr && (std::strcmp(p->value_set_name, segname) == 0 || std::strcmp(p->parm_name, segname) == 0))
            found = p;
    }
    if (found == nullptr) {
        BE_DUZ_UpdateErrorSet(
            Error, 1, "Unable to find default parameter %s with default_type = %s, default_value = %s",
            current != nullptr ? current->parm_name : "", current != nullptr ? current->parm_type : "",
            current != nullptr ? current->dft_value : "");
        return 1;
    }
    auto mark_required = [&] {
        if (value_set_mode && current != nullptr) std::strcpy(current->required, "D");
    };

    switch (found->value_set_type[0]) {
    case 'I':
    case 'N':
    case 'U':
    case 'P':
        if (found->value[0] == '\0') mark_required();
        be_parm_copy(tmp_value, found->value, BE_DUZ_PARM_VALUE_SIZE);
        return 0;
    case 'F': {
        ZPALIST_reset(&found->list);
        char has_id[BE_DUZ_PARM_VALUE_SIZE] = "";
        if (GM_PARAM_list_get(&found->list, "HAS_ID", has_id, sizeof has_id) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get %s.", "HAS_ID");
            return 1;
        }
        std::string key = be_parm_upper(segfield != nullptr ? segfield : "");
        if (segfield != nullptr) std::memcpy(segfield, key.c_str(), key.size() + 1);
        if (key.empty() || key == "ID") key = std::strcmp(has_id, "YES") == 0 ? "ID" : "VALUE";
        char value[BE_DUZ_PARM_VALUE_SIZE] = "";
        if (GM_PARAM_list_get(&found->list, key.c_str(), value, sizeof value) != CM_RC_OK) {
            mark_required();
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get %s.", key.c_str());
            return 1;
        }
        if (value[0] == '\0') mark_required();
        be_parm_copy(tmp_value, value, BE_DUZ_PARM_VALUE_SIZE);
        return 0;
    }
    default:
        BE_DUZ_UpdateErrorSet(Error, 1, "Unsupported value_set validation type %s.", found->value_set_type);
        return 1;
    }
}

ZPARC BE_DUZ_reslove_bind_p_var(BE_DUZ_Handles* JOB_handle, const char* profile_name, char* profile_value,
                                ZPAError* Error) {
    if (profile_name == nullptr || profile_value == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing profile name or value", BE_POS);
        return 1;
    }
    char name[BE_DUZ_PROFILE_NAME_MAX + 2] = "";
    be_parm_copy(name, be_parm_upper(profile_name).c_str(), BE_DUZ_PROFILE_NAME_MAX + 1);
    char value[BE_DUZ_PARM_VALUE_SIZE] = "";
    sb2 value_indicator = 0;

    be_sql::Statement stmt(JOB_handle, Error);
    if (be_parm_logged(stmt.prepare(kProfileSql), "Fail to prepare BE_DUZ_RETRIEVE_PROFILE_SQL", Error) != 0) return 1;
    if (be_parm_logged(stmt.bind_text(":pname", name, sizeof name), "Fail to bind profile_name", Error) != 0) return 1;
    if (be_parm_logged(stmt.bind_text(":pvalue", value, sizeof value, &value_indicator), "Fail to bind profile_value",
                       Error) != 0)
        return 1;
    if (be_parm_logged(stmt.execute(), "Fail to retrieve profile value ", Error) != 0) return 1;
    if (value_indicator == -1 || std::strcmp(value, kProfileNotSet) == 0) {
        BE_TRACE(2, "Profile_name '%s' is not set", name);
        return 1;
    }
    be_parm_copy(profile_value, value, BE_DUZ_PARM_VALUE_SIZE);
    return 0;
}

ZPARC BE_DUZ_get_sr_instance_id(int* sr_instance_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (sr_instance_id == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing instance id", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc;
    if ((rc = be_parm_logged(stmt.prepare(kInstanceIdSql), "Fail to prepare get sr_instance_id query", Error)) != 0)
        return rc;
    if ((rc = be_parm_logged(stmt.define_int(1, sr_instance_id), "Fail to define sr_instance_id", Error)) != 0)
        return rc;
    return be_parm_logged(stmt.execute(), "Fail to execute get sr_instance_id SQL Statement", Error);
}

ZPARC BE_DUZ_reslove_sql(BE_DUZ_Handles* JOB_handle, const char* sqlStr, BE_DUZ_report_parm** parm_recs, int parmCount,
                         int parmIndex, char* tmp_value, ZPAError* Error) {
    if (tmp_value == nullptr || sqlStr == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing statement or value", BE_POS);
        return 1;
    }
    BE_TRACE(4, "INPUT SQL");
    BE_TRACE(4, "%s", sqlStr);
    char resolved[BE_DUZ_SQL_TEXT_SIZE];
    be_sql::BindValues binds;
    ZPARC rc = BE_DUZ_resolve_bind_vars(JOB_handle, kBeParmModeSql, sqlStr, resolved, parm_recs, parmCount, parmIndex,
                                        &binds, Error);
    if (rc != 0) {
        BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Fail to resolve binding vars in SQL");
        tmp_value[0] = '\0';
        return rc;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    if ((rc = stmt.prepare(resolved)) != 0) {
        BE_TRACE(2, "Fail to prepare SQL");
        BE_TRACE(2, "SQL %s", resolved);
        tmp_value[0] = '\0';
        return rc;
    }
    if ((rc = stmt.bind_values(binds)) == 0 && (rc = stmt.define_text(1, tmp_value, BE_DUZ_PARM_VALUE_SIZE)) == 0)
        rc = stmt.execute();
    if (rc != 0) {
        tmp_value[0] = '\0';
        BE_TRACE(2, "Fail to execute inputed SQL");
    }
    return rc;
}

void BE_parm_remove_leading_spaces(char* query) {
    if (query == nullptr || *query == '\0') return;
    const std::size_t length = std::strlen(query);
    const std::size_t skip = std::strspn(query, " \t\r\n");
    if (skip == 0) return;
    std::memmove(query, query + skip, length - skip);
    std::memset(query + length - skip, '\0', skip);
}

ZPARC BE_parm_check_add_fnd_sessions_row(BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    char session_id[kSessionColumnSize] = "";
    char effective_date[kSessionColumnSize] = "";
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kSessionRowSql);
    if (rc == 0) rc = stmt.define_text(1, session_id, sizeof session_id);
    if (rc == 0) rc = stmt.define_text(2, effective_date, sizeof effective_date);
    if (rc != 0) return be_parm_logged(rc, "Fail to prepare sqlStr", Error);
    if ((rc = stmt.execute_no_fetch()) != 0) return be_parm_logged(rc, "Fail to execute constructed SQL", Error);
    switch (stmt.fetch()) {
    case be_sql::Fetch::Row:
        BE_TRACE(4, "sessionid_val=%s, effdate_val=%s", session_id, effective_date);
        BE_TRACE(4, "Data already exists, no need to insert");
        return 0;
    case be_sql::Fetch::Error: return be_parm_logged(1, "Fail to execute constructed SQL", Error);
    case be_sql::Fetch::End: break;
    }
    if ((rc = stmt.prepare(kInsertSessionRowSql)) != 0) return be_parm_logged(rc, "Fail to prepare sqlStr", Error);
    if ((rc = stmt.execute()) != 0) return be_parm_logged(rc, "Fail to execute constructed SQL", Error);
    BE_TRACE(4, "Succeed to insert FND_SESSIONS data");
    return 0;
}

CM_EXTERN_C_END
