/* The programs or request sets that one OEBS user may submit under one responsibility ("GetJob"):
 * by the responsibility's request group, or by its menu (form functions that name programs, sets
 * or request groups in their parameters). */
#include "be_internal.h"
#include "be_job_internal.h"
#include "be_list_internal.h"
#include "gm_str.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kIdsBlock =
    "BEGIN select nvl(user_id, -1) into :user_id from fnd_user where user_name = :user_name;  select "
    "nvl(group_application_id, -1), nvl(request_group_id, -1) into  :grp_app_id, :grp_id from   fnd_responsibility_vl "
    "resp, fnd_application app where        app.application_short_name = :app_name and       "
    "resp.responsibility_name = :resp_name and       app.application_id = resp.application_id; END; ";

/* Units of the responsibility's request group of one type (:grp_app_id, :grp_id). */
std::string group_units(const char* columns, const char* type) {
    return std::string("(select ") + columns +
           " from FND_REQUEST_GROUP_UNITS U where U.APPLICATION_ID = :grp_app_id and U.REQUEST_GROUP_ID = :grp_id and "
           "U.REQUEST_UNIT_TYPE = '" +
           type + "')";
}

std::string group_programs_sql(const std::string& filter) {
    return "select distinct P.USER_CONCURRENT_PROGRAM_NAME, P.CONCURRENT_PROGRAM_NAME, A.APPLICATION_SHORT_NAME, "
           "A.APPLICATION_NAME from FND_CONCURRENT_PROGRAMS_VL P, FND_APPLICATION_VL A where P.SRS_FLAG IN ('Y', 'Q') "
           "and P.ENABLED_FLAG = 'Y' and REQUEST_SET_FLAG = 'N' and P.APPLICATION_ID = A.APPLICATION_ID" +
           filter + " and (P.APPLICATION_ID in " + group_units("U.UNIT_APPLICATION_ID", "A") +
           " or (P.APPLICATION_ID, P.CONCURRENT_PROGRAM_ID) in " +
           group_units("U.UNIT_APPLICATION_ID, U.REQUEST_UNIT_ID", "P") + ") ORDER BY P.USER_CONCURRENT_PROGRAM_NAME";
}

std::string group_sets_sql(const std::string& filter) {
    return "select distinct S.USER_REQUEST_SET_NAME, S.REQUEST_SET_NAME, A.APPLICATION_SHORT_NAME, A.APPLICATION_NAME "
           "from FND_REQUEST_SETS_VL S, FND_APPLICATION_VL A where SYSDATE BETWEEN S.START_DATE_ACTIVE AND "
           "NVL(S.END_DATE_ACTIVE, SYSDATE) and S.APPLICATION_ID = A.APPLICATION_ID" +
           filter + " and (S.OWNER = :user_id or S.APPLICATION_ID in " + group_units("U.UNIT_APPLICATION_ID", "A") +
           " or (S.APPLICATION_ID, S.REQUEST_SET_ID) in " +
           group_units("U.UNIT_APPLICATION_ID, U.REQUEST_UNIT_ID", "S") + ") ORDER BY S.USER_REQUEST_SET_NAME";
}

/* The parameters of every form function reachable from the responsibility's menus (:resp_name,
 * compared in upper case). */
constexpr const char* kMenuFunctions =
    "with menu_fn as (select ff.parameters prm from fnd_form_functions_vl ff, (select function_id from "
    "fnd_menu_entries_vl START WITH menu_id in (select r.menu_id from fnd_responsibility_vl r where "
    "UPPER(r.responsibility_name) = UPPER(:resp_name)) CONNECT BY PRIOR sub_menu_id = menu_id) me where "
    "ff.function_id = me.function_id) ";

/* The names that form-function parameters give after one of the keys (a parameter name, '=' and a
 * double quote), up to the next double quote; only on functions that meet the extra condition. */
