/* Pieces the job-action modules share and do not export: attribute reads, the one runner of the
 * FND option blocks ("IF (FND_x.fn(...)) THEN :rc_code := 0 ..."), attribute names counted by
 * index, and the argument value of a parameter record after the date shift. Internal to be_duz. */
#ifndef BE_JOB_INTERNAL_H
#define BE_JOB_INTERNAL_H

#include "be_def.h"
#include "be_internal.h"
#include "be_sql_internal.h"
#include "gm_param.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace be_job {

using be_duz::attr;
using be_duz::non_empty;

/* The job's ORDERNO and RUNNO; false, with "the attribute '...' is mandatory" naming the first that
 * is missing, when either is. */
inline bool job_identity(ZPAAttrList* AttributesIn, const char** orderno, const char** runno, ZPAError* Error) {
    *orderno = attr(AttributesIn, "ORDERNO");
    *runno = attr(AttributesIn, "RUNNO");
    if (*orderno != nullptr && *runno != nullptr) return true;
    BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", *orderno == nullptr ? "ORDERNO" : "RUNNO");
    return false;
}

/* An attribute name built from a pattern with one or two numbers ("DUZ-PRINTERS-P%.3d-NAME"). */
template <typename... Numbers>
std::string name_of(const char* pattern, Numbers... numbers) {
    char name[160];
    std::snprintf(name, sizeof name, pattern, numbers...);
    return name;
}

/* Text cut to at most max characters. */
inline std::string cut(const char* text, std::size_t max) {
    std::string value = text != nullptr ? text : "";
    if (value.size() > max) value.resize(max);
    return value;
}

/* The error record's text without the prefix of the error helper (the Oracle message of a failed
 * step, say), for a step that puts its own words before it. */
inline std::string reason(const ZPAError* Error) {
    if (Error == nullptr) return {};
    std::string text(Error->text, strnlen(Error->text, sizeof Error->text));
    const std::string_view prefix = BE_DUZ_ERROR_PREFIX;
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return text;
}
/* Puts words before the error record's text, keeping its code: "words text". */
inline void explain(ZPAError* Error, const char* words) {
    const std::string text = reason(Error);
    BE_DUZ_UpdateErrorSet(Error, Error != nullptr ? Error->code : 1, "%s %s", words, text.c_str());
}

/* One block of the FND packages on the session's statement handle. The binds are listed in their
 * order, then run() prepares the text, binds and executes it once; every OCI status goes through
 * BE_DUZ_OCI_error into the error record. */
class Block {
public:
    enum class Step { None, Prepare, Bind, Execute };

    Block(BE_DUZ_Handles* session, ZPAError* error) : stmt_(session, error) {}

    /* A text in-bind of size bytes (0: its own length plus the terminator), cut to fit. */
    Block& text(const char* name, std::string_view value, int size = 0) {
        binds_.push_back(Bind{name, Kind::Text, std::string(value), size, 0, nullptr});
        return *this;
    }
    Block& number(const char* name, int value) {
        binds_.push_back(Bind{name, Kind::Number, {}, 0, value, nullptr});
        return *this;
    }
    /* The integer out-bind :rc_code (0 going in). */
    Block& rc_code(const char* name = ":rc_code") {
        binds_.push_back(Bind{name, Kind::RcCode, {}, 0, 0, nullptr});
        return *this;
    }
    /* A text in/out bind into the caller's buffer of size bytes. */
    Block& text_out(const char* name, char* buffer, int size) {
        binds_.push_back(Bind{name, Kind::TextOut, {}, size, 0, buffer});
        return *this;
    }

    /* 0 when the block ran; else the mapped failure, with failed_step() and failed_bind(). */
    ZPARC run(const char* sql) {
        step_ = Step::Prepare;
        ZPARC rc = stmt_.prepare(sql);
        if (rc != 0) return rc;
        step_ = Step::Bind;
        numbers_.clear();
        rc_code_ = 0;
        for (const Bind& bind : binds_) {
            failed_bind_ = bind.name;
            switch (bind.kind) {
            case Kind::Text: rc = stmt_.bind_text_copy(bind.name, bind.text, bind.size); break;
            case Kind::Number:
                numbers_.push_back(bind.number);
                rc = stmt_.bind_int(bind.name, &numbers_.back());
                break;
            case Kind::RcCode: rc = stmt_.bind_int(bind.name, &rc_code_); break;
            case Kind::TextOut: rc = stmt_.bind_text(bind.name, bind.out, bind.size); break;
            }
            if (rc != 0) return rc;
        }
        failed_bind_ = "";
        step_ = Step::Execute;
        rc = stmt_.execute();
        if (rc == 0) step_ = Step::None;
        return rc;
    }

