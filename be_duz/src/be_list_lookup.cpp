/* Lookup lists of the job-definition form: workflow roles to notify, printers of a print style,
 * XML Publisher layouts of a program and their languages, printer styles, installed languages and
 * the operating units of a responsibility; and the check whether a program's layouts have a
 * default territory. Every filter value is bound, never placed in a statement's text. */
#include "be_internal.h"
#include "be_list_internal.h"
#include "gm_str.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr const char* kRoleViewSql =
    " select wfr.display_name,  wfd.display_name, nvl(wfr.description, ' '), wfr.name  from  wf_role_lov_vl wfr,  "
    "wf_directory_partitions_vl wfd  where  UPPER(wfr.display_name) LIKE UPPER(";
constexpr const char* kRoleViewSqlEnd =
    ") AND  ( (substr(UPPER(wfr.orig_system), 1, 8) = 'FND_RESP' and substr(UPPER(wfr.orig_system), 1, 8) = "
    "wfd.orig_system) or wfr.orig_system = wfd.orig_system )  order by wfr.display_name";
constexpr const char* kRolesSql =
    " select wf.display_name,  nvl(wf.description, ' '), wf.name  from wf_roles wf WHERE  UPPER(wf.display_name) LIKE "
    "UPPER(";
constexpr const char* kRolesSqlEnd = ")  order by wf.display_name ";

constexpr const char* kPrinterSql =
    "select nvl(prt.PRINTER_NAME,' '),  nvl(prt.PRINTER_TYPE, ' '),  nvl(prt.DESCRIPTION ,' ')from   fnd_printer_vl "
    "prt,   FND_PRINTER_styles_view  sty  where  prt.PRINTER_NAME = sty.PRINTER_NAME  and  ( "
    "sty.USER_PRINTER_STYLE_NAME =:style or sty.PRINTER_STYLE_NAME =:style ) ";
constexpr const char* kPrinterOrder = " order by prt.printer_name ";

/* The tables and joins of a program's layouts, shared by the layout list and the territory check;
 * :app_name is the application short name, :prog_name the program short name. */
constexpr const char* kLayoutTables =
    " from xdo_templates_vl template, fnd_concurrent_programs cc_prog, fnd_iso_languages_vl lang, "
    "fnd_territories_tl terr where template.application_short_name = :app_name and template.data_source_code = "
    ":prog_name and cc_prog.application_id = template.application_id and cc_prog.concurrent_program_name = "
    ":prog_name and template.default_language = lang.iso_language_2 ";
constexpr const char* kLayoutColumns =
    "select nvl(template.template_name,' ') as Template_Name, max(nvl(lang.name, ' ')||decode(template.default_territory "
    ", terr.territory_code,': '||nvl(terr.territory_short_name ,''))) as Template_Language, "
    "max(nvl(template.template_type_code ,' ')) as Template_Type";
constexpr const char* kXmlOutputOnly = "and cc_prog.output_file_type = 'XML'";
constexpr const char* kLayoutOrder = " group by Template_Name  order by Template_Name";
constexpr const char* kTerritoryColumns = "select count(template.template_name)";
constexpr const char* kTerritoryJoin = "and template.default_territory = terr.territory_code ";

constexpr const char* kLayoutLangWithTerritory =
    "select nvl(lang.name,' ')||': '||nvl(terr.territory_short_name,' ') as Language from xdo_lobs template, "
    "xdo_templates_vl temp_name, fnd_territories_tl terr, fnd_iso_languages_vl lang where  "
    "template.application_short_name = :app_name and  temp_name.template_name = :template_name and  template.lob_code "
    "= temp_name.template_code and  template.language = lang.iso_language_2 and  template.territory = "
    "terr.territory_code and  template.lob_type = 'TEMPLATE' ";
constexpr const char* kLayoutLangWithoutTerritory =
    "select nvl(lang.name,' ') as Language from xdo_lobs template, fnd_iso_languages_vl lang, xdo_templates_vl "
    "temp_name where  template.language = lang.iso_language_2 and template.territory = '00' and  "
    "temp_name.APPLICATION_SHORT_NAME = template.APPLICATION_SHORT_NAME and  temp_name.TEMPLATE_CODE = "
    "template.LOB_CODE and template.lob_type in ('TEMPLATE','MLS_TEMPLATE') and  template.file_status = 'E' and "
    "temp_name.template_name = :template_name and  template.APPLICATION_SHORT_NAME = :app_name ";
constexpr const char* kLayoutLangUnion = "\n union \n";

constexpr const char* kPrinterStyleSql =
    "select distinct sty.user_printer_style_name from fnd_printer_styles_view sty ";

