/* A request set's submission: the job's per-program attributes gathered into one section per
 * program, the set's programs and stages read from the FND tables, each program's arguments, the
 * set opened with FND_SUBMIT.set_request_set, every program added with its options through
 * FND_SUBMIT.submit_program, and the whole submitted with FND_SUBMIT.submit_set. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using be_job::attr;
using be_job::cut;
using be_job::name_of;
using be_job::non_empty;

constexpr const char* kProgramsSql =
    "SELECT AP.application_short_name, AP.application_id, CP.concurrent_program_name, "
    "RSP.request_set_program_id, RSP.sequence, RSS.stage_name, RSS.display_sequence FROM fnd_request_sets RS, "
    "fnd_request_set_stages RSS, fnd_concurrent_programs CP, fnd_request_set_programs RSP, fnd_application AP "
    "WHERE RS.request_set_id = :setid AND RS.application_id = :appid AND RSS.set_application_id = "
    "RS.application_id AND RSS.request_set_id = RS.request_set_id AND RSP.set_application_id = "
    "RSS.set_application_id AND RSP.request_set_id = RSS.request_set_id AND RSP.request_set_stage_id = "
    "RSS.request_set_stage_id AND RSP.program_application_id = CP.application_id AND RSP.concurrent_program_id "
    "= CP.concurrent_program_id AND AP.application_id = CP.application_id ORDER BY RSS.display_sequence, "
    "RSP.sequence";
constexpr const char* kSetRequestSetSql =
    "BEGIN IF (FND_SUBMIT.set_request_set(:appname, :setname)) THEN :rc_code := 0; ELSE :errbuf := "
    "substr(fnd_message.get, 1, 240); :rc_code := 1; END IF; END;";
constexpr const char* kSubmitSetSql =
    "DECLARE req_id NUMBER := 0; BEGIN req_id := FND_SUBMIT.submit_set(:start_t, FALSE); :start_t := "
    "TO_CHAR(req_id); commit; END;";

/* The block that adds one program with all hundred argument placeholders. */
std::string submit_program_sql() {
    return "DECLARE pflag BOOLEAN := FALSE; BEGIN pflag := FND_SUBMIT.submit_program(:appname, :progname, :stagename" +
           be_job::argument_placeholders() + "); IF (pflag) THEN :rc_code := 0; ELSE :rc_code := 1; END IF; END;";
}

/* Lengths at which names are cut and the rooms they are bound in. */
constexpr std::size_t kAppNameMax = 50;
constexpr std::size_t kSetNameMax = 30;
constexpr int kAppNameRoom = 52;
constexpr int kNameRoom = 32;
constexpr int kErrorBufferRoom = 4000;
constexpr int kStartRoom = 11;
/* Highest attribute index of a described program, and the parameters a program has. */
constexpr int kProgramIndexMax = 998;
constexpr int kNotifyMax = 999;

/* One program of the set, in the query's order, with its parameter records. */
struct SetProgram {
    char set_appname[51] = "";
    int set_appid = 0;
    char set_progname[31] = "";
    int set_progid = 0;
    int set_progseq = 0;
    char set_stagename[31] = "";
    int set_stageseq = 0;
    std::unique_ptr<be_job::ParmRecords> records;
};

/* The job's program sections, one per described program, freed with the object. */
class Sections {
public:
    Sections() { ZPALIST_init(&list_); }
    ~Sections() { BE_DUZ_subtable_list_clear(&list_); }
    Sections(const Sections&) = delete;
    Sections& operator=(const Sections&) = delete;

