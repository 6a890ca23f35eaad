/* The value-set list of the job-definition form ("GetValueSet"): the allowed values (value and
 * meaning) of one displayed parameter of a program, or of a program inside a request set, whose
 * value set is table-validated. The list sets up the user's context as a submission would, takes
 * the values chosen so far, works out the defaults of the parameters before the asked one and
 * leaves the value query open for READ. Owns the reader of the chosen values ("DUZ-PARMSTR"). */
#include "be_job_internal.h"
#include "be_list_data_internal.h"
#include "be_list_internal.h"
#include "be_list_profile_internal.h"
#include "be_parm_internal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kInvalidValue = "Value %s is invalid for key %s";

/* The programs of a request set with their request-set program ids, in the order of the set. */
constexpr const char* kSetProgramsSql =
    "SELECT AP.application_short_name, AP.application_id, CP.concurrent_program_name, "
    "RSP.request_set_program_id, RSP.sequence, RSS.stage_name, RSS.display_sequence "
    "FROM fnd_request_sets RS, fnd_request_set_stages RSS, fnd_concurrent_programs CP, "
    "fnd_request_set_programs RSP, fnd_application AP "
    "WHERE RS.request_set_id = :setid AND RS.application_id = :appid "
    "AND RSS.set_application_id = RS.application_id AND RSS.request_set_id = RS.request_set_id "
    "AND RSP.set_application_id = RSS.set_application_id AND RSP.request_set_id = RSS.request_set_id "
    "AND RSP.request_set_stage_id = RSS.request_set_stage_id "
    "AND CP.application_id = RSP.program_application_id AND CP.concurrent_program_id = RSP.concurrent_program_id "
    "AND AP.application_id = CP.application_id "
    "ORDER BY RSS.display_sequence, RSP.sequence";

/* Room of the texts of one row of the set's programs. */
constexpr int kSetProgramTextSize = 241;

/* The inputs of the list, read in the order the form is asked for them. */
struct Inputs {
    std::string user;
    std::string resp;
    std::string resp_app;
    std::string group;
    std::string prog;
    bool request_set = false;
    std::string set;
    std::string app;
    long asked = 0;  // 1-based among the displayed parameters
    const char* chosen = nullptr;
    std::string filter;
    const char* profile_text = nullptr;
};

/* A decimal whole number and nothing else (blanks around it allowed). */
bool read_number(const char* text, long& number) {
    if (text == nullptr) return false;
    errno = 0;
    char* end = nullptr;
    number = std::strtol(text, &end, 10);
    if (end == text || errno != 0) return false;
    while (*end == ' ') ++end;
    return *end == '\0';
}

ZPARC read_inputs(ZPAAttrList* request, Inputs& in, ZPAError* Error) {
    struct Mandatory {
        const char* name;
        std::string* value;
    };
    for (const Mandatory& m : {Mandatory{"DUZ-USERNAME", &in.user}, Mandatory{"DUZ-RESPNAME", &in.resp},
                               Mandatory{"DUZ-RESPAPP", &in.resp_app}, Mandatory{"DUZ-SECURITY_GROUPNAME", &in.group},
                               Mandatory{"DUZ-PROGNAME", &in.prog}}) {
        const char* value = be_list::mandatory_value(request, m.name, Error);
        if (value == nullptr) return ZPA_FAIL;
        *m.value = value;
    }
    const char* task_type = be_list::request_value(request, "DUZ-TASKTYPE");
    in.request_set = task_type != nullptr && std::strcmp(task_type, "REQUEST_SET") == 0;
    if (in.request_set) {
        const char* set = be_list::request_value(request, "DUZ-SETNAME");
        if (set == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "(BE_DUZ_ATTR_REQSETNAME) keyword %s not found", "DUZ-SETNAME");
            return ZPA_FAIL;
        }
        in.set = set;
    }
    const char* app = be_list::mandatory_value(request, "DUZ-APPNAME", Error);
    if (app == nullptr) return ZPA_FAIL;
    in.app = app;
    const char* asked = be_list::mandatory_value(request, "DUZ-PARMINX", Error);
    if (asked == nullptr) return ZPA_FAIL;
    if (!read_number(asked, in.asked) || in.asked < 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, kInvalidValue, asked, "DUZ-PARMINX");
        return ZPA_FAIL;
    }
    in.chosen = be_list::request_value(request, "DUZ-PARMSTR");
    if (in.asked >= 2 && in.chosen == nullptr) {
        be_list::mandatory_value(request, "DUZ-PARMSTR", Error);
        return ZPA_FAIL;
    }
    const char* filter = be_list::mandatory_value(request, "DUZ-PARMVAL", Error);
    if (filter == nullptr) return ZPA_FAIL;
    in.filter = filter;
    in.profile_text = be_list::request_value(request, "DUZ-PROFILETEXT");
    return ZPA_SUCCESS;
}

