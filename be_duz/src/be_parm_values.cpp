/* The road of one parameter's value that single requests and request-set programs share: job
 * attributes and options, values passed as given when validation is off, hidden parameters in
 * the job's numbering, the job's value (a default request, an SQL statement or a text; a stored
 * argument of a discovered request only ever a text), and the value-set check with its fallback
 * before the report value. */
#include "be_parm_internal.h"

#include <algorithm>
#include <cstring>

namespace be_parm {

namespace {

constexpr std::size_t kValueMax = BE_DUZ_PARM_VALUE_SIZE - 1;

void set_text(char* field, std::size_t room, const std::string& text) {
    be_parm_copy(field, text.substr(0, std::min(text.size(), kValueMax)).c_str(), room);
}

/* Checks record i's value against its table value set. The E-Business Suite keeps a value set's
 * ID where it has an ID column, so a stored value is looked up there and only there (in the VALUE
 * column when the set has no ID column): a stored ID that no row holds any more must not turn
 * into the ID of another row whose VALUE happens to read like it. A written value is looked up in
 * the VALUE column (with the meaning the job gave). 0 when a row holds it. */
ZPARC check_in_value_set(BE_DUZ_Handles* session, BE_DUZ_report_parm** recs, int last, int i, const char* meaning,
                         Values source, ZPAError* Error) {
    BE_DUZ_report_parm* p = recs[i];
    std::string checked_meaning = meaning != nullptr ? meaning : "";
    char* given_meaning = meaning != nullptr ? checked_meaning.data() : nullptr;
    const int check_id = source == Values::Stored ? 1 : 0;
    return BE_DUZ_retrieve_valuset_fields(session, &p->list, p, recs, last, i, check_id, p->value, given_meaning,
                                          Error);
}

}  // namespace

bool option_is_yes(ZPAAttrList* list, const char* name) {
    const char* value = attr(list, name);
    return value != nullptr && std::strcmp(value, "Y") == 0;
}

bool validation_off(ZPAAttrList* job) {
    const char* value = attr(job, "DUZ-PARAM_VALIDATION");
    return value != nullptr && value[0] == 'N';
}

Values values_of(ZPAAttrList* job) {
    const char* value = attr(job, BE_DUZ_PARAM_AS_STORED);
    return value != nullptr && std::strcmp(value, "Y") == 0 ? Values::Stored : Values::Written;
}

std::string without_trailing_blanks(const char* text) {
    std::string value = text != nullptr ? text : "";
    const std::size_t end = value.find_last_not_of(' ');
    value.resize(end == std::string::npos ? 0 : end + 1);
    return value;
}

void store_definition(BE_DUZ_report_parm* p, int index, const Definition& d) {
    be_parm_copy(p->required, d.required, sizeof p->required);
    be_parm_copy(p->parm_type, d.default_type, sizeof p->parm_type);
    be_parm_copy(p->dft_value, d.default_value, sizeof p->dft_value);
    be_parm_copy(p->parm_name, d.name, sizeof p->parm_name);
    if (d.display != nullptr) be_parm_copy(p->parm_display, d.display, sizeof p->parm_display);
    be_parm_copy(p->sharedparm_name, d.shared_name, sizeof p->sharedparm_name);
    p->value_set_id = d.value_set_id;
    be_parm_copy(p->value_set_name, d.value_set_name, sizeof p->value_set_name);
    p->maxsize = d.maximum_size;
    be_parm_copy(p->value_set_type, d.validation_type, sizeof p->value_set_type);
    be_parm_copy(p->formatype, d.format_type, sizeof p->formatype);
    be_parm_copy(p->uppercase, d.uppercase, sizeof p->uppercase);
    be_parm_copy(p->displayed, d.displayed, sizeof p->displayed);
    p->seq_number = index;
    ZPALIST_clear(&p->list);
}

ZPARC check_reader_arguments(const char* sqlStr, BE_DUZ_report_parm** parm_recs, int* parms_count, const char* progname,
                             ZPAError* Error) {
    if (sqlStr == nullptr || parms_count == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing statement or parameter count", BE_POS);
        return 1;
    }
    bool present = parm_recs != nullptr;
    for (int i = 0; present && i < BE_DUZ_MAX_REPORT_PARMS; ++i) present = parm_recs[i] != nullptr;
    if (!present) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Missing parameter records: %d are needed", BE_DUZ_MAX_REPORT_PARMS);
        return 1;
    }
    return check_name_length(progname, BE_DUZ_PARM_PROG_NAME_MAX, "program name", Error);
}

