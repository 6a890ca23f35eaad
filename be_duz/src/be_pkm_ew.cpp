/* The configuration manager's requests for the alert watcher (read and change its settings, start
 * watching every account afresh, list the applications and alerts of an account) and the install
 * of the plug-in's database package for an account, run with sqlplus without a shell. */
#include "be_child_internal.h"
#include "be_event_watcher.h"
#include "be_pkm_internal.h"
#include "gm_param.h"
#include "os_shared_file_internal.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kGetCode = "OEBS7016";
constexpr const char* kGetMessage = "Get Event Watcher configuration parameters request failed.";
constexpr const char* kUpdateCode = "OEBS7017";
constexpr const char* kUpdateMessage = "Update Event Watcher configuration parameters request failed.";
constexpr const char* kApplicationsCode = "OEBS7018";
constexpr const char* kAlertsCode = "OEBS7019";
constexpr const char* kActivateCode = "OEBS7020";
/* Longest values of the settings update and of the activation. */
constexpr std::size_t kActivateFlagMax = 1;
constexpr std::size_t kIntervalMax = 4;
constexpr std::size_t kActivationTimeMax = sizeof(DB_DATETIME_typ) - 1;
constexpr const char* kPackageLog = "./proclog/qel_package.log";
constexpr const char* kPackageScript = "@inst.sql";
constexpr const char* kSqlPath = "./cm/DUZ/data";

ZPARC answer(BE_DUZ_xmldata_handle* handle, std::string body, ZPAError* Error, const char* message, const char* code,
             const char* request) {
    const ZPARC rc = BE_DUZ_PKM_prepare_xml_response(handle, body.data(), Error, const_cast<char*>(message),
                                                     const_cast<char*>(code), const_cast<char*>(request));
    if (rc != ZPA_SUCCESS) BE_DUZ_UpdateErrorSet(Error, 1, "Failed to prepare response for: %s.", request);
    return rc;
}

/* A value of a settings request that is too long is refused before any file is touched. */
bool refuse_long(const std::string& value, std::size_t most, const char* name, ZPAError* Error) {
    if (value.size() <= most) return false;
    BE_DUZ_UpdateErrorSet(Error, 1, "Value '%s' of %s is longer than %d characters", value.c_str(), name,
                          static_cast<int>(most));
    return true;
}

/* So is a value to store that holds a line break. */
bool refuse_setting(const std::string& value, std::size_t most, const char* name, ZPAError* Error) {
    const char* flaw = be_pkm::stored_value_flaw(value);
    if (flaw == nullptr) return refuse_long(value, most, name, Error);
    BE_DUZ_UpdateErrorSet(Error, 1, "%s refused: %s", name, flaw);
    return true;
}

/* A login or service name that reaches sqlplus as one word: no blank, '/', '@', leading '-' or
 * control character. */
bool plain_word(const std::string& word) {
    if (word.empty() || word[0] == '-') return false;
    for (unsigned char c : word)
        if (std::isspace(c) || std::iscntrl(c) || c == '/' || c == '@') return false;
    return true;
}

enum class NameQuery { Applications, Alerts };

