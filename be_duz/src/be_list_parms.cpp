/* Parameter lists of the job-definition form: a program's parameters with their displayed defaults
 * ("GetREQPARAM"), the programs of a request set ("GetSetPROG") and the parameters of one program
 * of a set ("GetSetPARAM", rows prepared in memory), with the builders the program data reuses
 * (hidden profile parameters, the operating-unit flag). */
#include "be_internal.h"
#include "be_job_internal.h"
#include "be_list_internal.h"
#include "be_list_profile_internal.h"
#include "gm_param.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kIncludeHiddenKey = "GET_PARMS_INCLUDING_HIDDEN";

/* The displayed value of a parameter: its default, or a notice for defaults worked out only when
 * the request is submitted. */
#define BE_LIST_CALCULATED "'" BE_DUZ_CALCULATED_DURING_SUBMISSION "'"
constexpr const char* kParmColumns =
    "select a.end_user_column_name, "
    "decode(a.default_type, 'A', " BE_LIST_CALCULATED ", 'D', " BE_LIST_CALCULATED ", 'T', " BE_LIST_CALCULATED
    ", 'F', " BE_LIST_CALCULATED ", 'P', " BE_LIST_CALCULATED
    ", nvl(a.default_value, ' ')), "
    "b.VALIDATION_TYPE, c.form_left_prompt, a.display_flag ";
#undef BE_LIST_CALCULATED
/* A program's parameters: :app the application short name, :prog the program short name. */
constexpr const char* kParmTables =
    "from fnd_descr_flex_column_usages a, FND_FLEX_VALUE_SETS b, fnd_descr_flex_col_usage_tl c, fnd_application app "
    "where app.application_short_name = :app and a.application_id = app.application_id "
    "and c.application_id = a.application_id "
    "and a.descriptive_flexfield_name = '$SRS$.' || :prog and c.descriptive_flexfield_name = '$SRS$.' || :prog "
    "and a.FLEX_VALUE_SET_ID = b.FLEX_VALUE_SET_ID and a.enabled_flag = 'Y' "
    "and a.application_column_name = c.application_column_name and c.LANGUAGE(+) = USERENV('LANG') ";
constexpr const char* kDisplayedOnly = "and a.display_flag = 'Y' ";
constexpr const char* kParmOrder = "order by a.column_seq_num";

constexpr const char* kProfileParmColumns =
    "select (select distinct t.USER_PROFILE_OPTION_NAME from fnd_profile_options_tl t "
    "where t.profile_option_name like a.default_value and t.source_lang = USERENV('LANG')), "
    "nvl(a.default_value, ' ') ";
constexpr const char* kHiddenProfilesOnly = "and a.default_type = 'P' and a.display_flag != 'Y' ";

constexpr const char* kOperatingUnitSql =
    " select  count(MULTI_ORG_CATEGORY)  from fnd_concurrent_programs  where CONCURRENT_PROGRAM_NAME = :prog_name and  "
    "MULTI_ORG_CATEGORY = 'S'";
/* A release whose programs have no MULTI_ORG_CATEGORY: no program asks for an operating unit. */
constexpr const char* kNoOperatingUnitSql = " select 0 from dual";

constexpr const char* kSetProgramsSql =
    "select CP.concurrent_program_name, CP.user_concurrent_program_name, AP.application_short_name, "
    "AP.application_name, to_char(RSP.sequence), RSS.stage_name, to_char(RSS.display_sequence) "
    "from fnd_request_sets RS, fnd_application RS_AP, fnd_request_set_stages_vl RSS, fnd_concurrent_programs_vl CP, "
    "fnd_request_set_programs RSP, fnd_application_vl AP "
    "where RS.request_set_name = :set_name and RS_AP.application_short_name = :app "
    "and RS.application_id = RS_AP.application_id "
    "and RSS.set_application_id = RS.application_id and RSS.request_set_id = RS.request_set_id "
    "and RSP.set_application_id = RSS.set_application_id and RSP.request_set_id = RSS.request_set_id "
    "and RSP.request_set_stage_id = RSS.request_set_stage_id "
    "and CP.application_id = RSP.program_application_id and CP.concurrent_program_id = RSP.concurrent_program_id "
    "and AP.application_id = CP.application_id "
    "order by RSS.display_sequence, RSP.sequence";

/* The program parameter statement, with or without the hidden parameters. */
std::string parm_sql(const char* columns, const char* extra_condition) {
    return std::string(columns) + kParmTables + extra_condition + kParmOrder;
}

