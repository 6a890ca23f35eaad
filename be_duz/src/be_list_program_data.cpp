/* The whole-text program lists of the job-definition form: everything the form needs about one
 * concurrent program ("GetProgramData": parameters with their defaults worked out, operating-unit
 * flag, layouts, hidden profile parameters) and the same for every program of a request set
 * ("GetReqsetProgramsData"). They reuse the row-list handlers as builders: each builder opens its
 * query on the session's one statement handle and it is read to its end before the next runs. */
#include "be_discovery_internal.h"
#include "be_job_internal.h"
#include "be_list_internal.h"
#include "be_parm_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using be_list::Answer;

using Builder = ZPARC (*)(BE_DUZ_Handles*, BE_DUZ_xmldata_handle*, ZPAAttrList*, ZPAError*);

constexpr const char* kHiddenProfileKey = "DISABLE_HIDDEN_PROFILE";
constexpr const char* kProgramTag = "DUZ-P%.3d";

/* The connection's "DISABLE_HIDDEN_PROFILE" is "Y": no hidden-profile block. */
bool hidden_profiles_disabled(ZPAAttrList* ConnectionAttributes) {
    const char* value = be_list::request_value(ConnectionAttributes, kHiddenProfileKey);
    if (value == nullptr) {
        BE_TRACE(4, "Key '%s' not found. Using default value.", kHiddenProfileKey);
        return false;
    }
    return std::strcmp(value, "Y") == 0;
}

/* Stores "<step> <the reason the step left>" in the error record, keeping its code. */
void step_failed(ZPAError* Error, const char* step) {
    if (Error == nullptr) return;
    std::string reason = Error->text;
    const std::size_t prefix = std::strlen(BE_DUZ_ERROR_PREFIX);
    if (reason.compare(0, prefix, BE_DUZ_ERROR_PREFIX) == 0) reason.erase(0, prefix);
    BE_DUZ_UpdateErrorSet(Error, Error->code != 0 ? Error->code : 1, "%s%s%s", step, reason.empty() ? "" : " ",
                          reason.c_str());
}

int parent_count(const BE_DUZ_xmldata_handle* handle) {
    return handle->num_of_parents < 0 ? 0 : std::min(handle->num_of_parents, BE_DUZ_XML_MAX_PARENTS);
}
int field_count(const BE_DUZ_xmldata_handle* handle) {
    return handle->num_of_fields < 0 ? 0 : std::min(handle->num_of_fields, BE_DUZ_XML_MAX_FIELDS);
}

/* The element around row number of the handle's rows ("" when the handle has no parent). */
std::string row_tag(const BE_DUZ_xmldata_handle* handle, int number) {
    const int parents = parent_count(handle);
    return parents > 0 ? be_list::row_element(handle->parent_tag[parents - 1], number) : std::string();
}

ZPARC open_outer_parents(const BE_DUZ_xmldata_handle* handle, Answer& answer) {
    for (int i = 0; i + 1 < parent_count(handle); ++i)
        if (answer.open(handle->parent_tag[i]) != ZPA_SUCCESS) return ZPA_FAIL;
    return ZPA_SUCCESS;
}
ZPARC close_outer_parents(const BE_DUZ_xmldata_handle* handle, Answer& answer) {
    for (int i = parent_count(handle) - 2; i >= 0; --i)
        if (answer.close(handle->parent_tag[i]) != ZPA_SUCCESS) return ZPA_FAIL;
    return ZPA_SUCCESS;
}