    void build(ZPAAttrList* AttributesIn) {
        for (int p = 1; p <= kProgramIndexMax; ++p) {
            const char* program = attr(AttributesIn, name_of("DUZ-SETPROG-P%.3d-PROGSEQ", p).c_str());
            if (program == nullptr) program = attr(AttributesIn, name_of("DUZ-SETPROG-P%.3d-PROGNAME", p).c_str());
            const char* stage = attr(AttributesIn, name_of("DUZ-SETPROG-P%.3d-STAGENAME", p).c_str());
            if (stage == nullptr) stage = attr(AttributesIn, name_of("DUZ-SETPROG-P%.3d-STAGESEQ", p).c_str());
            if (program == nullptr || stage == nullptr) continue;
            const std::string section = std::string(stage) + "-" + program;
            auto take = [&](const std::string& key, const char* first, const char* second = nullptr) {
                const char* value = attr(AttributesIn, first);
                if (value == nullptr && second != nullptr) value = attr(AttributesIn, second);
                if (value != nullptr) GM_PARAM_subtable_list_set(&list_, section.c_str(), key.c_str(), value);
            };
            for (int q = 1; q <= BE_DUZ_MAX_REPORT_PARMS; ++q) {
                take("PARM" + std::to_string(q), name_of("DUZ-SETPROG-P%.3d-PARMS-P%.3d-VALUE", p, q).c_str());
                take("PARMMEANING" + std::to_string(q), name_of("DUZ-SETPROG-P%.3d-PARMS-P%.3d-MEANING", p, q).c_str());
            }
            take("PRINTERNAME", name_of("DUZ-SETPROG-P%.3d-PRINTERNAME", p).c_str(), "DUZ-PRINTERNAME");
            take("PRINTCOPIES", name_of("DUZ-SETPROG-P%.3d-PRINTCOPIES", p).c_str(), "DUZ-PRINTCOPIES");
            take("PRINTSTYLE", name_of("DUZ-SETPROG-P%.3d-PRINTSTYLE", p).c_str(), "DUZ-PRINTSTYLE");
            take("LANGUAGE", name_of("DUZ-SETPROG-P%.3d-LANGUAGE", p).c_str(), "NLS_LANG");
            for (int n = 1; n <= kNotifyMax; ++n) {
                const std::string own = name_of("DUZ-SETPROG-P%.3d-NOTIFY-N%.3d-NAME", p, n);
                const std::string shared = name_of("DUZ-NOTIFICATIONS-N%.3d-NAME", n);
                if (attr(AttributesIn, own.c_str()) == nullptr && attr(AttributesIn, shared.c_str()) == nullptr) break;
                take(name_of("N%.3d-NAME", n), own.c_str(), shared.c_str());
            }
        }
    }

    /* The program's section: by stage name and program sequence, else by stage sequence and
     * program name; null when the job describes it neither way. */
    ZPALIST_handle_typ* of(const SetProgram& program) {
        ZPALIST_handle_typ* rows = nullptr;
        const std::string by_name = std::string(program.set_stagename) + "-" + std::to_string(program.set_progseq);
        if (GM_PARAM_subtable_list_find(&list_, by_name.c_str(), &rows) == CM_RC_OK) return rows;
        const std::string by_sequence = std::to_string(program.set_stageseq) + "-" + program.set_progname;
        if (GM_PARAM_subtable_list_find(&list_, by_sequence.c_str(), &rows) == CM_RC_OK) return rows;
        return nullptr;
    }

private:
    ZPALIST_handle_typ list_;
};

ZPARC logged(ZPARC rc, const char* what, ZPAError* Error) {
    BE_TRACE(2, "%s %s", what, Error != nullptr ? Error->text : "");
    return rc;
}