/* Reads the application and program names into :app and :prog; false after storing the missing one. */
bool program_binds(ZPAAttrList* request, const char* prog_key, const char* app_key, be_sql::BindValues& binds,
                   ZPAError* Error) {
    const char* prog = be_list::mandatory_value(request, prog_key, Error);
    if (prog == nullptr) return false;
    const char* app = be_list::mandatory_value(request, app_key, Error);
    if (app == nullptr) return false;
    binds.add_named_text(":app", app);
    binds.add_named_text(":prog", prog);
    return true;
}

bool include_hidden() {
    GM_PARAM_VALUE_typ value = "N";
    if (GM_PARAM_get("OEBS", kIncludeHiddenKey, value) != CM_RC_OK) return false;
    return std::strcmp(value, "Y") == 0;
}

/* A set program's sequence becomes part of an element name: letters, digits, '_', '-' and '.'. */
bool is_name_part(const char* text) {
    if (*text == '\0') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (!(std::isalnum(u) != 0 || u == '_' || u == '-' || u == '.')) return false;
    }
    return true;
}

/* Stores one parameter as section "P%.3d" of number in the list; false after storing the failure. */
bool add_parameter(ZPALIST_handle_typ* list, int number, const BE_DUZ_report_parm& parm, ZPAError* Error) {
    char section[16];
    std::snprintf(section, sizeof section, "P%.3d", number);
    const std::pair<const char*, const char*> rows[] = {{"NAME", parm.parm_name},
                                                        {"VALUE", parm.dft_value},
                                                        {"VALSETTYP", parm.value_set_type},
                                                        {"DISPLAY", parm.parm_display}};
    for (const auto& [key, value] : rows) {
        if (GM_PARAM_subtable_list_set(list, section, key, value) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to add parameter %s to the list", parm.parm_name);
            return false;
        }
    }
    return true;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_reqparm_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_reqparm_list");
    be_sql::BindValues binds;
    if (!program_binds(xml_attrList, "DUZ-PROGNAME", "DUZ-APPNAME", binds, Error)) return ZPA_FAIL;
    const bool hidden = include_hidden();
    BE_TRACE(4, "%s: %s", kIncludeHiddenKey, hidden ? "Y" : "N");
    be_list::set_shape(xml_handle, {"DUZ-PARMS", "DUZ-P%.3d"},
                       {"DUZ-NAME", "DUZ-VALUE", "DUZ-VALSETTYP", "DUZ-DISPLAY"});
    return be_list::open_rows(xml_handle, DUZ_handle, parm_sql(kParmColumns, hidden ? "" : kDisplayedOnly), binds,
                              Error);
}

ZPARC BE_DUZ_get_reqparmprofiles_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                      ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_reqparmprofiles_list");
    be_sql::BindValues binds;
    if (!program_binds(xml_attrList, "DUZ-PROGNAME", "DUZ-APPNAME", binds, Error)) return ZPA_FAIL;
    be_list::set_shape(xml_handle, {"DUZ-PRMPROF", "DUZ-P%.3d"}, {"DUZ-NAME", "DUZ-VALUE"});
    return be_list::open_rows(xml_handle, DUZ_handle, parm_sql(kProfileParmColumns, kHiddenProfilesOnly), binds, Error);
}

ZPARC BE_DUZ_check_if_operating_unit_exist(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                           ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_check_if_operating_unit_exist");
    const char* prog = be_list::mandatory_value(xml_attrList, "DUZ-PROGNAME", Error);
    if (prog == nullptr) return ZPA_FAIL;
    be_sql::BindValues binds;
    binds.add_named_text(":prog_name", prog);
    be_list::set_shape(xml_handle, {"DUZ-HASOPUNIT"}, {"DUZ-VALUE"});
    if (be_list::open_rows(xml_handle, DUZ_handle, kOperatingUnitSql, binds, Error) == ZPA_SUCCESS) return ZPA_SUCCESS;
    BE_TRACE(2, "Programs have no MULTI_ORG_CATEGORY here (%s); the flag reads 0", Error != nullptr ? Error->text : "");
    return be_list::open_rows(xml_handle, DUZ_handle, kNoOperatingUnitSql, be_sql::BindValues(), Error);
}

