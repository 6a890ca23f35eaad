/* The configuration manager's account requests: add, list, delete, update and validate the OEBS
 * accounts of ./data/DUZ_inst.dat. Passwords travel encrypted with the global key and are stored
 * with the local one; adding, deleting and renaming an account keeps the watcher's watch-times
 * file in step. The request texts hold passwords: neither they nor the answers are logged. */
#include "be_event_watcher.h"
#include "be_internal.h"
#include "be_list_internal.h"
#include "be_pkm_internal.h"
#include "gm_param.h"
#include "os_shared_file_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char* kAddRequest = "Orvcm_add_account_request";
constexpr const char* kAddCode = "OEBS7012";
constexpr const char* kAddMessage = "Add Connection Profile %s Failed.";
constexpr const char* kGetCode = "OEBS7011";
constexpr const char* kGetMessage = "Get Connection Profiles Failed.";
constexpr const char* kDeleteCode = "OEBS7013";
constexpr const char* kDeleteMessage = "Delete Connection Profile %s Failed.";
constexpr const char* kUpdateRequest = "Orvcm_update_account_request";
constexpr const char* kUpdateCode = "OEBS7015";
constexpr const char* kUpdateMessage = "Update Connection Profile %s Failed.";
constexpr const char* kValidateCode = "OEBS7014";
constexpr const char* kValidateMessage = "Validate Connection Profile %s Failed.";
constexpr const char* kValidateRequest = "Orvcm_validate_account_request";
constexpr const char* kValidated = "Validation for Connection Profile %s completed successfully.";
/* This plug-in's version number as the account list tells it. */
constexpr double kCmVersion = 9021.0;
/* First room of the account list answer. */
constexpr long kAccountsFirstRoom = 10240;

/* The flags of an account: request element, section key. */
struct Flag {
    const char* element;
    const char* key;
};
constexpr Flag kFlags[] = {
    {"EnableLogOutput", "DUZ-LOAD_DBPKG"},        {"AppendLog", "DUZ-CONFIG_DISPLAYLOG"},
    {"AppendOutput", "DUZ-CONFIG_DISPLAYOUTPUT"}, {"ConvertWarningToOK", "CONVERT_WARNING2OK"},
    {"MonitorChildReq", "DUZ-WAITCHILD"},         {"JobCompDependChild", "DUZ-DEPENDCHILD"},
};

std::string accounts_path() { return std::string("./data/") + BE_DUZ_ACCOUNTS_FILE_NAME + ".dat"; }

/* A failure message of the account requests with the account name in place of its "%s". */
std::string with_account(const char* format, const std::string& account) {
    std::string text(format != nullptr ? format : "");
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, account);
    return text;
}

using Sections = BeSections;

/* A password buffer that is wiped when it goes. */
struct Secret {
    char text[BE_DUZ_PASSWORD_SIZE] = {};
    ~Secret() { std::memset(text, 0, sizeof text); }
};

/* The record's text and code, kept across a call that must not change them. */
struct SavedError {
    explicit SavedError(ZPAError* error) : error_(error) {
        if (error_ != nullptr) saved_ = *error_;
    }
    ~SavedError() {
        if (error_ != nullptr) *error_ = saved_;
    }
    ZPAError* error_;
    ZPAError saved_{};
};

ZPARC prepare(BE_DUZ_xmldata_handle* handle, const std::string& account, ZPAError* Error, const char* message,
              const char* code, const char* request) {
    return BE_DUZ_PKM_prepare_response(handle, const_cast<char*>(account.c_str()), Error, const_cast<char*>(message),
                                       const_cast<char*>(code), const_cast<char*>(request));
}

/* Changes the watch-times file after an account change; its failure adds its own text. */
void follow_in_watch_times(const char* action, const std::string& account, const std::string& old_account,
                           const char* failure, ZPAError* Error) {
    std::string name = account;
    std::string old_name = old_account;
    if (EW_update_event_watch_times_file(const_cast<char*>(action), name.data(),
                                         old_account.empty() ? nullptr : old_name.data(), Error) != CM_RC_OK) {
        BE_TRACE(1, failure, account.c_str());
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", with_account(failure, account).c_str());
    }
}