/* The set's programs in stage and sequence order; a set without programs fails like the query. */
ZPARC read_programs(BE_DUZ_Handles* session, int set_id, int app_id, std::vector<SetProgram>& programs,
                    ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    SetProgram row;
    ZPARC rc = stmt.prepare(kProgramsSql);
    if (rc == 0) rc = stmt.bind_int(":setid", &set_id);
    if (rc == 0) rc = stmt.bind_int(":appid", &app_id);
    if (rc == 0) rc = stmt.define_text(1, row.set_appname, sizeof row.set_appname);
    if (rc == 0) rc = stmt.define_int(2, &row.set_appid);
    if (rc == 0) rc = stmt.define_text(3, row.set_progname, sizeof row.set_progname);
    if (rc == 0) rc = stmt.define_int(4, &row.set_progid);
    if (rc == 0) rc = stmt.define_int(5, &row.set_progseq);
    if (rc == 0) rc = stmt.define_text(6, row.set_stagename, sizeof row.set_stagename);
    if (rc == 0) rc = stmt.define_int(7, &row.set_stageseq);
    if (rc == 0) rc = stmt.execute_no_fetch();
    if (rc != 0) return logged(rc, "Fail to execute BE_DUZ_GET_SET_PROGS_SQL.", Error);
    for (;;) {
        const be_sql::Fetch fetched = stmt.fetch();
        if (fetched == be_sql::Fetch::End) break;
        if (fetched == be_sql::Fetch::Error) return logged(1, "Fail to fetch BE_DUZ_GET_SET_PROGS_SQL.", Error);
        SetProgram& program = programs.emplace_back();
        std::memcpy(program.set_appname, row.set_appname, sizeof row.set_appname);
        program.set_appid = row.set_appid;
        std::memcpy(program.set_progname, row.set_progname, sizeof row.set_progname);
        program.set_progid = row.set_progid;
        program.set_progseq = row.set_progseq;
        std::memcpy(program.set_stagename, row.set_stagename, sizeof row.set_stagename);
        program.set_stageseq = row.set_stageseq;
        program.records = std::make_unique<be_job::ParmRecords>();
    }
    if (programs.empty()) {
        BE_DUZ_UpdateErrorSet(Error, OCI_NO_DATA, "Error - OCI_NODATA\n");
        return logged(1, "The request set has no programs.", Error);
    }
    return 0;
}

/* The operating unit of set program k: its own attribute, else the numbered one, else none. */
void set_operating_unit(BE_DUZ_Handles* session, SetProgram& program, int k, ZPAAttrList* ConnectionAttributes,
                        ZPAAttrList* AttributesIn, ZPAError* Error) {
    char* unit = attr(AttributesIn, name_of("DUZ-SETPROG-P%.3d-%s", k, "OPERATING_UNIT").c_str());
    if (unit == nullptr) unit = attr(AttributesIn, name_of("%s-P%.3d-NAME", "OPERATING_UNIT", k).c_str());
    if (BE_DUZ_set_Operating_Unit(program.set_progname, unit, const_cast<char*>(BE_DUZ_REQUEST_SET_TYPE), session,
                                  ConnectionAttributes, Error) != 0)
        logged(1, "Fail to set operating unit.", Error);
}

ZPARC add_program(BE_DUZ_Handles* session, SetProgram& program, ZPAAttrList* AttributesIn, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    int rc_code = 0;
    const std::string sql = submit_program_sql();
    ZPARC rc = stmt.prepare(sql.c_str());
    if (rc != 0) return logged(rc, "Fail to prepare BE_DUZ_SUB_PROG_SQL.", Error);
    if ((rc = be_job::bind_arguments(stmt, program.records->get(), program.records->last, AttributesIn)) != 0)
        return rc;
    if ((rc = stmt.bind_text_copy(":appname", program.set_appname, kAppNameRoom)) != 0 ||
        (rc = stmt.bind_text_copy(":progname", program.set_progname, kNameRoom)) != 0 ||
        (rc = stmt.bind_text_copy(":stagename", program.set_stagename, kNameRoom)) != 0 ||
        (rc = stmt.bind_int(":rc_code", &rc_code)) != 0)
        return logged(rc, "Fail to bind BE_DUZ_SUB_PROG_SQL.", Error);
    if ((rc = stmt.execute()) != 0) return logged(rc, "Fail to execute BE_DUZ_SUB_PROG_SQL", Error);
    if (rc_code != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to submit program '%s'", program.set_progname);
        return 1;
    }
    return 0;
}