ZPARC BE_DUZ_get_setprog_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_setprog_list");
    const char* set = be_list::mandatory_value(xml_attrList, "DUZ-SETNAME", Error);
    if (set == nullptr) return ZPA_FAIL;
    const char* app = be_list::mandatory_value(xml_attrList, "DUZ-APPNAME", Error);
    if (app == nullptr) return ZPA_FAIL;
    be_sql::BindValues binds;
    binds.add_named_text(":set_name", set);
    binds.add_named_text(":app", app);
    be_list::set_shape(
        xml_handle, {"DUZ-SETPROG", "DUZ-P%.3d"},
        {"DUZ-PROGNAME", "DUZ-PROGDESP", "DUZ-APPNAME", "DUZ-APPDESP", "DUZ-PROGSEQ", "DUZ-STAGENAME", "DUZ-STAGESEQ"});
    return be_list::open_rows(xml_handle, DUZ_handle, kSetProgramsSql, binds, Error);
}

ZPARC BE_DUZ_get_ReqSetParm_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                 ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_ReqSetParm_list");
    if (xml_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing list handle", "BE_DUZ_get_ReqSetParm_list");
        return ZPA_FAIL;
    }
    static constexpr const char* kInputs[] = {"DUZ-SETNAME", "DUZ-APPNAME", "DUZ-SETPROG_PROGNAME",
                                              "DUZ-SETPROG_PROGSEQ", "DUZ-SETPROG_STAGENAME"};
    const char* input[5] = {};
    for (int i = 0; i < 5; ++i)
        if ((input[i] = be_list::mandatory_value(xml_attrList, kInputs[i], Error)) == nullptr) return ZPA_FAIL;
    const char* profile_text = be_list::request_value(xml_attrList, "DUZ-PROFILETEXT");
    if (profile_text != nullptr && *profile_text != '\0')
        be_list::apply_profile_text(DUZ_handle, profile_text, be_list::EmptyValues::Skip);

    /* The rows of an earlier use of the handle never mix with these. */
    be_list::drop_query(xml_handle);
    BE_DUZ_subtable_list_clear(&xml_handle->datalist);
    ZPALIST_init(&xml_handle->datalist);
    be_list::set_shape(xml_handle, {"DUZ-PARMS", "DUZ-P%.3d"},
                       {"DUZ-NAME", "DUZ-VALUE", "DUZ-VALSETTYP", "DUZ-DISPLAY"});

    try {
        be_job::ParmRecords records;
        const ZPARC rc = BE_DUZ_retrieve_ReqSetParmList(DUZ_handle, input[1], input[0], input[4], input[2], input[3],
                                                        records.get(), &records.last, Error);
        if (rc != ZPA_SUCCESS) return rc;
        BE_TRACE(4, "request set program %s: %d parameters", input[2], records.last + 1);
        for (int i = 0; i <= records.last && i < BE_DUZ_MAX_REPORT_PARMS; ++i) {
            if (!add_parameter(&xml_handle->datalist, i + 1, *records.get()[i], Error)) {
                BE_DUZ_subtable_list_clear(&xml_handle->datalist);
                ZPALIST_init(&xml_handle->datalist);
                return ZPA_FAIL;
            }
        }
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_get_ReqSetParm_list");
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_get_setparam_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                               ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_setparam_list");
    const char* sequence = be_list::mandatory_value(xml_attrList, "DUZ-SETPROG_SEQUENCE", Error);
    if (sequence == nullptr) return ZPA_FAIL;
    const char* app = be_list::mandatory_value(xml_attrList, "DUZ-SETPROG_APPNAME", Error);
    if (app == nullptr) return ZPA_FAIL;
    const char* prog = be_list::mandatory_value(xml_attrList, "DUZ-SETPROG_PROGNAME", Error);
    if (prog == nullptr) return ZPA_FAIL;
    /* The sequence names an element: it must make a whole, well-formed name. */
    const std::string element = std::string("DUZ-") + sequence;
    if (!is_name_part(sequence) || element.size() >= BE_DUZ_XML_TAG_SIZE) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Value %s is invalid for key %s", sequence, "DUZ-SETPROG_SEQUENCE");
        return ZPA_FAIL;
    }
    be_sql::BindValues binds;
    binds.add_named_text(":app", app);
    binds.add_named_text(":prog", prog);
    be_list::set_shape(xml_handle, {"DUZ-SETPROG", element.c_str(), "DUZ-PARMS", "DUZ-PARM%.3d"}, {"DUZ-NAME"});
    return be_list::open_rows(xml_handle, DUZ_handle, parm_sql(kParmColumns, kDisplayedOnly), binds, Error);
}

CM_EXTERN_C_END