constexpr const char* kLanguageSql =
    "SELECT NLS_LANGUAGE||'_'||NLS_TERRITORY  FROM FND_LANGUAGES   WHERE INSTALLED_FLAG in ('I', 'B') ";

/* The security profile of the responsibility (:resp_name, upper case) as a profile value. */
constexpr const char* kSecurityProfileSql =
    "select distinct fpov.profile_option_value\tfrom fnd_profile_option_values fpov,\tfnd_profile_options fpo,"
    "\tfnd_profile_options_tl fpot,\tfnd_responsibility_tl fr\twhere 1 = 1"
    "\tand fpo.profile_option_name = fpot.profile_option_name\tand fpo.profile_option_id = fpov.profile_option_id"
    "\tand fr.responsibility_id(+) = fpov.level_value\tand fpot.user_profile_option_name like 'MO: Security Profile'"
    "\tand upper(fr.responsibility_name) like :resp_name";

/* " and <column> LIKE :bvN " (or "= :bvN"), or nothing when the value filters nothing. */
std::string and_filter(const char* column, const char* value, be_sql::BindValues& binds) {
    if (!be_list::is_filter(value)) return std::string();
    return " and " + be_list::filter_condition(column, value, binds) + " ";
}

bool present(const char* value) { return value != nullptr && *value != '\0'; }