    Step failed_step() const { return step_; }
    const char* failed_bind() const { return failed_bind_; }
    /* The value :rc_code came back with. */
    int code() const { return rc_code_; }

private:
    enum class Kind { Text, Number, RcCode, TextOut };
    struct Bind {
        const char* name;
        Kind kind;
        std::string text;
        int size;
        int number;
        char* out;
    };
    be_sql::Statement stmt_;
    std::vector<Bind> binds_;
    std::deque<int> numbers_;
    int rc_code_ = 0;
    Step step_ = Step::None;
    const char* failed_bind_ = "";
};

/* The BE_DUZ_MAX_REPORT_PARMS parameter records of a request or of one set program, initialised,
 * with the array of pointers the parameter services take; their value lists are freed with them. */
class ParmRecords {
public:
    ParmRecords() : records_(BE_DUZ_MAX_REPORT_PARMS) {
        for (int i = 0; i < BE_DUZ_MAX_REPORT_PARMS; ++i) {
            BE_DUZ_init_report_parm(&records_[static_cast<std::size_t>(i)]);
            pointers_[i] = &records_[static_cast<std::size_t>(i)];
        }
    }
    ~ParmRecords() {
        for (BE_DUZ_report_parm& record : records_) GM_PARAM_list_clear(&record.list);
    }
    ParmRecords(const ParmRecords&) = delete;
    ParmRecords& operator=(const ParmRecords&) = delete;

    BE_DUZ_report_parm** get() { return pointers_; }
    /* The 0-based index of the last record to pass, -1 for none. */
    int last = -1;

private:
    std::vector<BE_DUZ_report_parm> records_;
    BE_DUZ_report_parm* pointers_[BE_DUZ_MAX_REPORT_PARMS] = {};
};

/* A submission's check of the date shift: with "DUZ-INCREMENT_DATE" "Y" the first run date must be
 * present and of the form YYYY/MM/DD HH:MM:SS. 0, or 2 with the reason in Error (code 2). */
ZPARC check_first_run_date(ZPAAttrList* AttributesIn, ZPAError* Error);

/* The warning steps of a submission, for a request (program 0) or set program k: print options,
 * extra printers, notifications, output language and delivery. A failure writes its warning lines
 * on standard error (the job's output), leaves its text in Error and the next step follows. */
void set_request_options(BE_DUZ_Handles* session, const char* req_type, ZPAAttrList* AttributesIn,
                         ZPALIST_handle_typ* section, int program, ZPAError* Error);

/* ", :arg1, :arg2, ..., :arg100": the argument placeholders of a submission block. */
inline std::string argument_placeholders() {
    std::string text;
    for (int i = 1; i <= BE_DUZ_MAX_REPORT_PARMS; ++i) text += ", :arg" + std::to_string(i);
    return text;
}

/* Binds :arg1 to :arg100 of a submission block: argument i up to last + 1 is record i - 1's value
 * after the date shift (cut to 240 characters), every later one the FND end marker. 0, or the
 * result of the first bind that failed ("Fail to bind parameter ..." in the log). */
ZPARC bind_arguments(be_sql::Statement& statement, BE_DUZ_report_parm** records, int last, ZPAAttrList* AttributesIn);

/* The argument text of one parameter record as a submission passes it: its report value, moved by
 * the date shift when "DUZ-INCREMENT_DATE" is "Y" (first_run_date is then the job's first run
 * date). */
std::string argument_value(const BE_DUZ_report_parm* rec, bool increment_date, const char* first_run_date);

/* True when text has the form of an Oracle date text YYYY/MM/DD HH:MM:SS. */
bool is_oracle_date(const char* text);

}  // namespace be_job

#endif