/* One account's element of the account list; false after storing the reason. */
bool account_element(ZPALIST_handle_typ* sections, const char* account, std::string& element, ZPAError* Error) {
    char sid[BE_DUZ_PASSWORD_SIZE] = "";
    char login[BE_DUZ_PASSWORD_SIZE] = "";
    Secret password;
    char nls_lang[BE_DUZ_PASSWORD_SIZE] = "";
    char nls_char[BE_DUZ_PASSWORD_SIZE] = "";
    if (BE_DUZ_PKM_get_accounts_value(sections, account, "DB_SID", sid, sizeof sid, Error) != 0 ||
        BE_DUZ_PKM_get_accounts_value(sections, account, "DB_LOGIN", login, sizeof login, Error) != 0 ||
        BE_DUZ_PKM_get_accounts_value(sections, account, "DB_PASSWD", password.text, sizeof password.text, Error) !=
            0 ||
        BE_DUZ_PKM_get_accounts_value(sections, account, "NLS_LANG", nls_lang, sizeof nls_lang, Error) != 0 ||
        BE_DUZ_PKM_get_accounts_value(sections, account, "NLS_CHAR", nls_char, sizeof nls_char, Error) != 0)
        return false;
    if (BE_DUZ_PKM_decrypt(password.text, sizeof password.text, LOCAL, Error) != 0 ||
        BE_DUZ_PKM_encrypt(password.text, sizeof password.text, GLOBAL, Error) != 0)
        return false;
    BE_DUZ_remove_prefix(password.text);
    element = std::string("<Accounts><AccountName>") + be_pkm::escaped(account) + "</AccountName><DBServiceName>" +
              be_pkm::escaped(sid) + "</DBServiceName><APPSLoginName>" + be_pkm::escaped(login) +
              "</APPSLoginName><APPSPassword>" + be_pkm::escaped(password.text) + "</APPSPassword><NLSLanguage>" +
              be_pkm::escaped(nls_lang) + "</NLSLanguage><NLSChar>" + be_pkm::escaped(nls_char) + "</NLSChar>";
    static constexpr const char* kElements[] = {"EnableLogOutput",    "AppendLog",       "AppendOutput",
                                                "ConvertWarningToOK", "MonitorChildReq", "JobCompDependChild"};
    for (std::size_t i = 0; i < std::size(kFlags); ++i) {
        char flag[2] = "";
        if (BE_DUZ_PKM_get_accounts_value(sections, account, kFlags[i].key, flag, sizeof flag, Error) != 0)
            return false;
        element += std::string("<") + kElements[i] + ">" + be_pkm::escaped(flag) + "</" + kElements[i] + ">";
    }
    element += "</Accounts>";
    return true;
}

/* Opens and closes a session with the section's values; 0 when it opened. */
ZPARC try_session(ZPALIST_handle_typ* section, ZPAError* Error) {
    auto* session = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
    if (session == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "DUZ_handle malloc failed");
        return ZPA_FAIL;
    }
    BE_DUZ_OCI_Init_Handle(session);
    for (const char* name : {"ORACLE_HOME", "TNS_ADMIN", "NLS_LANG"}) {
        GM_PARAM_VALUE_typ value = "";
        const bool found = GM_PARAM_get("OEBS", name, value) == CM_RC_OK;
        if (!found && std::strcmp(name, "NLS_LANG") == 0) continue;
        char** kept = std::strcmp(name, "ORACLE_HOME") == 0 ? &session->GLBL_oraHome
                      : std::strcmp(name, "TNS_ADMIN") == 0 ? &session->GLBL_tnsAdmn
                                                            : &session->GLBL_nlsLang;
        if (BE_DUZ_set_oracle_env(name, found ? value : "", kept) != 0)
            DIAG_printf("Failed to set %s in the environment", name);
    }
    ZPAAttrList attributes{0, nullptr, 0};
    ZPARC rc = ZPAAPI_UTILS_list2attr(section, &attributes);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "Failed to fill instanceAttributesList with account details values.");
    } else {
        rc = BE_DUZ_OCI_START_Session(&attributes, session, Error);
    }
    if (attributes.Attributes != nullptr) ZPAAPI_utils_release_attr(&attributes);
    BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
    return rc;
}

}  // namespace