ZPARC name_list_request(NameQuery which, char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    const bool applications = which == NameQuery::Applications;
    const char* request = applications ? "Orvoebs_get_applications_list_request" : "Orvoebs_get_alerts_list_request";
    const char* code = applications ? kApplicationsCode : kAlertsCode;
    std::string account, filter, application;
    be_pkm::element(xml_request, "AccountName", account);
    be_pkm::element(xml_request, applications ? "ApplicationFilter" : "AlertFilter", filter);
    if (!applications) be_pkm::element(xml_request, "Application", application);

    BE_DUZ_Handles* session = nullptr;
    std::string body;
    if (BE_DUZ_connect_to_OEBS(account.data(), &session, Error) != 0 || session == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Unable to connect to OEBS using account %s, please validate the account.",
                              account.c_str());
    } else {
        BE_DUZ_xmldata_handle* names =
            static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
        if (names == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", request);
        } else {
            const ZPARC rc = applications
                                 ? DB_get_applications_list(session, filter.data(), names, Error)
                                 : DB_get_alerts_list(session, application.data(), filter.data(), names, Error);
            if (rc == ZPA_SUCCESS && names->xmlResponse != nullptr) body = names->xmlResponse;
            std::free(names->xmlResponse);
            std::free(names);
        }
    }
    const ZPARC rc = answer(response_handle, body, Error, "", code, request);
    if (session != nullptr) BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
    return be_pkm::answered(response_handle, rc);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_PKM_get_ew_config_req(BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    static constexpr const char* kRequest = "Orvoebs_get_ew_config_request";
    try {
        EW_cfg_file_params_type settings{};
        std::string body;
        if (EW_load_new_event_config(&settings, Error) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Could not load event watcher configuration parameters. %s",
                                  be_pkm::reason(Error).c_str());
        } else {
            char text[1040];
            std::snprintf(text, sizeof text,
                          "<ConfigurationParameters><ACTIVATE_EVENT_WATCHER>%s</ACTIVATE_EVENT_WATCHER>"
                          "<WATCHING_INTERVAL_TIME>%d</WATCHING_INTERVAL_TIME><ACTION_MAX_RETRY>%d</ACTION_MAX_RETRY>"
                          "<ACTION_LOG>%s</ACTION_LOG></ConfigurationParameters>",
                          be_pkm::escaped(settings.activate_event_watcher).c_str(), settings.watching_interval_time,
                          settings.action_max_retry, be_pkm::escaped(settings.create_log).c_str());
            body = text;
        }
        return be_pkm::answered(response_handle, answer(response_handle, body, Error, kGetMessage, kGetCode, kRequest));
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for general_configuration_xml_body buffer");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_update_ew_config_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    static constexpr const char* kRequest = "Orvoebs_update_ew_config_request";
    try {
        std::string activate, interval;
        be_pkm::element(xml_request, "ACTIVATE_EVENT_WATCHER", activate);
        be_pkm::element(xml_request, "WATCHING_INTERVAL_TIME", interval);
        PATHNAME_D_typ path = "";
        EW_build_event_cfg_file_name(path);
        if (!refuse_setting(activate, kActivateFlagMax, "ACTIVATE_EVENT_WATCHER", Error) &&
            !refuse_setting(interval, kIntervalMax, "WATCHING_INTERVAL_TIME", Error)) {
            os_shared::FileLock lock(path);
            ZPALIST_handle_typ sections{};
            ZPALIST_init(&sections);
            if (!lock || GM_PARAM_subtable_load_file(&sections, path) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Cannot load general_config from %s file", path);
            } else {
                bool set = true;
                for (const auto& [key, value] :
                     {std::pair<const char*, const std::string*>{"ACTIVATE_EVENT_WATCHER", &activate},
                      {"WATCHING_INTERVAL_TIME", &interval}}) {
                    if (!set) break;
                    if (GM_PARAM_subtable_list_set(&sections, EW_GEN_EVENT_PARAMS, key, value->c_str()) != CM_RC_OK) {
                        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set %s parameter", key);
                        set = false;
                    }
                }
                if (set && GM_PARAM_subtable_list_save(&sections, path) != CM_RC_OK)
                    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save update general configuration details to %s", path);
            }
            const CM_RC cleared = BE_DUZ_subtable_list_clear(&sections);
            if (cleared != CM_RC_OK)
                BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(cleared),
                                      "%s: Failed to clear account_sections.", kRequest);
        }
        return be_pkm::answered(response_handle,
                                answer(response_handle, "", Error, kUpdateMessage, kUpdateCode, kRequest));
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", kRequest);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_activate_ew_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    static constexpr const char* kRequest = "Orvoebs_activate_ew_request";
    try {
        std::string activation;
        be_pkm::element(xml_request, "ActivationTime", activation);
        if (!refuse_long(activation, kActivationTimeMax, "ActivationTime", Error) && activation == EW_ACTIVATION &&
            EW_save_activation_time(activation.data(), Error) != ZPA_SUCCESS)
            BE_TRACE(1, "Failed to activate the event watcher: %s", Error != nullptr ? Error->text : "");
        return be_pkm::answered(response_handle, answer(response_handle, "", Error, "", kActivateCode, kRequest));
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", kRequest);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_get_applications_list_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    try {
        return name_list_request(NameQuery::Applications, xml_request, response_handle, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_get_applications_list_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_get_alerts_list_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    try {
        return name_list_request(NameQuery::Alerts, xml_request, response_handle, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_get_alerts_list_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_install_package(ZPALIST_handle_typ* account_list, char* account_name, ZPAError* Error) {
    static constexpr const char* fn = "BE_DUZ_PKM_install_package";
    try {
        char sid[BE_DUZ_PASSWORD_SIZE] = "";
        char login[BE_DUZ_PASSWORD_SIZE] = "";
        std::string password(BE_DUZ_PASSWORD_SIZE, '\0');
        struct Wipe {
            std::string& text;
            ~Wipe() { std::fill(text.begin(), text.end(), '\0'); }
        } wipe{password};
        if (BE_DUZ_PKM_get_accounts_value(account_list, account_name, "DB_SID", sid, sizeof sid, Error) != 0 ||
            BE_DUZ_PKM_get_accounts_value(account_list, account_name, "DB_LOGIN", login, sizeof login, Error) != 0 ||
            BE_DUZ_PKM_get_accounts_value(account_list, account_name, "DB_PASSWD", password.data(),
                                          static_cast<int>(password.size()), Error) != 0 ||
            BE_DUZ_PKM_decrypt(password.data(), static_cast<int>(password.size()), LOCAL, Error) != 0) {
            BE_TRACE(1, "%s: the account's login could not be read", fn);
            return ZPA_FAIL;
        }
        password.resize(std::strlen(password.c_str()));
        if (!plain_word(login) || !plain_word(sid)) {
            DIAG_printf("%s: login '%s' or service '%s' of account %s is not one plain word; nothing installed", fn,
                        login, sid, account_name != nullptr ? account_name : "");
            return ZPA_FAIL;
        }
        if (password.find_first_of("\r\n") != std::string::npos) {
            DIAG_printf("%s: the password of account %s holds a line break; nothing installed", fn,
                        account_name != nullptr ? account_name : "");
            return ZPA_FAIL;
        }
        GM_PARAM_VALUE_typ oracle_home = "";
        GM_PARAM_VALUE_typ tns_admin = "";
        GM_PARAM_get("OEBS", "ORACLE_HOME", oracle_home);
        GM_PARAM_get("OEBS", "TNS_ADMIN", tns_admin);

        be_child::Command command;
        command.program = std::string(oracle_home) + "/bin/sqlplus";
        command.argv = {"sqlplus", "-L", std::string(login) + "@" + sid, kPackageScript};
        std::string input = password + "\n";
        command.input = &input;
        command.output = kPackageLog;
        command.append = true;
        command.environment = {{"SQLPATH", kSqlPath}, {"ORACLE_HOME", oracle_home}, {"TNS_ADMIN", tns_admin}};
        BE_TRACE(4, "%s: %s", fn, be_child::describe(command.argv).c_str());
        const be_child::Result result = be_child::run(command);
        std::fill(input.begin(), input.end(), '\0');
        if (result.output_failed) {
            DIAG_printf("%s: Install QEL PL/SQL package not run: cannot open %s: %s",
                        account_name != nullptr ? account_name : "", kPackageLog, std::strerror(result.error));
            return ZPA_FAIL;
        }
        if (result.exit_code() != 0) {
            DIAG_printf(
                "%s: Install QEL PL/SQL package failed. Please check your qel_package.log file for more details.",
                account_name != nullptr ? account_name : "");
            return ZPA_FAIL;
        }
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", fn);
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