std::string named_in_functions(std::initializer_list<const char*> keys, const std::string& extra) {
    std::string names;
    for (const char* key : keys) {
        const std::string k = std::string("'") + key + "'";
        const std::string start = "instr(prm, " + k + ") + length(" + k + ")";
        if (!names.empty()) names += " union all ";
        names += "select substr(prm, " + start + ", instr(prm, '\"', " + start + ") - (" + start +
                 ")) from menu_fn where instr(prm, " + k + ") > 0" + extra;
    }
    return "(" + names + ")";
}

std::string menu_group_codes() {
    return named_in_functions(
        {"REQUEST_GROUP_CODE=\"", "REQUEST_GROUP_CODE = \"", "REQUEST_GROUP_CODE= \"", "Request_Group_Code=\""},
        " and instr(upper(prm), 'REQUEST_SET') = 0 and instr(upper(prm), "
        "'CONCURRENT_PROGRAM_NAME') = 0");
}

/* Units of one type of the request groups that the menu's functions name. */
constexpr const char* kMenuGroupUnits =
    " and G.REQUEST_GROUP_CODE in %CODES% and U.APPLICATION_ID = G.APPLICATION_ID and U.REQUEST_GROUP_ID = "
    "G.REQUEST_GROUP_ID and U.REQUEST_UNIT_TYPE = ";

std::string with_codes(std::string text) {
    const std::size_t at = text.find("%CODES%");
    return text.replace(at, 7, menu_group_codes());
}

std::string menu_programs_sql(const std::string& filter) {
    const std::string columns =
        "select P.USER_CONCURRENT_PROGRAM_NAME, P.CONCURRENT_PROGRAM_NAME, A.APPLICATION_SHORT_NAME, A.APPLICATION_NAME ";
    return kMenuFunctions + columns +
           "from fnd_concurrent_programs_vl P, fnd_application_vl A where P.APPLICATION_ID = A.APPLICATION_ID and "
           "P.CONCURRENT_PROGRAM_NAME in " +
           named_in_functions({"CONCURRENT_PROGRAM_NAME=\"", "CONCURRENT_PROGRAM_NAME =\"",
                               "CONCURRENT_PROGRAM_NAME= \"", "Concurrent_Program_Name=\""},
                              "") +
           filter + " UNION " + columns +
           "from fnd_concurrent_programs_vl P, fnd_application_vl A, fnd_request_groups G, fnd_request_group_units U "
           "where P.APPLICATION_ID = A.APPLICATION_ID" +
           with_codes(kMenuGroupUnits) +
           "'P' and U.UNIT_APPLICATION_ID = P.APPLICATION_ID and U.REQUEST_UNIT_ID = P.CONCURRENT_PROGRAM_ID" + filter;
}

std::string menu_sets_sql(const std::string& filter) {
    const std::string columns =
        "select S.USER_REQUEST_SET_NAME, S.REQUEST_SET_NAME, A.APPLICATION_SHORT_NAME, A.APPLICATION_NAME ";
    return kMenuFunctions + columns +
           "from fnd_request_sets_vl S, fnd_application_vl A where S.APPLICATION_ID = A.APPLICATION_ID and "
           "S.REQUEST_SET_NAME in " +
           named_in_functions({"REQUEST_SET_NAME=\""}, " and instr(upper(prm), 'CONCURRENT_PROGRAM') = 0") + filter +
           " UNION " + columns +
           "from fnd_request_sets_vl S, fnd_application_vl A, fnd_request_groups G, fnd_request_group_units U "
           "where S.APPLICATION_ID = A.APPLICATION_ID" +
           with_codes(kMenuGroupUnits) +
           "'S' and U.UNIT_APPLICATION_ID = S.APPLICATION_ID and U.REQUEST_UNIT_ID = S.REQUEST_SET_ID" + filter;
}

struct Ids {
    int user_id = -1;
    int group_app_id = -1;
    int group_id = -1;
};