namespace be_pkm {

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

bool element(char* request, const char* tag, std::string& value) {
    std::string buffer(BE_DUZ_XML_VALUE_SIZE + 1, '\0');
    if (request == nullptr || BE_DUZ_get_XML_value(request, tag, buffer.data()) == nullptr) return false;
    value.assign(buffer.c_str());
    return true;
}

std::string reason(const ZPAError* Error) {
    if (Error == nullptr) return std::string();
    std::string text(Error->text, strnlen(Error->text, sizeof Error->text));
    static constexpr std::string_view kPrefix = BE_DUZ_ERROR_PREFIX;
    if (text.compare(0, kPrefix.size(), kPrefix) == 0) text.erase(0, kPrefix.size());
    return text;
}

ZPARC answered(const BE_DUZ_xmldata_handle* handle, ZPARC rc) {
    if (handle != nullptr && handle->xmlResponse != nullptr) return ZPA_SUCCESS;
    return rc != ZPA_SUCCESS ? rc : ZPA_FAIL;
}

}  // namespace be_pkm

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_PKM_set_account_member(char* buffer, char* xml_key, char* file_attr_key, ZPALIST_handle_typ* account_list,
                                    char* account_name, ZPAError* Error) {
    std::string value;
    if (!be_pkm::element(buffer, xml_key, value)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Couldn't find value for %s key", xml_key != nullptr ? xml_key : "");
        return ZPA_FAIL;
    }
    if (GM_PARAM_subtable_list_set(account_list, account_name, file_attr_key, value.c_str()) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set key %s for account %s table", file_attr_key,
                              account_name != nullptr ? account_name : "");
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_PKM_prepare_response(BE_DUZ_xmldata_handle* response_handle, char* account_name, ZPAError* Error,
                                  char* request_error_message, char* request_error_code, char* request_name) {
    try {
        const std::string account = account_name != nullptr ? account_name : "";
        const std::string message = with_account(request_error_message, account);
        std::string body;
        if (request_name != nullptr && std::strcmp(request_name, kValidateRequest) == 0)
            body = "<Message>" + be_pkm::escaped(with_account(kValidated, account)) + "</Message>";
        const ZPARC rc = BE_DUZ_PKM_prepare_xml_response(
            response_handle, body.data(), Error, const_cast<char*>(message.c_str()), request_error_code, request_name);
        if (rc != ZPA_SUCCESS)
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to prepare response for: %s.",
                                  request_name != nullptr ? request_name : "");
        return rc;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for xml_response");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_prepare_get_accounts_response(BE_DUZ_xmldata_handle* response_handle, char* accounts_buffer,
                                               size_t accounts_buffer_size, ZPAError* Error) {
    (void)accounts_buffer_size;
    return BE_DUZ_PKM_prepare_xml_response(response_handle, accounts_buffer, Error, const_cast<char*>(kGetMessage),
                                           const_cast<char*>(kGetCode),
                                           const_cast<char*>("Orvcm_get_accounts_request"));
}

ZPARC BE_DUZ_PKM_add_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    try {
        std::string account;
        be_pkm::element(account_xml_buffer, "AccountName", account);
        // A request the files cannot hold as sent changes neither the accounts nor the watch times.
        if (!be_pkm::account_name_fits("AccountName", account, Error) ||
            !be_pkm::account_values_fit(account_xml_buffer, Error))
            return be_pkm::answered(response_handle,
                                    prepare(response_handle, account, Error, kAddMessage, kAddCode, kAddRequest));
        const ZPARC rc = BE_DUZ_PKM_populate_account_data(nullptr, account.data(), account_xml_buffer, response_handle,
                                                          const_cast<char*>(kAddMessage), const_cast<char*>(kAddCode),
                                                          const_cast<char*>(kAddRequest), nullptr, Error);
        follow_in_watch_times(EW_ADD_ACCOUNT, account, "",
                              "Failed to add account %s section to event_watch_times.dat file.", Error);
        return be_pkm::answered(response_handle, rc);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_add_account_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_update_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    try {
        std::string old_account, account;
        be_pkm::element(account_xml_buffer, "AccountToUpdate", old_account);
        be_pkm::element(account_xml_buffer, "AccountName", account);
        if (!be_pkm::account_name_fits("AccountToUpdate", old_account, Error) ||
            !be_pkm::account_name_fits("AccountName", account, Error) ||
            !be_pkm::account_values_fit(account_xml_buffer, Error))
            return be_pkm::answered(
                response_handle, prepare(response_handle, account, Error, kUpdateMessage, kUpdateCode, kUpdateRequest));
        const ZPARC rc = BE_DUZ_PKM_populate_account_data(
            old_account.data(), account.data(), account_xml_buffer, response_handle, const_cast<char*>(kUpdateMessage),
            const_cast<char*>(kUpdateCode), const_cast<char*>(kUpdateRequest), nullptr, Error);
        if (old_account != account)
            follow_in_watch_times(EW_RENAME_ACCOUNT_NAME, account, old_account,
                                  "Failed to rename account %s section in event_watch_times.dat file.", Error);
        return be_pkm::answered(response_handle, rc);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_update_account_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_delete_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    static constexpr const char* kRequest = "Orvcm_delete_account_request";
    try {
        std::string account;
        be_pkm::element(account_xml_buffer, "AccountToDelete", account);
        if (!be_pkm::account_name_fits("AccountToDelete", account, Error))
            return be_pkm::answered(response_handle,
                                    prepare(response_handle, account, Error, kDeleteMessage, kDeleteCode, kRequest));
        const std::string path = accounts_path();
        {
            /* The file's locks are held from the load to the save. */
            os_shared::FileLock lock(path, be_accounts_file_options());
            Sections sections;
            const CM_RC load = lock ? GM_PARAM_subtable_load_file(&sections.list, path.c_str()) : lock.result();
            if (load != CM_RC_OK && load != CM_RC_END) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load %s accounts file", path.c_str());
            } else if (GM_PARAM_subtable_list_delete(&sections.list, account.c_str()) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Delete of %s sublist failed", account.c_str());
            } else if (GM_PARAM_subtable_list_save(&sections.list, path.c_str()) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to delete account '%s' from %s.", account.c_str(),
                                      path.c_str());
            }
        }
        const ZPARC rc = prepare(response_handle, account, Error, kDeleteMessage, kDeleteCode, kRequest);
        follow_in_watch_times(EW_DELETE_ACCOUNT, account, "",
                              "Failed to delete account %s section from event_watch_times.dat file.", Error);
        return be_pkm::answered(response_handle, rc);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_delete_account_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_get_accounts_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    (void)account_xml_buffer;
    try {
        const std::string path = accounts_path();
        be_list::Answer accounts(Error, kAccountsFirstRoom);
        {
            Sections sections;
            const CM_RC load = GM_PARAM_subtable_load_file(&sections.list, path.c_str());
            if (load != CM_RC_OK && load != CM_RC_END) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load %s accounts file", path.c_str());
                return be_pkm::answered(response_handle,
                                        BE_DUZ_PKM_prepare_get_accounts_response(response_handle, nullptr, 0, Error));
            }
            for (const std::string& account : be_section_names(&sections.list)) {
                std::string element;
                if (!account_element(&sections.list, account.c_str(), element, Error) ||
                    accounts.raw(element) != ZPA_SUCCESS)
                    return be_pkm::answered(
                        response_handle, BE_DUZ_PKM_prepare_get_accounts_response(response_handle, nullptr, 0, Error));
            }
        }
        char version[64];
        std::snprintf(version, sizeof version, "<%s>%.3f</%s>", "CMVersion", kCmVersion, "CMVersion");
        std::string algorithm;
        {
            /* The agent's encryption type; empty when the utility cannot tell it. */
            SavedError keep(Error);
            algorithm = BE_DUZ_get_encyption_type(Error);
        }
        if (accounts.raw(version) != ZPA_SUCCESS ||
            accounts.raw("<SecureAlg>" + be_pkm::escaped(algorithm) + "</SecureAlg>") != ZPA_SUCCESS)
            return ZPA_FAIL;
        std::string body(accounts.text(), accounts.size());
        const ZPARC rc = BE_DUZ_PKM_prepare_get_accounts_response(response_handle, body.data(), body.size(), Error);
        std::fill(body.begin(), body.end(), '\0');
        return be_pkm::answered(response_handle, rc);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_get_accounts_req");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_get_account_data(char* account_name, ZPALIST_handle_typ* account_data, char* account_xml_buffer,
                                  BE_DUZ_xmldata_handle* response_handle, char* request_error_message,
                                  char* request_error_code, char* request_name, ZPAError* Error) {
    const std::string account = account_name != nullptr ? account_name : "";
    auto fail = [&](const char* key) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set key %s for account %s table", key, account.c_str());
        if (response_handle != nullptr)
            BE_DUZ_PKM_prepare_response(response_handle, account_name, Error, request_error_message, request_error_code,
                                        request_name);
        return ZPA_FAIL;
    };
    if (GM_PARAM_subtable_list_set(account_data, account.c_str(), "CM_APPL_TYPE", "OEBS") != CM_RC_OK)
        return fail("CM_APPL_TYPE");
    if (BE_DUZ_PKM_set_account_member(account_xml_buffer, const_cast<char*>("DBServiceName"),
                                      const_cast<char*>("DB_SID"), account_data, account_name, Error) != 0)
        return fail("DB_SID");
    if (BE_DUZ_PKM_set_account_member(account_xml_buffer, const_cast<char*>("APPSLoginName"),
                                      const_cast<char*>("DB_LOGIN"), account_data, account_name, Error) != 0)
        return fail("DB_LOGIN");
    {
        /* The password as it came, marked as a global-key password. */
        std::string value;
        be_pkm::element(account_xml_buffer, "APPSPassword", value);
        if (value.size() >= BE_DUZ_PASSWORD_SIZE) return fail("DB_PASSWD");
        Secret password;
        std::memcpy(password.text, value.data(), value.size());
        std::fill(value.begin(), value.end(), '\0');
        BE_DUZ_add_prefix(password.text, sizeof password.text, GLOBAL);
        if (GM_PARAM_subtable_list_set(account_data, account.c_str(), "DB_PASSWD", password.text) != CM_RC_OK)
            return fail("DB_PASSWD");
    }
    for (const char* nls : {"NLSLanguage", "NLSChar"}) {
        std::string value;
        if (be_pkm::element(account_xml_buffer, nls, value) && !value.empty() &&
            GM_PARAM_subtable_list_set(account_data, account.c_str(),
                                       std::strcmp(nls, "NLSLanguage") == 0 ? "NLS_LANG" : "NLS_CHAR",
                                       value.c_str()) != CM_RC_OK)
            return fail(std::strcmp(nls, "NLSLanguage") == 0 ? "NLS_LANG" : "NLS_CHAR");
    }
    for (const Flag& flag : kFlags)
        if (BE_DUZ_PKM_set_account_member(account_xml_buffer, const_cast<char*>(flag.element),
                                          const_cast<char*>(flag.key), account_data, account_name, Error) != 0)
            return fail(flag.key);
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_PKM_validate_account(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    try {
        std::string account;
        be_pkm::element(account_xml_buffer, "AccountName", account);
        Sections sections;
        ZPALIST_handle_typ* section = nullptr;
        char* details = BE_DUZ_find_XML_tag(account_xml_buffer, "AccountDetails");
        if (details != nullptr) {
            const ZPARC built = BE_DUZ_PKM_get_account_data(
                account.data(), &sections.list, details, response_handle, const_cast<char*>(kValidateMessage),
                const_cast<char*>(kValidateCode), const_cast<char*>(kValidateRequest), Error);
            std::memset(details, 0, std::strlen(details));
            std::free(details);
            if (built != ZPA_SUCCESS) return be_pkm::answered(response_handle, built);
            if (GM_PARAM_subtable_list_find(&sections.list, account.c_str(), &section) != CM_RC_OK ||
                section == nullptr)
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account '%s' from account_from_request_list list",
                                      account.c_str());
        } else {
            const std::string path = accounts_path();
            if (GM_PARAM_subtable_load_file(&sections.list, path.c_str()) != CM_RC_OK)
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account file '%s'.", path.c_str());
            else if (GM_PARAM_subtable_list_find(&sections.list, account.c_str(), &section) != CM_RC_OK ||
                     section == nullptr)
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account '%s' from file %s", account.c_str(),
                                      path.c_str());
        }
        if (section != nullptr) try_session(section, Error);
        return be_pkm::answered(response_handle, prepare(response_handle, account, Error, kValidateMessage,
                                                         kValidateCode, kValidateRequest));
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_PKM_validate_account");
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