/* One row of the handle's buffers: the row element (none when tag is empty) holding each field. */
ZPARC write_row(BE_DUZ_xmldata_handle* handle, const std::string& tag, Answer& answer) {
    if (!tag.empty() && answer.open(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    for (int i = 0; i < field_count(handle); ++i) {
        handle->row_data[i][BE_DUZ_XML_ROW_DATA_SIZE - 1] = '\0';
        RemoveSpecialChars(handle->row_data[i]);
        if (answer.element(handle->field_tag[i], handle->row_data[i]) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    if (!tag.empty() && answer.close(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    return ZPA_SUCCESS;
}

/* Reads the query a builder left open on the handle to its end, writing every row inside the outer
 * parents, the row elements numbered from 1. A fetch failure ends the answer (the Oracle text is in
 * Error): rows are never dropped silently. */
ZPARC write_rows(BE_DUZ_xmldata_handle* handle, Answer& answer, ZPAError* Error) {
    if (open_outer_parents(handle, answer) != ZPA_SUCCESS) return ZPA_FAIL;
    for (int number = 1;; ++number) {
        handle->row_index = number;
        const be_sql::Fetch got = be_list::fetch_row(handle, Error);
        if (got == be_sql::Fetch::End) break;
        if (got == be_sql::Fetch::Error) return ZPA_FAIL;
        if (write_row(handle, row_tag(handle, number), answer) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    return close_outer_parents(handle, answer);
}

/* Runs a builder on a handle and reads its query to its end, keeping only the first row in the
 * buffers (*has_row). 0; 1 when the builder fails (its error preceded by step) or a fetch fails. */
ZPARC first_row_of(Builder builder, const char* step, BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle,
                   ZPAAttrList* attributes, bool* has_row, ZPAError* Error) {
    *has_row = false;
    be_list::drop_query(handle);
    if (builder(session, handle, attributes, Error) != ZPA_SUCCESS) {
        step_failed(Error, step);
        return ZPA_FAIL;
    }
    const be_sql::Fetch first = be_list::fetch_row(handle, Error);
    if (first != be_sql::Fetch::Row) return first == be_sql::Fetch::Error ? ZPA_FAIL : ZPA_SUCCESS;
    /* The later rows land in the same buffers: the first row is put back where the writer reads it. */
    std::vector<std::string> kept;
    for (int i = 0; i < field_count(handle); ++i) kept.emplace_back(handle->row_data[i]);
    for (be_sql::Fetch got; (got = be_list::fetch_row(handle, Error)) != be_sql::Fetch::End;)
        if (got == be_sql::Fetch::Error) return ZPA_FAIL;
    for (int i = 0; i < field_count(handle); ++i)
        std::snprintf(handle->row_data[i], BE_DUZ_XML_ROW_DATA_SIZE, "%s", kept[static_cast<std::size_t>(i)].c_str());
    *has_row = true;
    return ZPA_SUCCESS;
}

// ------------------------------------------------------------------------------------------------
// Program data

/* One row of the program's parameter list: name, default value, value-set type, prompt. */
struct ParameterRow {
    std::string name;
    std::string value;
    std::string value_set_type;
    std::string display;
};

ZPARC collect_parameters(BE_DUZ_xmldata_handle* handle, ZPAAttrList* Attributes, std::vector<ParameterRow>& rows,
                         ZPAError* Error) {
    for (;;) {
        const be_sql::Fetch got = be_list::fetch_row(handle, Error);
        if (got == be_sql::Fetch::End) return ZPA_SUCCESS;
        if (got == be_sql::Fetch::Error) {
            BE_TRACE(2, "Fail to fetch next result row");
            return ZPA_FAIL;
        }
        if (rows.size() == BE_DUZ_MAX_REPORT_PARMS) {
            const char* program = be_list::request_value(Attributes, "DUZ-PROGNAME");
            BE_DUZ_UpdateErrorSet(Error, 1, "Program %s has more than %d parameters", program != nullptr ? program : "",
                                  BE_DUZ_MAX_REPORT_PARMS);
            return ZPA_FAIL;
        }
        for (int i = 0; i < 4; ++i) handle->row_data[i][BE_DUZ_XML_ROW_DATA_SIZE - 1] = '\0';
        rows.push_back({handle->row_data[0], handle->row_data[1], handle->row_data[2], handle->row_data[3]});
    }
}

/* The index in the program's definitions of the parameter named name (index when none is). */
int definition_index(be_job::ParmRecords& definitions, const std::string& name, int index) {
    for (int i = 0; i <= definitions.last; ++i)
        if (name == definitions.get()[i]->parm_name) return i;
    return index;
}

/* Defaults given as SQL ("SELECT ...") become the first column of their result, cut to 240
 * characters; one that cannot be worked out becomes empty. 1 only when the program's names are
 * missing from the request. */
ZPARC work_out_sql_defaults(BE_DUZ_Handles* session, ZPAAttrList* Attributes, std::vector<ParameterRow>& rows,
                            ZPAError* Error) {
    bool any = false;
    for (ParameterRow& row : rows) any = any || BE_DUZ_isSQLCommand(row.value.data()) != 0;
    if (!any) return ZPA_SUCCESS;
    char* prog = be_list::mandatory_value(Attributes, "DUZ-PROGNAME", Error);
    if (prog == nullptr) return ZPA_FAIL;
    char* app = be_list::mandatory_value(Attributes, "DUZ-APPNAME", Error);
    if (app == nullptr) return ZPA_FAIL;

    std::string prog_name = prog;
    std::string app_name = app;
    int app_id = -1;
    int prog_id = -1;
    be_job::ParmRecords definitions;
    ZPAError ignored{};
    if (BE_DUZ_validate_prog_name(session, prog_name.data(), app_name.data(), &app_id, &prog_id, &ignored) != 0) {
        BE_TRACE(2, "Program %s of %s not found: its SQL defaults refer to no other parameter. %s", prog_name.c_str(),
                 app_name.c_str(), ignored.text);
    } else {
        if (BE_DUZ_set_parameter_SQL_session(session, Attributes, &ignored) != 0)
            OS_MSGERR_display("Fail to alter session:%s", ignored.text);
        if (BE_DUZ_retrieve_default_parms(session, BE_DUZ_RETRIEVE_PARM_SQL, -1, app_id, nullptr, prog_name.c_str(), -1,
                                          definitions.get(), &definitions.last, &ignored) != 0)
            BE_TRACE(2, "Fail to retrieve parameter definitions of %s. %s", prog_name.c_str(), ignored.text);
    }

    for (std::size_t k = 0; k < rows.size(); ++k) {
        ParameterRow& row = rows[k];
        if (BE_DUZ_isSQLCommand(row.value.data()) == 0) continue;
        std::string sql = row.value;
        if (!sql.empty() && sql.back() == ';') sql.pop_back();
        /* Hidden parameters are among the definitions but not among the rows: the parameter's own
         * place among the definitions decides which earlier parameters its SQL may refer to. */
        const int index = definition_index(definitions, row.name, static_cast<int>(k));
        char result[BE_DUZ_PARM_VALUE_SIZE] = "";
        ZPAError failed{};
        if (BE_DUZ_reslove_sql(session, sql.c_str(), definitions.get(), definitions.last, index, result, &failed) !=
            0) {
            BE_TRACE(2, "%s: failed to calculate SQL statement, setting the value to empty string.", row.name.c_str());
            row.value.clear();
            continue;
        }
        row.value = result;
    }
    return ZPA_SUCCESS;
}

/* The parameter block: the rows of the program's parameter list, numbered from 000. */
ZPARC write_parameters(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle, ZPAAttrList* Attributes, Answer& answer,
                       ZPAError* Error) {
    std::vector<ParameterRow> rows;
    if (collect_parameters(handle, Attributes, rows, Error) != ZPA_SUCCESS) return ZPA_FAIL;
    if (work_out_sql_defaults(session, Attributes, rows, Error) != ZPA_SUCCESS) return ZPA_FAIL;
    if (open_outer_parents(handle, answer) != ZPA_SUCCESS) return ZPA_FAIL;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const ParameterRow& row = rows[k];
        const std::string tag = row_tag(handle, static_cast<int>(k));
        if (!tag.empty() && answer.open(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
        const std::string* values[] = {&row.name, &row.value, &row.value_set_type, &row.display};
        for (int i = 0; i < 4 && i < field_count(handle); ++i) {
            std::string value = *values[i];
            RemoveSpecialChars(value.data());
            if (answer.element(handle->field_tag[i], value.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
        }
        if (!tag.empty() && answer.close(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    return close_outer_parents(handle, answer);
}

ZPARC program_data(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle, ZPAAttrList* ConnectionAttributes,
                   ZPAAttrList* Attributes, ZPAError* Error) {
    struct Step {
        Builder builder;
        bool parameters;
    };
    std::vector<Step> steps = {{BE_DUZ_get_reqparm_list, true},
                               {BE_DUZ_check_if_operating_unit_exist, false},
                               {BE_DUZ_get_layout_list, false}};
    if (!hidden_profiles_disabled(ConnectionAttributes)) steps.push_back({BE_DUZ_get_reqparmprofiles_list, false});

    Answer answer(Error);
    if (answer.begin(handle->header) != ZPA_SUCCESS) return ZPA_FAIL;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        be_list::drop_query(handle);
        const ZPARC rc = steps[i].builder(session, handle, Attributes, Error);
        if (rc != ZPA_SUCCESS) {
            BE_TRACE(2, "function at index <%d> failed to run", static_cast<int>(i));
            return rc;
        }
        handle->row_index = 1;
        const ZPARC written = steps[i].parameters ? write_parameters(session, handle, Attributes, answer, Error)
                                                  : write_rows(handle, answer, Error);
        if (written != ZPA_SUCCESS) return written;
    }
    if (answer.element("DUZ-FILLER", "X") != ZPA_SUCCESS || answer.finish() != ZPA_SUCCESS) return ZPA_FAIL;
    return be_list::hand_over(handle, answer, Error);
}

// ------------------------------------------------------------------------------------------------
// Request-set programs data

/* A list of BE_DUZ_Programs_Input, emptied with it. */
struct ProgramList {
    ZPALIST_handle_typ list{};
    ProgramList() { ZPALIST_init(&list); }
    ~ProgramList() { ZPALIST_clear(&list); }
    ProgramList(const ProgramList&) = delete;
    ProgramList& operator=(const ProgramList&) = delete;
};

/* An attribute list the plug-in built, released with it. */
struct OwnedAttributes {
    ZPAAttrList list{0, nullptr, 0};
    OwnedAttributes() = default;
    ~OwnedAttributes() {
        if (list.Attributes != nullptr) ZPAAPI_utils_release_attr(&list);
    }
    OwnedAttributes(const OwnedAttributes&) = delete;
    OwnedAttributes& operator=(const OwnedAttributes&) = delete;
};

/* The program's own elements, in the order of its fields. */
ZPARC BE_DUZ_insert_program_data_to_response(Answer& answer, const BE_DUZ_Programs_Input* program) {
    const std::pair<const char*, const char*> elements[] = {
        {"DUZ-PROGNAME", program->progName}, {"DUZ-PROGDESP", program->progDesp}, {"DUZ-APPNAME", program->appName},
        {"DUZ-APPDESP", program->appDesp},   {"DUZ-PROGSEQ", program->progSeq},   {"DUZ-STAGENAME", program->stageName},
        {"DUZ-STAGESEQ", program->stageSeq}};
    for (const auto& [tag, value] : elements)
        if (answer.element(tag, value) != ZPA_SUCCESS) return ZPA_FAIL;
    return ZPA_SUCCESS;
}

/* The program's parameters as the request-set parameter list prepares them in the second handle's
 * sections "P001", "P002", ...: "DUZ-PARMS" holding "DUZ-P001", ... */
ZPARC BE_DUZ_get_program_parameters(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* second, ZPAAttrList* ProgAttributes,
                                    Answer& answer, ZPAError* Error) {
    be_list::drop_query(second);
    BE_DUZ_subtable_list_clear(&second->datalist);
    ZPALIST_init(&second->datalist);
    if (BE_DUZ_get_ReqSetParm_list(session, second, ProgAttributes, Error) != ZPA_SUCCESS) {
        step_failed(Error, "BE_DUZ_get_ReqSetParm_list failed.");
        return ZPA_FAIL;
    }
    if (answer.open("DUZ-PARMS") != ZPA_SUCCESS) return ZPA_FAIL;
    static constexpr const char* kKeys[] = {"NAME", "VALUE", "VALSETTYP", "DISPLAY"};
    for (int number = 1;; ++number) {
        char section_name[16];
        std::snprintf(section_name, sizeof section_name, "P%.3d", number);
        ZPALIST_handle_typ* rows = nullptr;
        if (GM_PARAM_subtable_list_find(&second->datalist, section_name, &rows) != CM_RC_OK || rows == nullptr) break;
        for (int i = 0; i < 4; ++i) {
            second->row_data[i][0] = '\0';
            GM_PARAM_list_get(rows, kKeys[i], second->row_data[i], BE_DUZ_XML_ROW_DATA_SIZE);
        }
        const std::string tag = std::string("DUZ-") + section_name;
        if (answer.open(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
        for (int i = 0; i < 4; ++i) {
            RemoveSpecialChars(second->row_data[i]);
            if (answer.element(second->field_tag[i], second->row_data[i]) != ZPA_SUCCESS) return ZPA_FAIL;
        }
        if (answer.close(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    return answer.close("DUZ-PARMS");
}

/* The program's default layout, when it has one: "DUZ-LOUT" holding "DUZ-P001" with its fields. */
ZPARC BE_DUZ_get_program_default_layout(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* second,
                                        ZPAAttrList* ProgAttributes, Answer& answer, ZPAError* Error) {
    bool has_row = false;
    if (first_row_of(BE_DUZ_get_layout_list, "BE_DUZ_get_layout_list failed.", session, second, ProgAttributes,
                     &has_row, Error) != ZPA_SUCCESS)
        return ZPA_FAIL;
    if (!has_row) {
        BE_TRACE(4, "There is no default layout for this program.");
        return ZPA_SUCCESS;
    }
    if (answer.open("DUZ-LOUT") != ZPA_SUCCESS) return ZPA_FAIL;
    if (write_row(second, be_list::row_element(kProgramTag, 1), answer) != ZPA_SUCCESS) return ZPA_FAIL;
    return answer.close("DUZ-LOUT");
}

/* The program's hidden parameters whose default is a profile option, read on a handle of its own:
 * "DUZ-PRMPROF" holding "DUZ-P001", ... with the option's user name and its name. */
ZPARC BE_DUZ_get_reqSetparmprofiles_list(BE_DUZ_Handles* session, ZPAAttrList* ProgAttributes, const char* appName,
                                         Answer& answer, ZPAError* Error) {
    be_list::OwnedHandle own(be_list::new_handle());
    if (!own) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to allocate memory for xmldata_handle");
        return ZPA_FAIL;
    }
    const char* prog = be_list::mandatory_value(ProgAttributes, "DUZ-PROGNAME", Error);
    if (prog == nullptr) return ZPA_FAIL;
    /* The builder reads the program's application from "DUZ-APPNAME": here the set program's own. */
    OwnedAttributes names;
    if (be_discovery::append_value(&names.list, nullptr, "DUZ-PROGNAME", prog) != ZPA_SUCCESS ||
        be_discovery::append_value(&names.list, nullptr, "DUZ-APPNAME", appName) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to allocate memory for xmldata_handle");
        return ZPA_FAIL;
    }
    if (BE_DUZ_get_reqparmprofiles_list(session, own.get(), &names.list, Error) != ZPA_SUCCESS) {
        step_failed(Error, "BE_DUZ_get_reqparmprofiles_list failed.");
        return ZPA_FAIL;
    }
    return write_rows(own.get(), answer, Error);
}

/* The program's operating-unit flag: "DUZ-HASOPUNIT" holding the check's row, when it has one. */
ZPARC BE_DUZ_check_if_operating_unit_exist_reqSet(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* second,
                                                  ZPAAttrList* ProgAttributes, Answer& answer, ZPAError* Error) {
    bool has_row = false;
    if (first_row_of(BE_DUZ_check_if_operating_unit_exist, "BE_DUZ_check_if_operating_unit_exist failed.", session,
                     second, ProgAttributes, &has_row, Error) != ZPA_SUCCESS)
        return ZPA_FAIL;
    return has_row ? write_row(second, "DUZ-HASOPUNIT", answer) : ZPA_SUCCESS;
}

/* One program's block "DUZ-P<number>". */
ZPARC program_block(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* second, ZPAAttrList* Attributes,
                    BE_DUZ_Programs_Input* program, int number, bool profiles, Answer& answer, ZPAError* Error) {
    OwnedAttributes attributes;
    if (BE_DUZ_create_attributes_for_program(Attributes, &attributes.list, program) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to create the attributes of program %s", program->progName);
        return ZPA_FAIL;
    }
    const std::string tag = be_list::row_element(kProgramTag, number);
    if (answer.open(tag.c_str()) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_StartParentElement %s failed.", kProgramTag);
        return ZPA_FAIL;
    }
    if (BE_DUZ_insert_program_data_to_response(answer, program) != ZPA_SUCCESS) return ZPA_FAIL;
    ZPARC rc = BE_DUZ_get_program_parameters(session, second, &attributes.list, answer, Error);
    if (rc == ZPA_SUCCESS) rc = BE_DUZ_get_program_default_layout(session, second, &attributes.list, answer, Error);
    if (rc == ZPA_SUCCESS && profiles)
        rc = BE_DUZ_get_reqSetparmprofiles_list(session, &attributes.list, program->appName, answer, Error);
    if (rc == ZPA_SUCCESS)
        rc = BE_DUZ_check_if_operating_unit_exist_reqSet(session, second, &attributes.list, answer, Error);
    if (rc != ZPA_SUCCESS) return rc;
    if (answer.close(tag.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    return answer.grow_when_half_full();
}

ZPARC reqset_programs_data(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle, ZPAAttrList* ConnectionAttributes,
                           ZPAAttrList* Attributes, ZPAError* Error) {
    Answer answer(Error);
    if (answer.begin(handle->header) != ZPA_SUCCESS) return ZPA_FAIL;
    const bool profiles = !hidden_profiles_disabled(ConnectionAttributes);

    be_list::drop_query(handle);
    ZPARC rc = BE_DUZ_get_setprog_list(session, handle, Attributes, Error);
    if (rc != ZPA_SUCCESS) {
        step_failed(Error, "BE_DUZ_get_setprog_list failed.");
        return rc;
    }
    if (answer.open("DUZ-SETPROG") != ZPA_SUCCESS) return ZPA_FAIL;
    ProgramList programs;
    if ((rc = BE_DUZ_create_programs_data_list(session, handle, &programs.list, Error)) != ZPA_SUCCESS) return rc;

    be_list::OwnedHandle second(be_list::new_handle());
    if (!second) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to allocate memory for xmldata_handle");
        return ZPA_FAIL;
    }
    ZPALIST_reset(&programs.list);
    void* element = nullptr;
    unsigned int size = 0;
    for (int number = 1; ZPALIST_next_ptr(&programs.list, &element, &size) == CM_RC_OK; ++number) {
        auto* program = static_cast<BE_DUZ_Programs_Input*>(element);
        if ((rc = program_block(session, second.get(), Attributes, program, number, profiles, answer, Error)) !=
            ZPA_SUCCESS)
            return rc;
    }
    if (answer.close("DUZ-SETPROG") != ZPA_SUCCESS || answer.finish() != ZPA_SUCCESS) return ZPA_FAIL;
    return be_list::hand_over(handle, answer, Error);
}

/* Runs a list function with its trace line; no exception leaves it. */
template <typename Body>
ZPARC guarded(const char* name, BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle, ZPAError* Error, Body body) {
    BE_TRACE(4, "Starting: '%s'", name);
    if (session == nullptr || handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing session or list handle", name);
        return ZPA_FAIL;
    }
    try {
        return body();
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", name);
        return ZPA_FAIL;
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_program_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                   ZPAAttrList* ConnectionAttributes, ZPAAttrList* Attributes, ZPAError* Error) {
    return guarded("BE_DUZ_get_program_data_list", DUZ_handle, xmldata_handle, Error,
                   [&] { return program_data(DUZ_handle, xmldata_handle, ConnectionAttributes, Attributes, Error); });
}

ZPARC BE_DUZ_get_reqset_programs_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                           ZPAAttrList* ConnectionAttributes, ZPAAttrList* Attributes,
                                           ZPAError* Error) {
    return guarded("BE_DUZ_get_reqset_programs_data_list", DUZ_handle, xmldata_handle, Error, [&] {
        return reqset_programs_data(DUZ_handle, xmldata_handle, ConnectionAttributes, Attributes, Error);
    });
}

ZPARC BE_DUZ_create_programs_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                       ZPALIST_handle_typ* ProgramsDataList, ZPAError* Error) {
    (void)DUZ_handle;
    if (xmldata_handle == nullptr || ProgramsDataList == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing list handle or program list", "BE_DUZ_create_programs_data_list");
        return ZPA_FAIL;
    }
    const auto fail = [&] {
        ZPALIST_clear(ProgramsDataList);
        return ZPA_FAIL;
    };
    for (;;) {
        const be_sql::Fetch got = be_list::fetch_row(xmldata_handle, Error);
        if (got == be_sql::Fetch::End) return ZPA_SUCCESS;
        if (got == be_sql::Fetch::Error) return fail();
        BE_DUZ_Programs_Input program{};
        char* fields[] = {program.progName, program.progDesp,  program.appName, program.appDesp,
                          program.progSeq,  program.stageName, program.stageSeq};
        for (int i = 0; i < 7; ++i) {
            const char* value = xmldata_handle->row_data[i];
            const std::size_t length = strnlen(value, BE_DUZ_XML_ROW_DATA_SIZE);
            if (length >= BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Request set program field %s of %zu characters is longer than %d",
                                      xmldata_handle->field_tag[i], length, BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE - 1);
                return fail();
            }
            std::memcpy(fields[i], value, length);
            fields[i][length] = '\0';
        }
        if (ZPALIST_append(ProgramsDataList, &program, sizeof program) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append program data to programs data list");
            return fail();
        }
    }
}

ZPARC BE_DUZ_create_attributes_for_program(ZPAAttrList* Attributes, ZPAAttrList* ProgAttributes,
                                           BE_DUZ_Programs_Input* currentProgData) {
    if (ProgAttributes == nullptr || currentProgData == nullptr) return ZPA_FAIL;
    const std::pair<const char*, const char*> values[] = {{"DUZ-SETPROG_PROGNAME", currentProgData->progName},
                                                          {"DUZ-SETPROG_APPNAME", currentProgData->appName},
                                                          {"DUZ-SETPROG_PROGSEQ", currentProgData->progSeq},
                                                          {"DUZ-SETPROG_STAGENAME", currentProgData->stageName},
                                                          {"DUZ-PROGNAME", currentProgData->progName}};
    bool ok = true;
    for (const auto& [name, value] : values)
        ok = ok && be_discovery::append_value(ProgAttributes, nullptr, name, value) == ZPA_SUCCESS;
    ok = ok && (Attributes == nullptr || Attributes->Count == 0 ||
                be_discovery::append_list(ProgAttributes, nullptr, Attributes) == ZPA_SUCCESS);
    if (!ok && ProgAttributes->Attributes != nullptr) {
        ZPAAPI_utils_release_attr(ProgAttributes);
        *ProgAttributes = ZPAAttrList{0, nullptr, 0};
    }
    return ok ? ZPA_SUCCESS : ZPA_FAIL;
}

CM_EXTERN_C_END