/* A row limit: a decimal whole number that fits an int, nothing else. */
bool parse_amount(const char* text, int* amount) {
    if (text == nullptr || *text == '\0' || std::isspace(static_cast<unsigned char>(*text)) != 0) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
    *amount = static_cast<int>(value);
    return true;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_notification_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                   ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_notification_list");
    /* A quote in the filter matches any character there, like a wildcard. */
    std::string filter = "%";
    const char* value = be_list::request_value(xml_attrList, "DUZ-NOTIFICATION");
    if (present(value)) {
        filter = value;
        BE_DUZ_SQL_replace_wildchar(filter.data(), '*', '%');
        BE_DUZ_SQL_replace_wildchar(filter.data(), '\'', '%');
    }
    be_sql::BindValues binds;
    const std::string placeholder = binds.add_text(filter);

    char view[] = "WF_ROLE_LOV_VL";
    int exists = 0;
    if (BE_DUZ_check_entity_exist(DUZ_handle, view, VIEW_ENTITY_TYPE, ALL_SEARCH_SCOPE, &exists, Error) != 0)
        exists = 0;
    std::string sql;
    if (exists != 0) {
        sql = kRoleViewSql + placeholder + kRoleViewSqlEnd;
        be_list::set_shape(
            xml_handle, {"DUZ-NOTIFICATIONS"},
            {"DUZ-NOTIFY_NAME", "DUZ-ORIG_SYSTEM_NAME", "DUZ-NOTIFY_DESCRIPTION", "DUZ-NOTIFY_SHORT_NAME"});
    } else {
        BE_TRACE(4, "WF_ROLE_LOV_VL doesn't exist under current Oracle version, using wf_roles table instead.");
        sql = kRolesSql + placeholder + kRolesSqlEnd;
        be_list::set_shape(xml_handle, {"DUZ-NOTIFICATIONS"},
                           {"DUZ-NOTIFY_NAME", "DUZ-NOTIFY_DESCRIPTION", "DUZ-NOTIFY_SHORT_NAME"});
    }
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_printer_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_printer_list");
    const char* style = be_list::request_value(xml_attrList, "DUZ-PRINTSTYLE");
    if (!be_list::is_filter(style)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "no printer style was found");
        return ZPA_FAIL;
    }
    be_sql::BindValues binds;
    binds.add_named_text(":style", style);
    const std::string sql =
        kPrinterSql + and_filter("prt.printer_name", be_list::request_value(xml_attrList, "DUZ-PRINTERNAME"), binds) +
        kPrinterOrder;
    be_list::set_shape(xml_handle, {"DUZ-PRINTER"}, {"DUZ-PRINTERNAME", "DUZ-PRINTTYPE", "DUZ-PRINTDESC"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_layout_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                             ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_layout_list");
    /* Whatever this handle held before, it holds no query until this list prepares its own. */
    be_list::drop_query(xml_handle);
    char view[] = "XDO_TEMPLATES_VL";
    int installed = 0;
    if (BE_DUZ_check_entity_exist(DUZ_handle, view, VIEW_ENTITY_TYPE, ALL_SEARCH_SCOPE, &installed, Error) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Unable to check if XML Publisher is installed");
        return ZPA_FAIL;
    }
    be_list::set_shape(xml_handle, {"DUZ-LOUT"}, {"DUZ-Layout_Name", "DUZ-Layout_Language", "DUZ-Layout_Format"});
    if (installed == 0) {
        BE_TRACE(4, "XML Publisher is not installed in Oracle");
        return ZPA_SUCCESS;
    }
    const char* prog = be_list::request_value(xml_attrList, "DUZ-PROGNAME");
    if (prog == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Program short name is missing");
        return ZPA_FAIL;
    }
    const char* app = be_list::request_value(xml_attrList, "DUZ-APPNAME");
    if (app == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Application short name is missing");
        return ZPA_FAIL;
    }
    /* A program of a request set names its own application. */
    const char* set_app = be_list::request_value(xml_attrList, "DUZ-SETPROG_APPNAME");
    if (present(set_app))
        app = set_app;
    else
        BE_TRACE(4, "DUZ-SETPROG_APPNAME wasn't found in the Attributes, this is single request");
    char* amount_text = nullptr;
    const ZPARC found = ZPAAPI_UTILS_AttrListValueGet(xml_attrList, const_cast<char*>("DUZ-AMOUNT"), &amount_text);
    if (found != 0 || amount_text == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(found != 0 ? found : 1),
                              "the xml_attrList '%s' is mandatory", "DUZ-AMOUNT");
        return found != 0 ? found : ZPA_FAIL;
    }

    be_sql::BindValues binds;
    binds.add_named_text(":app_name", app);
    binds.add_named_text(":prog_name", prog);
    std::string condition;
    if (amount_text[0] == '*') {
        condition =
            and_filter("template.template_name", be_list::request_value(xml_attrList, "DUZ-LAYOUT_NAME"), binds);
    } else {
        int amount = 0;
        if (!parse_amount(amount_text, &amount)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Value %s is invalid for key %s", amount_text, "DUZ-AMOUNT");
            return ZPA_FAIL;
        }
        /* Limits the joined rows before grouping: an amount of 1 gives one layout. */
        condition = " and ROWNUM <= " + binds.add_named_int(":amount", amount) + " ";
    }
    const std::string sql = std::string(kLayoutColumns) + kLayoutTables + kXmlOutputOnly + condition + kLayoutOrder;
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_layout_lang_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                  ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_layout_lang_list");
    const char* app = be_list::request_value(xml_attrList, "DUZ-APPNAME");
    if (app == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Application short name is missing");
        return ZPA_FAIL;
    }
    const char* layout = be_list::request_value(xml_attrList, "DUZ-LAYOUT_NAME");
    if (!present(layout)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Template name is missing");
        return ZPA_FAIL;
    }
    be_sql::BindValues binds;
    binds.add_named_text(":app_name", app);
    binds.add_named_text(":template_name", layout);
    /* One filter value serves both queries, each on its own form of the language. */
    std::string with_territory, without_territory;
    const char* language = be_list::request_value(xml_attrList, "DUZ-LAYOUT_LANG");
    if (be_list::is_filter(language)) {
        const be_list::Filter filter = be_list::bind_filter(language, binds);
        const std::string compare = (filter.wildcard ? " LIKE " : " = ") + filter.placeholder + " ";
        with_territory = " and nvl(lang.name,' ')||': '||nvl(terr.territory_short_name,' ')" + compare;
        without_territory = " and nvl(lang.name,' ')" + compare;
    }
    const std::string sql =
        kLayoutLangWithTerritory + with_territory + kLayoutLangUnion + kLayoutLangWithoutTerritory + without_territory;
    be_list::set_shape(xml_handle, {"DUZ-LAYOUTLANG"}, {"DUZ-Layout_Language"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_printer_style_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                    ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_printer_style_list");
    be_sql::BindValues binds;
    std::string condition;
    const char* style = be_list::request_value(xml_attrList, "DUZ-PRINTSTYLE");
    if (be_list::is_filter(style)) {
        const be_list::Filter filter = be_list::bind_filter(style, binds);
        const std::string compare = (filter.wildcard ? " LIKE " : " = ") + filter.placeholder;
        condition = " WHERE ( sty.user_printer_style_name" + compare + " or sty.printer_style_name" + compare + " )";
    }
    be_list::set_shape(xml_handle, {"DUZ-PRINTER"}, {"DUZ-PRINTSTYLE"});
    return be_list::open_rows(xml_handle, DUZ_handle, kPrinterStyleSql + condition, binds, Error);
}

ZPARC BE_DUZ_get_language_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                               ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_language_list");
    be_sql::BindValues binds;
    const std::string sql =
        kLanguageSql + and_filter("NLS_LANGUAGE", be_list::request_value(xml_attrList, "DUZ-LANGUAGE"), binds);
    be_list::set_shape(xml_handle, {}, {"DUZ-LANGUAGE"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_get_operating_unit_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                     ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_operating_unit_list");
    static constexpr std::pair<const char*, const char*> kInputs[] = {
        {"DUZ-USERNAME", "Fail to find User Name"},
        {"DUZ-RESPNAME", "Fail to find Resp. Name"},
        {"DUZ-RESPAPP", "Fail to find Resp. App. Name"},
        {"DUZ-SECURITY_GROUPNAME", "Fail to find Security Group Name"}};
    char* input[4] = {};
    for (int i = 0; i < 4; ++i) {
        if ((input[i] = be_list::mandatory_value(xml_attrList, kInputs[i].first, Error)) == nullptr) {
            BE_TRACE(2, "%s", kInputs[i].second);
            return ZPA_FAIL;
        }
    }
    int user_id = 0, resp_id = 0, resp_app_id = 0, group_id = 0;
    ZPARC rc = BE_DUZ_validate_user(DUZ_handle, input[0], input[1], input[2], input[3], &user_id, &resp_id,
                                    &resp_app_id, &group_id, Error);
    if (rc == ZPA_SUCCESS)
        rc = BE_DUZ_init_profile(user_id, resp_id, resp_app_id, group_id, DUZ_handle, xml_attrList, Error);
    if (rc != ZPA_SUCCESS) {
        BE_TRACE(2, "Fail to initialize profile.");
        return rc;
    }

    be_sql::BindValues binds;
    std::string responsibility(input[1]);
    GM_STR_toupper(responsibility.data());
    binds.add_named_text(":resp_name", responsibility);
    /* One filter value serves both halves of the union. */
    std::string condition;
    const char* unit = be_list::request_value(xml_attrList, "DUZ-OPERATING_NAME");
    if (be_list::is_filter(unit)) {
        const be_list::Filter filter = be_list::bind_filter(unit, binds);
        condition = std::string(" and NAME") + (filter.wildcard ? " LIKE " : " = ") + filter.placeholder + " ";
    }
    const std::string sql =
        std::string(
            "SELECT distinct HR.NAME FROM PER_ORGANIZATION_LIST PER , HR_OPERATING_UNITS HR WHERE "
            "PER.SECURITY_PROFILE_ID = TO_NUMBER((") +
        kSecurityProfileSql + ") ) AND HR.ORGANIZATION_ID = PER.ORGANIZATION_ID AND HR.USABLE_FLAG IS NULL " +
        condition +
        "UNION SELECT HR.NAME NAME FROM HR_OPERATING_UNITS HR WHERE HR.ORGANIZATION_ID = TO_NUMBER((select "
        "FND_GLOBAL.ORG_ID() from dual)) AND HR.USABLE_FLAG IS NULL " +
        condition;
    be_list::set_shape(xml_handle, {}, {"DUZ-OPERATING_NAME"});
    return be_list::open_rows(xml_handle, DUZ_handle, sql, binds, Error);
}

ZPARC BE_DUZ_check_if_territory_exist(char* prog_name_str, char* app_name_str, int* has_terr,
                                      BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    if (prog_name_str == nullptr || app_name_str == nullptr || has_terr == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing program, application or result",
                              "BE_DUZ_check_if_territory_exist");
        return ZPA_FAIL;
    }
    *has_terr = 0;
    try {
        const std::string sql = std::string(kTerritoryColumns) + kLayoutTables + kTerritoryJoin + kXmlOutputOnly;
        be_sql::Statement stmt(DUZ_handle, Error);
        ZPARC rc = stmt.prepare(sql.c_str());
        if (rc == 0 && (rc = stmt.bind_text_copy(":app_name", app_name_str)) != 0)
            BE_TRACE(2, "Fail to bind app_name. %s", Error != nullptr ? Error->text : "");
        if (rc == 0 && (rc = stmt.bind_text_copy(":prog_name", prog_name_str)) != 0)
            BE_TRACE(2, "Fail to bind prog_name. %s", Error != nullptr ? Error->text : "");
        if (rc == 0) rc = stmt.define_int(1, has_terr);
        if (rc == 0) rc = stmt.execute();
        if (rc != 0) {
            BE_TRACE(2, "BE_DUZ_check_if_territory_exist: %s", Error != nullptr ? Error->text : "");
            return rc;
        }
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_check_if_territory_exist");
        return ZPA_FAIL;
    }
    BE_TRACE(4, "BE_DUZ_check_if_territory_exist: HAS_TERR %d", *has_terr);
    return ZPA_SUCCESS;
}

CM_EXTERN_C_END
