// Account sections of the accounts file ./data/DUZ_inst.dat and of central-profile cache files:
// reading one key of an account and writing an account's whole section from its XML text, with
// the password re-encrypted from the global key to the local one.
#include <cstring>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "be_pkm_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_shared_file_internal.h"

namespace {

// One required element copied into one key of the account's section.
struct Member {
    const char* xml_key;
    const char* file_key;
};
constexpr Member kFlagMembers[] = {
    {"EnableLogOutput", "DUZ-LOAD_DBPKG"},        {"AppendLog", "DUZ-CONFIG_DISPLAYLOG"},
    {"AppendOutput", "DUZ-CONFIG_DISPLAYOUTPUT"}, {"ConvertWarningToOK", "CONVERT_WARNING2OK"},
    {"MonitorChildReq", "DUZ-WAITCHILD"},         {"JobCompDependChild", "DUZ-DEPENDCHILD"},
};

// The value elements of an account besides the flags.
constexpr const char* kValueElements[] = {"DBServiceName", "APPSLoginName", "NLSLanguage", "NLSChar"};

// Value of an element of the account's XML text (room BE_DUZ_XML_VALUE_SIZE); false when missing.
bool xml_value(char* xml, const char* tag, std::string& value) {
    std::string buffer(BE_DUZ_XML_VALUE_SIZE + 1, '\0');
    if (!xml || !BE_DUZ_get_XML_value(xml, tag, buffer.data())) return false;
    value.assign(buffer.c_str());
    return true;
}

bool set_key(ZPALIST_handle_typ* list, const char* account, const char* key, const std::string& value) {
    return GM_PARAM_subtable_list_set(list, account, key, value.c_str()) == CM_RC_OK;
}

// Sets a key from a required element: false when the element is missing or the key not set.
bool set_member(ZPALIST_handle_typ* list, char* xml, const char* account, const char* xml_key, const char* file_key) {
    std::string value;
    if (!xml_value(xml, xml_key, value)) {
        BE_TRACE(4, "%s: Couldn't find value for %s key", BE_POS, xml_key);
        return false;
    }
    return set_key(list, account, file_key, value);
}

enum class WriteResult { written, key_failed, encryption_failed };

// The writer's steps after the file is loaded; a failure leaves its reason in the error record.
WriteResult write_section(ZPALIST_handle_typ* list, char* account_to_update, const char* account, char* xml,
                          ZPAError* Error) {
    auto key_failed = [&](const char* key) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set key %s for account %s table", key, account);
        return WriteResult::key_failed;
    };
    if (account_to_update && *account_to_update && GM_PARAM_subtable_list_delete(list, account_to_update) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Delete of %s sublist failed", account_to_update);
        return WriteResult::key_failed;
    }
    if (!set_key(list, account, "CM_APPL_TYPE", "OEBS")) return key_failed("CM_APPL_TYPE");
    if (!set_member(list, xml, account, "DBServiceName", "DB_SID")) return key_failed("DB_SID");
    if (!set_member(list, xml, account, "APPSLoginName", "DB_LOGIN")) return key_failed("DB_LOGIN");

    std::string password;
    xml_value(xml, "APPSPassword", password);
    if (password.size() >= BE_DUZ_PASSWORD_SIZE) return key_failed("DB_PASSWD");
    char buffer[BE_DUZ_PASSWORD_SIZE] = {};
    std::memcpy(buffer, password.data(), password.size());
    if (BE_DUZ_PKM_decrypt(buffer, sizeof buffer, GLOBAL, Error) != 0)
        BE_TRACE(1,
                 "%s: Decrypt action has failed. Still try encryption, because for ccp, encryption of password "
                 "occured earlier. ",
                 BE_POS);
    const ZPARC enc = BE_DUZ_PKM_encrypt(buffer, sizeof buffer, LOCAL, Error);
    if (enc != 0) return WriteResult::encryption_failed;
    ZPAAPI_UTILS_ErrorSet(Error, 0, "%s", "");
    const bool stored = set_key(list, account, "DB_PASSWD", buffer);
    std::memset(buffer, 0, sizeof buffer);
    if (!stored) return key_failed("DB_PASSWD");

    std::string nls;
    xml_value(xml, "NLSLanguage", nls);
    if (!set_key(list, account, "NLS_LANG", nls)) return key_failed("NLS_LANG");
    nls.clear();
    xml_value(xml, "NLSChar", nls);
    if (!set_key(list, account, "NLS_CHAR", nls)) return key_failed("NLS_CHAR");

    for (const Member& m : kFlagMembers)
        if (!set_member(list, xml, account, m.xml_key, m.file_key)) return key_failed(m.file_key);
    return WriteResult::written;
}

}  // namespace

namespace be_pkm {

const char* stored_value_flaw(std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos) return "a line break in its value";
    return gm_param::value_flaw(value);  // blanks at its ends, which the file would not give back
}

bool account_name_fits(const char* field, const std::string& name, ZPAError* Error) {
    const char* flaw = name.find_first_of("[]\r\n") != std::string::npos ? "a bracket or line break in its name"
                                                                         : gm_param::section_name_flaw(name);
    if (flaw != nullptr) BE_DUZ_UpdateErrorSet(Error, 1, "%s refused: %s", field, flaw);
    return flaw == nullptr;
}