/* The user's context as a submission sets it: the ids of user, responsibility and security group,
 * the applications initialisation, then the profile options the form passed. */
ZPARC set_context(BE_DUZ_Handles* session, ZPAAttrList* request, Inputs& in, ZPAError* Error) {
    int user_id = -1;
    int resp_id = -1;
    int resp_app_id = -1;
    int group_id = -1;
    ZPARC rc = BE_DUZ_validate_user(session, in.user.data(), in.resp.data(), in.resp_app.data(), in.group.data(),
                                    &user_id, &resp_id, &resp_app_id, &group_id, Error);
    if (rc != 0) return rc;
    if ((rc = BE_DUZ_init_profile(user_id, resp_id, resp_app_id, group_id, session, request, Error)) != 0) {
        BE_TRACE(2, "Fail to initialize profile.");
        return rc;
    }
    if (in.profile_text != nullptr && *in.profile_text != '\0')
        be_list::apply_profile_text(session, in.profile_text, be_list::EmptyValues::Apply);
    return ZPA_SUCCESS;
}

/* The request-set program id of the set's program named in.prog. A program the set does not hold
 * is refused: another program's values would answer for it. */
ZPARC find_set_program(BE_DUZ_Handles* session, int set_id, int app_id, const Inputs& in, int& set_program_id,
                       ZPAError* Error) {
    char app_short_name[kSetProgramTextSize] = "";
    int program_app_id = 0;
    char program_name[kSetProgramTextSize] = "";
    int program_id = 0;
    int sequence = 0;
    char stage_name[kSetProgramTextSize] = "";
    int stage_sequence = 0;
    int bound_set_id = set_id;
    int bound_app_id = app_id;

    be_sql::Statement stmt(session, Error);
    ZPARC rc = stmt.prepare(kSetProgramsSql);
    if (rc != 0) return be_parm_logged(rc, "Fail to prepare BE_DUZ_RETRIV_PROG_SQL.", Error);
    if ((rc = stmt.bind_int(":setid", &bound_set_id)) != 0) return be_parm_logged(rc, "Fail to bind set_id.", Error);
    if ((rc = stmt.bind_int(":appid", &bound_app_id)) != 0) return be_parm_logged(rc, "Fail to bind app_id.", Error);
    if ((rc = stmt.define_text(1, app_short_name, sizeof app_short_name)) != 0 ||
        (rc = stmt.define_int(2, &program_app_id)) != 0 ||
        (rc = stmt.define_text(3, program_name, sizeof program_name)) != 0 ||
        (rc = stmt.define_int(4, &program_id)) != 0 || (rc = stmt.define_int(5, &sequence)) != 0 ||
        (rc = stmt.define_text(6, stage_name, sizeof stage_name)) != 0 ||
        (rc = stmt.define_int(7, &stage_sequence)) != 0)
        return be_parm_logged(rc, "Fail to define BE_DUZ_RETRIV_PROG_SQL.", Error);
    /* The first row comes with the execution; a set without programs fails here (no data). */
    if ((rc = stmt.execute()) != 0) return be_parm_logged(rc, "Fail to execute BE_DUZ_RETRIV_PROG_SQL", Error);
    for (;;) {
        if (in.prog == program_name) {
            set_program_id = program_id;
            BE_TRACE(4, "Program %s of request set %s: stage %s, sequence %d, request set program id %d", program_name,
                     in.set.c_str(), stage_name, sequence, program_id);
            return ZPA_SUCCESS;
        }
        const be_sql::Fetch got = stmt.fetch();
        if (got == be_sql::Fetch::Error)
            return be_parm_logged(ZPA_FAIL, "Fail to execute BE_DUZ_RETRIV_PROG_SQL", Error);
        if (got == be_sql::Fetch::End) break;
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Program %s not found in request set %s", in.prog.c_str(), in.set.c_str());
    return ZPA_FAIL;
}

/* Reads the parameter definitions of the asked program into records; last gets the last index. */
ZPARC read_definitions(BE_DUZ_Handles* session, Inputs& in, be_job::ParmRecords& records, ZPAError* Error) {
    if (!in.request_set)
        return BE_DUZ_retrieve_default_parms(session, BE_DUZ_RETRIEVE_PARM_BY_APP_NAME_SQL, -1, -1, in.app.c_str(),
                                             in.prog.c_str(), -1, records.get(), &records.last, Error);
    int app_id = -1;
    int set_id = -1;
    ZPARC rc = BE_DUZ_validate_set_name(session, in.set.data(), in.app.data(), &app_id, &set_id, Error);
    if (rc != 0) return rc;
    int set_program_id = -1;
    if ((rc = find_set_program(session, set_id, app_id, in, set_program_id, Error)) != 0) return rc;
    rc = BE_DUZ_SET_retrieve_default_parms(session, BE_DUZ_RETRIEVE_SET_PARM_SQL, set_id, app_id, in.prog.c_str(),
                                           set_program_id, records.get(), &records.last, Error);
    if (rc != 0) BE_TRACE(2, "Fail to execute BE_DUZ_SET_retrieve_default_parms");
    return rc;
}

/* Works out the parameters before the asked one (index asked) the way a submission does: a default
 * for a parameter without a chosen value, then the check of a table-validated value, which keeps
 * the chosen row for the value sets that refer to it. What fails here only leaves a value unset. */
void prepare_earlier_parameters(BE_DUZ_Handles* session, be_job::ParmRecords& records, int asked) {
    BE_DUZ_report_parm** recs = records.get();
    for (int i = 0; i < asked; ++i) {
        BE_DUZ_report_parm* p = recs[i];
        ZPAError ignored{};
        if (p->value[0] == '\0' && (p->parm_type[0] != '\0' || p->dft_value[0] != '\0')) {
            BE_DUZ_convert_default_value(session, p, recs, records.last, i, &ignored);
            BE_DUZ_format_default_value(session, p, recs, records.last, i, &ignored);
        }
        if (p->value_set_type[0] == 'F' && BE_DUZ_retrieve_valuset_fields(session, &p->list, p, recs, records.last, i,
                                                                          0, p->value, nullptr, &ignored) != 0)
            BE_TRACE(2, "Parameter %s: value '%s' not found in value set %s", p->parm_name, p->value,
                     p->value_set_name);
    }
}

ZPARC valueset_list(BE_DUZ_Handles* session, BE_DUZ_xmldata_handle* handle, ZPAAttrList* request, ZPAError* Error) {
    Inputs in;
    ZPARC rc = read_inputs(request, in, Error);
    if (rc != 0) return rc;
    be_list::set_shape(handle, {"DUZ-VALSET"}, {"DUZ-VALUE", "DUZ-MEANING"});
    be_list::drop_query(handle);
    if ((rc = set_context(session, request, in, Error)) != 0) return rc;

    be_job::ParmRecords records;
    if ((rc = read_definitions(session, in, records, Error)) != 0) return rc;
    BE_DUZ_report_parm** recs = records.get();

    /* The displayed parameters, by their index among all. */
    std::vector<int> shown;
    for (int i = 0; i <= records.last; ++i)
        if (std::strcmp(recs[i]->displayed, "Y") == 0) shown.push_back(i);
    if (in.asked > static_cast<long>(shown.size())) {
        const std::string asked = std::to_string(in.asked);
        BE_DUZ_UpdateErrorSet(Error, 1, kInvalidValue, asked.c_str(), "DUZ-PARMINX");
        return ZPA_FAIL;
    }
    const int asked = shown[static_cast<std::size_t>(in.asked - 1)];
    BE_DUZ_report_parm* parm = recs[asked];
    if (parm->value_set_type[0] != 'F') {
        BE_TRACE(4, "Parameter %s has no table value set (type '%s'): no values", parm->parm_name,
                 parm->value_set_type);
        return ZPA_SUCCESS;
    }

    std::vector<std::string> chosen;
    std::string bad_item;
    if (!be_list::parse_chosen_values(in.chosen != nullptr ? in.chosen : "", shown.size(), sizeof parm->value - 1,
                                      chosen, bad_item)) {
        BE_DUZ_UpdateErrorSet(Error, 1, kInvalidValue, bad_item.c_str(), "DUZ-PARMSTR");
        return ZPA_FAIL;
    }
    for (int i = 0; i <= records.last; ++i) recs[i]->value[0] = '\0';
    for (std::size_t d = 0; d < shown.size(); ++d)
        std::snprintf(recs[shown[d]]->value, sizeof recs[shown[d]]->value, "%s", chosen[d].c_str());

    prepare_earlier_parameters(session, records, asked);

    if ((rc = BE_DUZ_retrieve_valuset_values(session, &parm->list, parm, recs, handle, records.last, asked, 1,
                                             in.filter.data(), Error)) != 0)
        return rc;
    be_list::mark_query(handle, session);
    be_sql::Statement query(session, Error);
    if ((rc = query.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != 0) {
        be_list::drop_query(handle);
        return rc;
    }
    return ZPA_SUCCESS;
}

}  // namespace

namespace be_list {

bool parse_chosen_values(std::string_view text, std::size_t count, std::size_t max_length,
                         std::vector<std::string>& values, std::string& bad_item) {
    values.assign(count, std::string());
    std::size_t current = 0;  // 1-based: the parameter the last numbered item named
    while (!text.empty()) {
        const std::size_t bar = text.find('|');
        const std::string_view item = text.substr(0, bar);
        text = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 1);
        if (item.empty()) continue;
        bad_item = std::string(item);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            if (current == 0) return false;
            std::string& value = values[current - 1];
            value.append(";").append(item);
            if (value.size() > max_length) return false;
            continue;
        }
        const std::string_view number = item.substr(0, equals);
        std::size_t n = 0;
        if (number.empty() || number.size() > 9) return false;
        for (const char c : number) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + static_cast<std::size_t>(c - '0');
        }
        if (n < 1 || n > count) return false;
        const std::string_view value = item.substr(equals + 1);
        if (value.size() > max_length) return false;
        values[n - 1] = std::string(value);
        current = n;
    }
    bad_item.clear();
    return true;
}

}  // namespace be_list

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_valsetv_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                              ZPAAttrList* xml_attrList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_valsetv_list");
    if (DUZ_handle == nullptr || xmldata_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing session or list handle", "BE_DUZ_get_valsetv_list");
        return ZPA_FAIL;
    }
    try {
        return valueset_list(DUZ_handle, xmldata_handle, xml_attrList, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_get_valsetv_list");
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
