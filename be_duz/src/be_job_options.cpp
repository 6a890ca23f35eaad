/* The options of a request or of one program of a request set, set in the session through FND's
 * own packages before the submission: profile values, print options, notification users, output
 * language and numeric characters, e-mail delivery; and the date shift that moves the date
 * arguments of a recurring job to the current run. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;
using be_job::Block;
using be_job::cut;
using be_job::explain;
using be_job::name_of;
using be_job::non_empty;

constexpr const char* kPrintStyleSql =
    "select distinct PRINTER_STYLE_NAME from fnd_printer_styles_view where USER_PRINTER_STYLE_NAME = :user_style "
    "or PRINTER_STYLE_NAME = :user_style";
constexpr const char* kRequestPrintSql =
    "BEGIN IF (FND_REQUEST.set_print_options(:printer, :style, :copies, TRUE, 'N')) THEN     :rc_code := 0; "
    "ELSE     :rc_code := 1; END IF; END;";
constexpr const char* kSetPrintSql =
    "BEGIN IF (FND_SUBMIT.set_print_options(:printer, :style, :copies, TRUE, 'N')) THEN     :rc_code := 0; "
    "ELSE     :rc_code := 1; END IF; END;";
constexpr const char* kNotificationSql =
    "BEGIN IF (:ora_type = 'REQUEST_SET') THEN    IF (FND_SUBMIT.add_notification(:name)) THEN            "
    ":rc_code := 0;         ELSE            :rc_code := 1;         END IF; ELSE     IF "
    "(FND_REQUEST.add_notification(:name)) THEN            :rc_code := 0;         ELSE            :rc_code := 1;"
    "         END IF; END IF; END;";
constexpr const char* kRequestLangCharsSql =
    "BEGIN IF (FND_REQUEST.set_options(NULL, NULL, :lang, :terr, NULL, :nlschars)) THEN :rc_code :=0;ELSE   "
    ":rc_code := 1; END IF; END;";
constexpr const char* kRequestLangSql =
    "BEGIN IF (FND_REQUEST.set_options(NULL, NULL, :lang, :terr)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetLangCharsSql =
    "BEGIN IF (FND_SUBMIT.SET_NLS_OPTIONS(:lang, :terr, :nlschars)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetLangSql =
    "BEGIN IF (FND_SUBMIT.SET_NLS_OPTIONS(:lang, :terr)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";
/* The delivery option takes nine arguments before the language: the language is passed by name, or
 * it would land in the fifth argument and the mail would go out for every language. */
constexpr const char* kRequestDeliverySql =
    "BEGIN IF (FND_REQUEST.add_delivery_option(:option_type, :arg1, :arg2, :arg3, :arg4, nls_language => "
    ":nls_lang)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";
constexpr const char* kSetDeliverySql =
    "BEGIN IF (FND_SUBMIT.add_delivery_option(:option_type, :arg1, :arg2, :arg3, :arg4, nls_language => "
    ":nls_lang)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";

/* Lengths at which the option texts are cut, and the rooms they are bound in. */
constexpr std::size_t kProfileNameMax = 80;
constexpr std::size_t kProfileValueMax = 240;
constexpr int kPrinterRoom = 31;
constexpr int kStyleRoom = 80;
constexpr std::size_t kNotifyNameMax = 100;
constexpr std::size_t kEmailFieldMax = 1023;
/* Length at which a submission argument is cut. */
constexpr std::size_t kArgumentMax = BE_DUZ_PARM_VALUE_SIZE - 1;
/* Highest index of a counted attribute ("-P%.3d-", "-N%.3d-"). */
constexpr int kProfilesMax = 1000;
constexpr int kCountedMax = 999;

bool is_set(const char* req_type) { return req_type != nullptr && std::strcmp(req_type, BE_DUZ_REQUEST_SET_TYPE) == 0; }

/* A value of the program's section, or null. */
const char* section_value(ZPALIST_handle_typ* sublist, const char* key) {
    char* value = nullptr;
    if (sublist == nullptr || GM_PARAM_list_get_ptr(sublist, key, &value) != CM_RC_OK) return nullptr;
    return value;
}