/* The user's id and the responsibility's request group. 0, or 1 with the reason in Error. */
ZPARC resolve_ids(BE_DUZ_Handles* session, const char* user, const char* resp, const char* resp_app, Ids& ids,
                  ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    ZPARC rc = stmt.prepare(kIdsBlock);
    if (rc == 0) rc = stmt.bind_text_copy(":user_name", user);
    if (rc == 0) rc = stmt.bind_int(":user_id", &ids.user_id);
    if (rc == 0) rc = stmt.bind_text_copy(":resp_name", resp);
    if (rc == 0) rc = stmt.bind_text_copy(":app_name", resp_app);
    if (rc == 0) rc = stmt.bind_int(":grp_app_id", &ids.group_app_id);
    if (rc == 0) rc = stmt.bind_int(":grp_id", &ids.group_id);
    if (rc == 0) rc = stmt.execute();
    if (rc == 0) {
        BE_TRACE(4, "user id %d, request group %d of application %d", ids.user_id, ids.group_id, ids.group_app_id);
        return ZPA_SUCCESS;
    }
    /* No such user or responsibility: the block found no row. */
    const ZPAErrorCode code = Error != nullptr ? Error->code : 0;
    if (code == OCI_NO_DATA || code == 1403)
        be_job::explain(Error, "Failed to get user id.");
    else
        BE_TRACE(2, "Failed to get user id. OCI_rc_code = %d, error = %s", static_cast<int>(rc),
                 Error != nullptr ? Error->text : "");
    return ZPA_FAIL;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_job_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                          ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_job_list");
    char* user = be_list::mandatory_value(xml_attrList, "DUZ-USERNAME", Error);
    if (user == nullptr) return ZPA_FAIL;
    GM_STR_toupper(user);
    const char* resp = be_list::mandatory_value(xml_attrList, "DUZ-RESPNAME", Error);
    if (resp == nullptr) return ZPA_FAIL;
    const char* resp_app = be_list::mandatory_value(xml_attrList, "DUZ-RESPAPP", Error);
    if (resp_app == nullptr) return ZPA_FAIL;
    const char* task_type = be_list::mandatory_value(xml_attrList, "DUZ-TASKTYPE", Error);
    if (task_type == nullptr) return ZPA_FAIL;
    const char* use_menu = be_list::request_value(xml_attrList, "DUZ-USE_MENU_FUNCTION");
    const bool by_menu = use_menu != nullptr && std::strcmp(use_menu, "Y") == 0;
    const bool programs = std::strcmp(task_type, "REQUEST") == 0;

    try {
        Ids ids;
        if (resolve_ids(DUZ_handle, user, resp, resp_app, ids, Error) != ZPA_SUCCESS) return ZPA_FAIL;

        be_sql::BindValues binds;
        std::string filter;
        const char* name = be_list::request_value(xml_attrList, programs ? "DUZ-PROGDESP" : "DUZ-SETDESP");
        if (be_list::is_filter(name)) {
            const std::string column = programs ? "P.user_concurrent_program_name" : "S.user_request_set_name";
            const be_list::Filter f = be_list::bind_filter(name, binds);
            filter = f.wildcard ? " and lower(" + column + ") LIKE lower(" + f.placeholder + ") "
                                : " and " + column + " = " + f.placeholder + " ";
        }
        std::string sql;
        if (by_menu) {
            binds.add_named_text(":resp_name", resp);
            sql = programs ? menu_programs_sql(filter) : menu_sets_sql(filter);
        } else {
            binds.add_named_int(":grp_app_id", ids.group_app_id);
            binds.add_named_int(":grp_id", ids.group_id);
            if (!programs) binds.add_named_int(":user_id", ids.user_id);
            sql = programs ? group_programs_sql(filter) : group_sets_sql(filter);
        }
        if (programs)
            be_list::set_shape(xml_handle, {"DUZ-JOB"}, {"DUZ-PROGDESP", "DUZ-PROGNAME", "DUZ-APPNAME", "DUZ-APPDESP"});
        else
            be_list::set_shape(xml_handle, {"DUZ-JOB"}, {"DUZ-SETDESP", "DUZ-SETNAME", "DUZ-APPNAME", "DUZ-APPDESP"});
        return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_get_job_list");
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
