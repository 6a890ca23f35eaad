/* Three lists of the job-definition form: the agent's OEBS accounts ("GetCMInstance", read from the
 * accounts file without a database session and hung on the connection until the list closes), an
 * OEBS user's responsibilities ("GetRESP") and the profile options ("GetProfileName"). */
#include "be_internal.h"
#include "be_list_internal.h"
#include "gm_param_internal.h"
#include "gm_str.h"
#include "gm_wild.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

constexpr const char* kRespSql =
    "select resp.responsibility_name respname, app.application_short_name, e.security_group_name "
    "from fnd_user_resp_groups a, fnd_user b, fnd_responsibility_vl resp, fnd_security_groups_vl e, "
    "fnd_application app "
    "where b.user_name = :user_name and b.user_id = a.user_id "
    "and resp.responsibility_id = a.responsibility_id "
    "and resp.application_id = a.responsibility_application_id "
    "and resp.application_id = app.application_id "
    "and e.security_group_id = a.security_group_id "
    "and a.start_date <= SYSDATE and (a.end_date is NULL or a.end_date >= SYSDATE)";
constexpr const char* kRespOrder = " order by respname";

constexpr const char* kProfileSql =
    "SELECT t.user_profile_option_name, t.profile_option_name  FROM applsys.fnd_profile_options_tl t  "
    "WHERE t.user_profile_option_name ";
constexpr const char* kProfileOrder = " order by t.user_profile_option_name";

using be_duz::non_empty;

/* The names of the accounts file's sections that match the pattern, each once, in file order. */
bool load_account_names(const char* pattern, BE_DUZ_AccountNameList* names, ZPAError* Error) {
    char path[64];
    std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    if (GM_PARAM_subtable_load_file(&sections, path) != CM_RC_OK) {
        BE_DUZ_subtable_list_clear(&sections);
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account file '%s'.", path);
        return false;
    }
    bool ok = true;
    gm_param::KeyedRows rows(&names->names);  // each name once, without a walk of the list per name
    for (const std::string& name : be_section_names(&sections)) {
        if (non_empty(pattern) && GM_WILD_match(name.c_str(), pattern) != CM_RC_OK) continue;
        if (rows.set(name.c_str(), name.c_str()) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to add account %s to the list", name.c_str());
            ok = false;
            break;
        }
    }
    BE_DUZ_subtable_list_clear(&sections);
    GM_PARAM_list_reset(&names->names);
    return ok;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_cmlist_list(ZPAConnHandle* Connection, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                             ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_cmlist_list");
    if (Connection == nullptr || xml_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing connection or list handle", "BE_DUZ_get_cmlist_list");
        return ZPA_FAIL;
    }
    const char* cm_version = be_list::request_value(&Connection->Attributes, "CM_VERSION");
    if (!non_empty(cm_version)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "CM_VERSION attribute not found. Check configuration file");
        return ZPA_FAIL;
    }
    if (!non_empty(be_list::request_value(xml_attrList, "DUZ-FORM_VERSION"))) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s version. Forms version not found. Check Ovik forms version.", cm_version);
        return ZPA_FAIL;
    }
    if (be_list::mandatory_value(xml_attrList, "APPLICATION_TYPE", Error) == nullptr) return ZPA_FAIL;
    char* pattern = be_list::request_value(xml_attrList, "DUZ-INSTANCE");
    if (pattern != nullptr) GM_STR_toupper(pattern);

    be_list::set_shape(xml_handle, {}, {"DUZ-INSTANCE"});

    /* The connection holds nothing for this list (no session is opened for it); a list left by an
     * earlier open that was never closed is replaced. */
    if (Connection->UserData != nullptr) {
        auto* head = static_cast<BE_DUZ_data_type*>(Connection->UserData);
        if (head->dataType != BE_DUZ_ACCOUNT_NAME_LIST) {
            BE_DUZ_UpdateErrorSet(Error, 1, "The connection holds a database session; %s needs none", "GetCMInstance");
            return ZPA_FAIL;
        }
        BE_DUZ_delete_account_name_list(static_cast<BE_DUZ_AccountNameList*>(Connection->UserData));
        Connection->UserData = nullptr;
    }
    auto* names = static_cast<BE_DUZ_AccountNameList*>(std::calloc(1, sizeof(BE_DUZ_AccountNameList)));
    if (names == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_get_cmlist_list");
        return ZPA_FAIL;
    }
    names->dataType = BE_DUZ_ACCOUNT_NAME_LIST;
    ZPALIST_init(&names->names);
    if (!load_account_names(pattern, names, Error)) {
        BE_DUZ_delete_account_name_list(names);
        return ZPA_FAIL;
    }
    Connection->UserData = names;
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_get_resp_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                           ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_resp_list");
    const char* user = be_list::mandatory_value(xml_attrList, "DUZ-USERNAME", Error);
    if (user == nullptr) return ZPA_FAIL;
    be_sql::BindValues binds;
    binds.add_named_text(":user_name", user);
    std::string sql = kRespSql;
    const char* filter = be_list::request_value(xml_attrList, "DUZ-RESPNAME");
    if (be_list::is_filter(filter)) {
        std::string name(filter);
        GM_STR_toupper(name.data());
        sql += " and " + be_list::filter_condition("upper(resp.responsibility_name)", name, binds);
    }
    sql += kRespOrder;
    be_list::set_shape(xml_handle, {"DUZ-RESP"}, {"DUZ-RESPNAME", "DUZ-RESPAPP", "DUZ-SECURITY_GROUPNAME"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_profile_name_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                   ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_profile_name_list");
    const char* name = be_list::mandatory_value(xml_attrList, "DUZ-PROFILE_NAME", Error);
    if (name == nullptr) return ZPA_FAIL;
    be_sql::BindValues binds;
    std::string sql = kProfileSql;
    if (*name == '\0') {
        sql += "LIKE " + binds.add_text("%");
    } else {
        const be_list::Filter filter = be_list::bind_filter(name, binds);
        sql += (filter.wildcard ? "LIKE " : "= ") + filter.placeholder;
    }
    sql += kProfileOrder;
    be_list::set_shape(xml_handle, {"DUZ-PROFILES"}, {"DUZ-Profile_Name", "DUZ-Technical_Profile_Name"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

CM_EXTERN_C_END