/* Copies of a printer: the text when it is an unsigned number, else 1 with the warning line. */
int copies_of(const char* text, bool* valid) {
    if (text != nullptr && GM_STR_isnumber(text) == CM_RC_OK && GM_STR_isunsignednumber(text) == CM_RC_OK) {
        if (valid != nullptr) *valid = true;
        const long n = std::strtol(text, nullptr, 10);
        return n > INT_MAX ? INT_MAX : static_cast<int>(n);
    }
    if (valid != nullptr) *valid = false;
    OS_MSGERR_display("print copies will be set to %d", 1);
    return 1;
}

/* The style name the printer tables know for a user's style name. */
ZPARC transform_style(BE_DUZ_Handles* session, std::string& style, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    char found[kStyleRoom + 1] = "";
    ZPARC rc = stmt.prepare(kPrintStyleSql);
    if (rc == 0) rc = stmt.bind_text_copy(":user_style", style);
    if (rc == 0) rc = stmt.define_text(1, found, sizeof found);
    if (rc == 0) rc = stmt.execute();
    if (rc != 0) {
        explain(Error, "Fail to execute BE_DUZ_TRANSFORM_PRINTER_STYLE_NAME.");
        return rc;
    }
    style = found;
    return 0;
}

/* The account's numeric characters: NLS_CHAR between double quotes, else none. */
std::string numeric_characters(ZPAAttrList* AttributesIn, ZPAError* Error) {
    const char* account = attr(AttributesIn, "DUZ-INSTANCE");
    if (!non_empty(account)) return {};
    be_account_rows rows;
    if (rows.load(account, AttributesIn, "TRACK", Error) != 0) {
        BE_TRACE(4, "Account '%s' not found: no numeric characters", account);
        return {};
    }
    std::string value;
    if (!rows.get("NLS_CHAR", &value) || value.empty()) return {};
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
    BE_TRACE(2, "The NLS_CHAR format is not correct, it will set to NULL");
    return {};
}

}  // namespace