bool account_values_fit(char* request, ZPAError* Error) {
    auto fits = [&](const char* tag) {
        std::string value;
        const char* flaw = xml_value(request, tag, value) ? stored_value_flaw(value) : nullptr;
        if (flaw != nullptr) BE_DUZ_UpdateErrorSet(Error, 1, "%s refused: %s", tag, flaw);
        return flaw == nullptr;
    };
    for (const char* tag : kValueElements)
        if (!fits(tag)) return false;
    for (const Member& m : kFlagMembers)
        if (!fits(m.xml_key)) return false;
    return true;
}

}  // namespace be_pkm

extern "C" {

ZPARC BE_DUZ_PKM_get_accounts_value(ZPALIST_handle_typ* account_list, const char* account_name, const char* key,
                                    char* list_val, int val_size, ZPAError* Error) {
    if (account_list && account_name && key && list_val && val_size > 0 &&
        GM_PARAM_subtable_list_get(account_list, account_name, key, list_val, val_size) == CM_RC_OK)
        return ZPA_SUCCESS;
    if (key && (std::strcmp(key, "NLS_LANG") == 0 || std::strcmp(key, "NLS_CHAR") == 0)) {
        // Optional keys: a missing one reads as an empty text.
        if (list_val && val_size > 0) list_val[0] = '\0';
        return ZPA_SUCCESS;
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get value for %s for account %s table", key ? key : "",
                          account_name ? account_name : "");
    return ZPA_FAIL;
}

ZPARC BE_DUZ_PKM_populate_account_data(char* account_to_update, char* account_name, char* account_xml_buffer,
                                       BE_DUZ_xmldata_handle* response_handle, char* request_error_message,
                                       char* request_error_code, char* request_name, char* ccp_file_name,
                                       ZPAError* Error) {
    ZPAError local_error{};
    if (!Error) Error = &local_error;
    if (!account_name || !*account_name) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: No account name to write", BE_POS);
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    try {
        // What the file cannot hold as sent is refused before it is touched.
        if (!be_pkm::account_name_fits("AccountName", account_name, Error) ||
            !be_pkm::account_values_fit(account_xml_buffer, Error)) {
            if (response_handle)
                BE_DUZ_PKM_prepare_response(response_handle, account_name, Error, request_error_message,
                                            request_error_code, request_name);
            return ZPA_FAIL;
        }
        char path[4097] = "";
        if (ccp_file_name) {
            if (BE_DUZ_full_ccp_file_path(ccp_file_name, path) != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load %s accounts file", ccp_file_name);
                return ZPA_FAIL;
            }
        } else {
            std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
        }
        // The file's locks are held from the load to the save: an account that another thread or
        // process adds in between is not lost. The save below goes through this lock.
        os_shared::FileLock lock(path, be_accounts_file_options());
        const CM_RC load = lock ? GM_PARAM_subtable_load_file(&sections, path) : CM_RC_FAIL;
        if (load != CM_RC_OK && load != CM_RC_END) {
            BE_DUZ_subtable_list_clear(&sections);
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load %s accounts file", path);
            if (response_handle)
                BE_DUZ_PKM_prepare_response(response_handle, account_name, Error, request_error_message,
                                            request_error_code, request_name);
            return ZPA_FAIL;
        }
        ZPARC rc = ZPA_SUCCESS;
        const WriteResult written =
            write_section(&sections, account_to_update, account_name, account_xml_buffer, Error);
        if (written != WriteResult::written) {
            BE_DUZ_subtable_list_clear(&sections);
            // A failed password encryption prepares no answer.
            if (written == WriteResult::key_failed && response_handle)
                BE_DUZ_PKM_prepare_response(response_handle, account_name, Error, request_error_message,
                                            request_error_code, request_name);
            return ZPA_FAIL;
        }
        char dbpkg[8] = "";
        if (BE_DUZ_PKM_get_accounts_value(&sections, account_name, "DUZ-LOAD_DBPKG", dbpkg, sizeof dbpkg, Error) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get the key %s for account %s table", "DUZ-LOAD_DBPKG",
                                  account_name);
            rc = ZPA_FAIL;
        } else if (std::strcmp(dbpkg, "Y") == 0) {
            if (ZPAError install_error{}; BE_DUZ_PKM_install_package(&sections, account_name, &install_error) != 0) {
                BE_TRACE(1, "%s: Database package install failed for account %s", BE_POS, account_name);
            }
        }
        if (rc == ZPA_SUCCESS) {
            if (GM_PARAM_subtable_list_save(&sections, path) == CM_RC_OK) {
                BE_TRACE(4, "Account '%s' saved successfully into %s.", account_name, path);
            } else {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save account '%s' into %s.", account_name, path);
                rc = ZPA_FAIL;
            }
        }
        BE_DUZ_subtable_list_clear(&sections);
        if (response_handle)
            BE_DUZ_PKM_prepare_response(response_handle, account_name, Error, request_error_message, request_error_code,
                                        request_name);
        return rc;
    } catch (...) {
        BE_DUZ_subtable_list_clear(&sections);
        return ZPA_FAIL;
    }
}

}  // extern "C"