ZPARC submit_request_set(int user_id, int resp_id, int resp_app_id, int group_id, const char* app_name,
                         const char* set_name, int app_id, int set_id, BE_DUZ_Handles* session,
                         ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                         ZPAError* Error) {
    const std::string application = cut(app_name, kAppNameMax);
    const std::string set = cut(set_name, kSetNameMax);
    ZPARC rc = BE_DUZ_init_profile(user_id, resp_id, resp_app_id, group_id, session, AttributesIn, Error);
    if (rc != 0) return logged(rc, "Fail to initialize profile.", Error);
    BE_DUZ_set_profiles(session, AttributesIn, Error);

    Sections sections;
    sections.build(AttributesIn);
    std::vector<SetProgram> programs;
    if ((rc = read_programs(session, set_id, app_id, programs, Error)) != 0) return rc;

    const char* no_override = attr(ConnectionAttributes, "NO_OU_OVER_DFLT");
    const bool override_default = no_override == nullptr || std::strcmp(no_override, "N") == 0;
    const bool keep_default = no_override != nullptr && std::strcmp(no_override, "Y") == 0;
    be_param_list shared; /* the set's shared parameters */
    for (std::size_t i = 0; i < programs.size(); ++i) {
        SetProgram& program = programs[i];
        const int k = static_cast<int>(i) + 1;
        ZPALIST_handle_typ* section = sections.of(program);
        if (override_default) set_operating_unit(session, program, k, ConnectionAttributes, AttributesIn, Error);
        rc = BE_DUZ_request_set_default_parms(session, program.set_stageseq, set_id, program.set_appid,
                                              program.set_progname, program.set_progid, program.records->get(),
                                              &program.records->last, &shared.list, section, k - 1,
                                              ConnectionAttributes, AttributesIn, Error);
        if (rc != 0) return logged(rc, "Failed to processing parameters.", Error);
        set_operating_unit(session, program, k, ConnectionAttributes, AttributesIn, Error);
    }

    char error_buffer[kErrorBufferRoom] = "";
    be_job::Block open(session, Error);
    open.text(":appname", application, kAppNameRoom)
        .text(":setname", set, kNameRoom)
        .rc_code()
        .text_out(":errbuf", error_buffer, sizeof error_buffer);
    if ((rc = open.run(kSetRequestSetSql)) != 0) {
        DIAG_printf("Fail to execute BE_DUZ_SET_SETS_SQL");
        DIAG_printf("Error: %s", error_buffer);
        return rc;
    }
    if (open.code() != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to set request_set '%s'", set.c_str());
        DIAG_printf("Error: %s", error_buffer);
        return 1;
    }
    if ((rc = be_job::check_first_run_date(AttributesIn, Error)) != 0) return rc;

    for (std::size_t i = 0; i < programs.size(); ++i) {
        SetProgram& program = programs[i];
        const int k = static_cast<int>(i) + 1;
        ZPALIST_handle_typ* section = sections.of(program);
        if (keep_default) set_operating_unit(session, program, k, ConnectionAttributes, AttributesIn, Error);
        BE_DUZ_add_layouts(session, AttributesIn, Error, program.set_appname, k);
        be_job::set_request_options(session, BE_DUZ_REQUEST_SET_TYPE, AttributesIn, section, k, Error);
        if ((rc = add_program(session, program, AttributesIn, Error)) != 0) return rc;
    }

    char start[kStartRoom] = "";
    be_job::Block submit(session, Error);
    submit.text_out(":start_t", start, sizeof start);
    if ((rc = submit.run(kSubmitSetSql)) != 0) return logged(rc, "Fail to execute BE_DUZ_SUBMIT_SET_SQL.", Error);
    if (std::atoi(start) <= 0) {
        BE_TRACE(2, "Request_id '%s' is not a valid value. %s", start, Error != nullptr ? Error->text : "");
        BE_DUZ_UpdateErrorSet(Error, 1, "Failure: Request_id is not a valid value");
        return 1;
    }
    BE_TRACE(3, "Request Submission Success, ID=%s", start);
    return ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("PROCID"), start);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_Submit_request_set(int user_id, int resp_id, int resp_app_id, int group_id, char* app_name, char* set_name,
                                int app_id, int set_id, char* description, int sub_request, BE_DUZ_Handles* JOB_handle,
                                ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                                ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)description;
    (void)sub_request;
    try {
        return submit_request_set(user_id, resp_id, resp_app_id, group_id, app_name, set_name, app_id, set_id,
                                  JOB_handle, ConnectionAttributes, AttributesIn, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_Submit_request_set");
        return 1;
    }
}

CM_EXTERN_C_END