ZPARC read_definitions(be_sql::Statement& stmt, const char* sqlStr, const std::function<ZPARC()>& bind_application,
                       char* prog_name, int* set_program_id, const std::vector<DefinitionColumn>& columns,
                       const std::function<bool()>& take, ZPAError* Error) {
    ZPARC rc;
    if ((rc = stmt.prepare(sqlStr)) != 0) return be_parm_logged(rc, "Fail to prepare sqlStr", Error);
    if ((rc = bind_application()) != 0) return rc;
    if ((rc = stmt.bind_text(":prog_name", prog_name, BE_DUZ_PARM_PROG_NAME_MAX + 1)) != 0)
        return be_parm_logged(rc, "Fail to bind prog_name", Error);
    if (set_program_id != nullptr && (rc = stmt.bind_int(":rsetprogid", set_program_id)) != 0)
        return be_parm_logged(rc, "Fail to bind request set concurrent program id", Error);
    ub4 position = 0;
    for (const DefinitionColumn& c : columns) {
        ++position;
        rc = c.number != nullptr ? stmt.define_int(position, c.number) : stmt.define_text(position, c.text, c.size);
        if (rc != 0) return be_parm_logged(rc, c.failure, Error);
    }
    if ((rc = stmt.execute_no_fetch()) != 0)
        return be_parm_logged(rc, "Fail to execute BE_DUZ_RETRIEVE_PARM_SQL", Error);

    int taken = 0;
    for (;;) {
        switch (stmt.fetch()) {
        case be_sql::Fetch::End: return 0;
        case be_sql::Fetch::Error:
            BE_TRACE(2, "Fail to fetch the parameters of %s. %s", prog_name, Error != nullptr ? Error->text : "");
            return 1;
        case be_sql::Fetch::Row: break;
        }
        if (taken == BE_DUZ_MAX_REPORT_PARMS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Program %s has more than %d parameters", prog_name,
                                  BE_DUZ_MAX_REPORT_PARMS);
            BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
            return 1;
        }
        if (take()) ++taken;
    }
}

int fill_unvalidated(BE_DUZ_report_parm** recs, const std::function<const char*(int)>& value_of) {
    int last = -1;
    for (int n = 1; n <= BE_DUZ_MAX_REPORT_PARMS; ++n) {
        BE_DUZ_report_parm* p = recs[n - 1];
        const char* given = value_of(n);
        if (p != nullptr) {
            p->value[0] = '\0';
            p->report_value[0] = '\0';
        }
        if (given == nullptr) continue;
        if (std::strcmp(given, BE_DUZ_CALCULATED_DURING_SUBMISSION) == 0) {
            last = n - 1;
            continue;
        }
        const std::string value = without_trailing_blanks(given);
        if (value.empty()) continue;
        last = n - 1;
        if (p == nullptr) continue;
        set_text(p->value, sizeof p->value, value);
        set_text(p->report_value, sizeof p->report_value, value);
    }
    return last;
}

Hidden match_hidden(const BE_DUZ_report_parm* p, const char* job_name, int& hidden_count) {
    if (p->displayed[0] != 'N') return Hidden::Shown;
    if (job_name == nullptr || job_name[0] == '\0') return Hidden::Absent;
    const char* name = job_name[0] == '*' && job_name[1] != '\0' ? job_name + 1 : job_name;
    if (std::strcmp(name, p->parm_name) == 0) return Hidden::Listed;
    ++hidden_count;
    return Hidden::Absent;
}

JobValue take_job_value(BE_DUZ_Handles* session, BE_DUZ_report_parm** recs, int last, int i,
                        const std::string& job_value, Values source, ZPAError* Error) {
    BE_DUZ_report_parm* p = recs[i];
    if (source == Values::Stored) {
        set_text(p->value, sizeof p->value, job_value);
        return {job_value, Values::Stored};
    }
    if (job_value == BE_DUZ_CALCULATED_DURING_SUBMISSION) {
        p->value[0] = '\0';
        BE_DUZ_convert_default_value(session, p, recs, last, i, Error);
        return {};
    }
    std::string text = job_value;
    if (BE_DUZ_isSQLCommand(text.data())) {
        if (!text.empty() && text.back() == ';') text.pop_back();
        char result[BE_DUZ_PARM_VALUE_SIZE] = "";
        if (BE_DUZ_reslove_sql(session, text.c_str(), recs, last, i, result, Error) == 0) {
            set_text(p->value, sizeof p->value, result);
            return {result};
        }
        BE_DUZ_convert_default_value(session, p, recs, last, i, Error);
        return {};
    }
    set_text(p->value, sizeof p->value, job_value);
    return {job_value};
}

void validate_and_report(BE_DUZ_Handles* session, BE_DUZ_report_parm** recs, int last, int i, ZPARC format_rc,
                         const char* meaning, const JobValue& job, bool use_job_value, ZPAError* Error) {
    BE_DUZ_report_parm* p = recs[i];
    const bool stored = job.source == Values::Stored;
    bool failed = format_rc != 0;
    if (p->value_set_type[0] == 'F') {
        failed = check_in_value_set(session, recs, last, i, meaning, job.source, Error) != 0;
        if (failed) {
            OS_MSGERR_display("Warning: Fail to validate parameter '%s' in value_set", p->parm_name);
            if (stored)
                OS_MSGERR_display("PARM%d '%s' keeps its stored value", i + 1, p->parm_name);
            else
                OS_MSGERR_display("PARM%d '%s' value is NULL", i + 1, p->parm_name);
        }
    }
    if (failed) {
        if (use_job_value || stored)
            set_text(p->value, sizeof p->value, job.text);
        else
            p->value[0] = '\0';
    }
    BE_DUZ_convert_report_value(0, p, recs, last, i, Error);
}

ZPARC check_name_length(const char* name, std::size_t max, const char* what, ZPAError* Error) {
    if (name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Missing %s", what);
        return 1;
    }
    const std::size_t length = std::strlen(name);
    if (length <= max) return 0;
    BE_DUZ_UpdateErrorSet(Error, 1, "The %s of %zu characters is longer than %zu", what, length, max);
    BE_TRACE(2, "%s", Error != nullptr ? Error->text : "");
    return 1;
}

}  // namespace be_parm