namespace be_job {

bool is_oracle_date(const char* text) {
    static constexpr const char kForm[] = "dddd/dd/dd dd:dd:dd";
    if (text == nullptr || std::strlen(text) != sizeof kForm - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof kForm; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (kForm[i] == 'd' ? !std::isdigit(c) : c != static_cast<unsigned char>(kForm[i])) return false;
    }
    return true;
}

std::string argument_value(const BE_DUZ_report_parm* rec, bool increment_date, const char* first_run_date) {
    std::string value = rec->report_value;
    const char format = rec->formatype[0];
    if (!increment_date || value.empty() || (format != 'X' && format != 'Y' && format != 'T')) return value;
    if (std::strcmp(rec->parm_type, "D") == 0 && std::strcmp(rec->displayed, "N") == 0) {
        BE_TRACE(4, "This is a current date parameter, no increment needed.");
        return value;
    }
    char shifted[BE_JOB_ORACLE_DATE_SIZE] = "";
    if (BE_job_increment_date(first_run_date, value.c_str(), shifted) != 0) {
        BE_TRACE(2, "Parameter '%s' value '%s' is not a date of the form YYYY/MM/DD HH:MM:SS: not shifted",
                 rec->parm_name, value.c_str());
        return value;
    }
    return shifted;
}

void set_request_options(BE_DUZ_Handles* session, const char* req_type, ZPAAttrList* AttributesIn,
                         ZPALIST_handle_typ* section, int program, ZPAError* Error) {
    const bool set = is_set(req_type);
    auto warn = [&](ZPARC rc, const char* line, const char* text) {
        if (rc == 0) return;
        OS_MSGERR_display("%s", line);
        if (std::strcmp(line, "Warning: Fail to set print options.") == 0)
            OS_MSGERR_display("Check printer name, printer style and print copies are valid");
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s", text);
    };
    warn(BE_DUZ_set_print_options(session, req_type, AttributesIn, section, Error),
         "Warning: Fail to set print options.",
         "Fail to set print options. Check printer name, printer style and print copies are valid");
    if (set)
        BE_DUZ_set_add_printers(session, AttributesIn, program, Error);
    else
        BE_DUZ_add_printers(session, AttributesIn, Error);
    warn(BE_DUZ_add_notifications(session, req_type, AttributesIn, section, Error),
         "Warning: Fail to add notifications.", set ? "Fail to add notification." : "Fail to add notifications.");
    warn(BE_DUZ_set_options(session, req_type, AttributesIn, section, Error), "Warning: Fail to set output language.",
         "Fail to set output language.");
    warn(BE_DUZ_set_delivery_opts(session, req_type, program, AttributesIn, Error),
         "Warning: Fail to set delivery opts.", "Fail to set delivery opts.");
}

ZPARC check_first_run_date(ZPAAttrList* AttributesIn, ZPAError* Error) {
    const char* increment = attr(AttributesIn, "DUZ-INCREMENT_DATE");
    if (increment == nullptr || std::strcmp(increment, "Y") != 0) return 0;
    const char* first_run = attr(AttributesIn, "DUZ-FIRST_RUN_DATE");
    if (!non_empty(first_run)) {
        BE_DUZ_UpdateErrorSet(Error, 2, "Increment date flag is enabled but first run date is not set.");
        return 2;
    }
    if (!is_oracle_date(first_run)) {
        BE_DUZ_UpdateErrorSet(Error, 2,
                              "Increment date flag is enabled but first run date '%s' is not of the form "
                              "YYYY/MM/DD HH:MM:SS.",
                              first_run);
        return 2;
    }
    return 0;
}

ZPARC bind_arguments(be_sql::Statement& statement, BE_DUZ_report_parm** records, int last, ZPAAttrList* AttributesIn) {
    const char* increment = attr(AttributesIn, "DUZ-INCREMENT_DATE");
    const bool shift = increment != nullptr && std::strcmp(increment, "Y") == 0;
    const char* first_run = attr(AttributesIn, "DUZ-FIRST_RUN_DATE");
    for (int i = 1; i <= BE_DUZ_MAX_REPORT_PARMS; ++i) {
        const std::string name = ":arg" + std::to_string(i);
        ZPARC rc;
        if (i <= last + 1 && records != nullptr && records[i - 1] != nullptr) {
            const std::string value = argument_value(records[i - 1], shift, first_run);
            rc = statement.bind_text_copy(name.c_str(), cut(value.c_str(), kArgumentMax));
        } else {
            rc = statement.bind_end_marker(name.c_str());
        }
        if (rc != 0) {
            BE_TRACE(2, "Fail to bind parameter %s", name.c_str());
            return rc;
        }
    }
    return 0;
}

}  // namespace be_job

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_set_profiles(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    try {
        char name[kProfileNameMax + 1] = "";
        char value[kProfileValueMax + 1] = "";
        char read_back[kProfileValueMax + 1] = "";
        sb2 read_back_indicator = 0;
        be_sql::Statement stmt(JOB_handle, Error);
        bool prepared = false;
        for (int n = 1; n <= kProfilesMax; ++n) {
            const char* given_name = attr(AttributesIn, name_of("DUZ-PROFILES-P%.3d-NAME", n).c_str());
            if (given_name == nullptr) break;
            const char* given_value = attr(AttributesIn, name_of("DUZ-PROFILES-P%.3d-VALUE", n).c_str());
            if (given_value == nullptr) {
                BE_TRACE(2, "Profile '%s' value is missing.", given_name);
                break;
            }
            if (!prepared) {
                /* One block for every profile: the buffers bound once are refilled for each. */
                ZPARC rc = stmt.prepare(BE_DUZ_PUT_PROFILE_SQL);
                if (rc == 0) rc = stmt.bind_text(":pname", name, sizeof name);
                if (rc == 0) rc = stmt.bind_text(":pvalue", value, sizeof value);
                if (rc == 0) rc = stmt.bind_text(":new_value", read_back, sizeof read_back, &read_back_indicator);
                if (rc != 0) {
                    BE_TRACE(2, "Fail to prepare BE_DUZ_PUT_PROFILE_SQL.");
                    return rc;
                }
                prepared = true;
            }
            std::snprintf(name, sizeof name, "%s", given_name);
            std::snprintf(value, sizeof value, "%s", given_value);
            read_back[0] = '\0';
            if (stmt.execute() != 0) {
                DIAG_printf("Error: Fail to set profile %s to value %s", name, value);
                return 1;
            }
            if (read_back_indicator == -1) read_back[0] = '\0';
            BE_TRACE(4, "Set Profile %s  to %s", name, read_back);
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_profiles");
        return 1;
    }
}

ZPARC BE_DUZ_set_print_options(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                               ZPALIST_handle_typ* sublist, ZPAError* Error) {
    try {
        const bool set = is_set(req_type);
        std::string printer;
        std::string style;
        int copies = 1;
        if (!set) {
            const char* first = attr(AttributesIn, "DUZ-PRINTERS-P001-NAME");
            const char* plain = attr(AttributesIn, "DUZ-PRINTERNAME");
            if (non_empty(first))
                printer = first;
            else if (non_empty(plain))
                printer = plain;
            else
                return 0;
            if (const char* given = attr(AttributesIn, "DUZ-PRINTSTYLE")) style = given;
            const char* first_copies = attr(AttributesIn, "DUZ-PRINTERS-P001-VALUE");
            const char* plain_copies = attr(AttributesIn, "DUZ-PRINTCOPIES");
            const char* given = non_empty(first_copies)   ? first_copies
                                : non_empty(plain_copies) ? plain_copies
                                                          : nullptr;
            if (given != nullptr) copies = copies_of(given, nullptr);
        } else {
            bool given = false;
            if (const char* value = section_value(sublist, "PRINTERNAME")) {
                printer = value;
                given = true;
            }
            if (const char* value = section_value(sublist, "PRINTSTYLE")) {
                style = value;
                given = true;
            }
            const char* value = section_value(sublist, "PRINTCOPIES");
            if (!non_empty(value)) {
                OS_MSGERR_display("print copies will be set to %d", 1);
            } else {
                bool valid = false;
                copies = copies_of(value, &valid);
                given = given || valid;
            }
            if (!given) {
                BE_TRACE(4, "No printer options are set");
                return 0;
            }
        }
        if (!style.empty()) {
            ZPARC rc = transform_style(JOB_handle, style, Error);
            if (rc != 0) return rc;
        }
        Block block(JOB_handle, Error);
        block.text(":printer", cut(printer.c_str(), kPrinterRoom - 1), kPrinterRoom)
            .text(":style", style, kStyleRoom)
            .number(":copies", copies)
            .rc_code();
        ZPARC rc = block.run(set ? kSetPrintSql : kRequestPrintSql);
        if (rc != 0) {
            if (block.failed_step() == Block::Step::Execute)
                explain(Error, "Fail to execute BE_DUZ_SET_PRINT_OPTION_SQL.");
            return rc;
        }
        if (block.code() != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to set print options.");
            return 1;
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_print_options");
        return 1;
    }
}

CM_RC be_job_get_notify_name(int index, ZPAAttrList* AttributesIn, ZPALIST_handle_typ* sublist, char* name,
                             const char* req_type) {
    if (name == nullptr) return CM_RC_FAIL;
    const char* value = is_set(req_type) ? section_value(sublist, name_of("N%.3d-NAME", index).c_str())
                                         : attr(AttributesIn, name_of("DUZ-NOTIFICATIONS-N%.3d-NAME", index).c_str());
    if (value == nullptr) return CM_RC_FAIL;
    std::snprintf(name, BE_JOB_NOTIFY_NAME_SIZE, "%.*s", static_cast<int>(kNotifyNameMax), value);
    return CM_RC_OK;
}

ZPARC BE_DUZ_add_notifications(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                               ZPALIST_handle_typ* sublist, ZPAError* Error) {
    try {
        ZPARC result = 0;
        char name[BE_JOB_NOTIFY_NAME_SIZE] = "";
        for (int n = 1;
             n <= kCountedMax && be_job_get_notify_name(n, AttributesIn, sublist, name, req_type) == CM_RC_OK; ++n) {
            Block block(JOB_handle, Error);
            block.text(":name", name).text(":ora_type", req_type != nullptr ? req_type : "").rc_code();
            result = block.run(kNotificationSql);
            if (result != 0) {
                if (block.failed_step() == Block::Step::Execute) explain(Error, "Fail to execute add notification.");
                continue;
            }
            if (block.code() != 0) OS_MSGERR_display("Warning: Fail to add notification '%s'.", name);
        }
        return result;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_add_notifications");
        return 1;
    }
}

ZPARC BE_DUZ_set_options_request_set(const char* lang, const char* terr, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    try {
        Block block(JOB_handle, Error);
        block.text(":lang", lang != nullptr ? lang : "").text(":terr", terr != nullptr ? terr : "").rc_code();
        if (block.run(kSetLangSql) != 0) {
            explain(Error, "Fail to execute sql for LANG_OPTIONS.");
            return 1;
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_options_request_set");
        return 1;
    }
}

ZPARC BE_DUZ_set_options(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                         ZPALIST_handle_typ* sublist, ZPAError* Error) {
    try {
        const bool set = is_set(req_type);
        const std::string nls_chars = numeric_characters(AttributesIn, Error);
        const char* given = nullptr;
        if (set) {
            given = section_value(sublist, "LANGUAGE");
        } else {
            given = attr(AttributesIn, "DUZ-LANGUAGE");
            if (given == nullptr) given = attr(AttributesIn, "NLS_LANG");
        }
        std::string language;
        std::string territory;
        if (!non_empty(given)) {
            if (nls_chars.empty()) return 0;
        } else {
            std::string text = given;
            text = text.substr(0, text.find('.'));
            const std::size_t underscore = text.find('_');
            if (underscore == std::string::npos) {
                BE_TRACE(2, "The NLS_LANG format is not correct");
                return 1;
            }
            language = text.substr(0, underscore);
            territory = text.substr(underscore + 1);
        }
        const bool with_chars = !nls_chars.empty();
        Block block(JOB_handle, Error);
        block.text(":lang", language).text(":terr", territory);
        if (with_chars) block.text(":nlschars", nls_chars);
        block.rc_code();
        const char* sql =
            set ? (with_chars ? kSetLangCharsSql : kSetLangSql) : (with_chars ? kRequestLangCharsSql : kRequestLangSql);
        if (block.run(sql) == 0) return 0;
        if (set && with_chars) {
            /* Older releases know only the two-argument form: the language alone is set. */
            if (language.empty() || territory.empty()) return 0;
            return BE_DUZ_set_options_request_set(language.c_str(), territory.c_str(), JOB_handle, Error);
        }
        explain(Error, "Fail to execute sql for LANG_OPTIONS.");
        return 1;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_options");
        return 1;
    }
}

ZPARC BE_DUZ_set_delivery(BE_DUZ_Handles* JOB_handle, const char* req_type, const char* option_type, const char* arg1,
                          const char* arg2, const char* arg3, const char* arg4, const char* nls_lang, ZPAError* Error) {
    try {
        auto text = [](const char* value) { return value != nullptr ? value : ""; };
        Block block(JOB_handle, Error);
        block.text(":option_type", text(option_type))
            .text(":arg1", text(arg1))
            .text(":arg2", text(arg2))
            .text(":arg3", text(arg3))
            .text(":arg4", text(arg4))
            .text(":nls_lang", text(nls_lang))
            .rc_code();
        if (block.run(is_set(req_type) ? kSetDeliverySql : kRequestDeliverySql) != 0) {
            switch (block.failed_step()) {
            case Block::Step::Prepare: explain(Error, "Fail to prepare sql for Delivery Opts."); break;
            case Block::Step::Bind: BE_TRACE(2, "Fail to bind %s for Delivery Opts.", block.failed_bind()); break;
            default: explain(Error, "Fail to execute sql for Delivery Opts.");
            }
            return 1;
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_delivery");
        return 1;
    }
}

ZPARC BE_DUZ_set_delivery_email_opts(BE_DUZ_Handles* JOB_handle, const char* req_type, int prog_index,
                                     ZPAAttrList* AttributesIn, ZPAError* Error) {
    try {
        const bool set = is_set(req_type);
        auto field = [&](const char* request_name, const char* set_name) {
            const char* value =
                set ? attr(AttributesIn, name_of(set_name, prog_index).c_str()) : attr(AttributesIn, request_name);
            return cut(value, kEmailFieldMax);
        };
        const std::string from = field("DUZ-DE_OP_EMAIL_FROM", "DUZ-SETPROG-P%.3d-DE_OP_EMAIL_FROM");
        if (from.empty()) return 0;
        const std::string subject = field("DUZ-DE_OP_EMAIL_SUBJECT", "DUZ-SETPROG-P%.3d-DE_OP_EMAIL_SUBJECT");
        for (int k = 1; k <= kCountedMax; ++k) {
            auto recipient = [&](const char* part) {
                const std::string name = set ? name_of("DUZ-SETPROG-P%.3d-DE_OP_EMAIL-P%.3d-%s", prog_index, k, part)
                                             : name_of("DUZ-DE_OP_EMAIL-P%.3d-%s", k, part);
                return cut(attr(AttributesIn, name.c_str()), kEmailFieldMax);
            };
            const std::string to = recipient("TO");
            if (to.empty()) break;
            const std::string cc = recipient("CC");
            const std::string lang = recipient("LANG");
            ZPARC rc = BE_DUZ_set_delivery(JOB_handle, req_type, "E", subject.c_str(), from.c_str(), to.c_str(),
                                           cc.c_str(), lang.c_str(), Error);
            if (rc != 0) return rc;
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_delivery_email_opts");
        return 1;
    }
}

ZPARC BE_DUZ_set_delivery_opts(BE_DUZ_Handles* JOB_handle, const char* req_type, int prog_index,
                               ZPAAttrList* AttributesIn, ZPAError* Error) {
    return BE_DUZ_set_delivery_email_opts(JOB_handle, req_type, prog_index, AttributesIn, Error);
}

void BE_job_convert_Oracle_date_to_ORV_date(const char* oracle_date, char* orv_date) {
    if (orv_date == nullptr) return;
    orv_date[0] = '\0';
    if (oracle_date == nullptr || std::strlen(oracle_date) < 10) return;
    std::snprintf(orv_date, BE_JOB_ORV_DATE_SIZE, "%.4s%.2s%.2s", oracle_date, oracle_date + 5, oracle_date + 8);
}

void BE_job_convert_ORV_date_to_Oracle_date(const char* orv_date, char* oracle_date) {
    if (oracle_date == nullptr) return;
    oracle_date[0] = '\0';
    if (orv_date == nullptr || std::strlen(orv_date) < 8) return;
    std::snprintf(oracle_date, BE_JOB_ORACLE_DATE_SIZE, "%.4s/%.2s/%.2s 00:00:00", orv_date, orv_date + 4,
                  orv_date + 6);
}

ZPARC BE_job_increment_date(const char* first_run_date, const char* parm_date, char* shifted_date) {
    if (shifted_date == nullptr) return 1;
    /* Only texts of the form YYYY/MM/DD HH:MM:SS are read by position; any other is left alone. */
    if (!be_job::is_oracle_date(first_run_date) || !be_job::is_oracle_date(parm_date)) {
        std::snprintf(shifted_date, BE_JOB_ORACLE_DATE_SIZE, "%s", parm_date != nullptr ? parm_date : "");
        return 1;
    }
    char first_day[BE_JOB_ORV_DATE_SIZE] = "";
    char parm_day[BE_JOB_ORV_DATE_SIZE] = "";
    BE_job_convert_Oracle_date_to_ORV_date(first_run_date, first_day);
    BE_job_convert_Oracle_date_to_ORV_date(parm_date, parm_day);
    const long delta = GM_TIME_fmt_compare_dates(parm_day, first_day);
    char today[sizeof(DATETIME_D_typ)] = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, today);
    GM_TIME_fmt_calcdate(today, static_cast<int>(delta));
    BE_job_convert_ORV_date_to_Oracle_date(today, shifted_date);
    /* The parameter keeps its own time of day. */
    std::memcpy(shifted_date + 11, parm_date + 11, 8);
    BE_TRACE(4, "Date parameter '%s' moved by %ld days to '%s'", parm_date, delta, shifted_date);
    return 0;
}

CM_EXTERN_C_END
