/* The account data of the job-definition form ("GetAccountData"): the output and child-request
 * settings of one account, read from its section of the accounts file and answered as one whole
 * text. */
#include "be_internal.h"
#include "be_list_internal.h"

#include <cstdio>
#include <string>

namespace {

/* Room of one setting read from the account's section (2047 characters and the terminator). */
constexpr int kSettingSize = 2048;

/* A setting of the accounts file, its value when the section lacks it, and its answer element. */
struct Setting {
    const char* key;
    const char* fallback;
    const char* element;
};
constexpr Setting kSettings[] = {
    {"DUZ-CONFIG_DISPLAYLOG", "Y", "DUZ-DISPLAY_LOGFILE"},
    {"DUZ-CONFIG_DISPLAYOUTPUT", "N", "DUZ-DISPLAY_OUTPUT"},
    {"CONVERT_WARNING2OK", "N", "DUZ-CONVERT_WARNING2OK"},
    {"DUZ-WAITCHILD", "Y", "DUZ-WAITCHILD"},
    {"DUZ-DEPENDCHILD", "N", "DUZ-SUBSTATUS"},
};

ZPARC account_data(BE_DUZ_xmldata_handle* handle, ZPAAttrList* Attributes, ZPAError* Error) {
    const char* account = be_list::request_value(Attributes, "DUZ-INSTANCE");
    if (account == nullptr || *account == '\0') {
        BE_DUZ_UpdateErrorSet(Error, 1, "Account name is missing");
        return ZPA_FAIL;
    }
    char path[64];
    std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    BeSections sections;
    if (GM_PARAM_subtable_load_file(&sections.list, path) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account file %s", path);
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ* rows = nullptr;
    if (GM_PARAM_subtable_list_find(&sections.list, account, &rows) != CM_RC_OK || rows == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to find account %s in accounts file", account);
        return ZPA_FAIL;
    }

    be_list::Answer answer(Error);
    if (answer.begin(handle->header) != ZPA_SUCCESS) return ZPA_FAIL;
    std::string value(kSettingSize, '\0');
    for (const Setting& setting : kSettings) {
        if (GM_PARAM_list_get(rows, setting.key, value.data(), kSettingSize) != CM_RC_OK)
            std::snprintf(value.data(), kSettingSize, "%s", setting.fallback);
        if (answer.element(setting.element, value.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    if (answer.finish() != ZPA_SUCCESS) return ZPA_FAIL;
    return be_list::hand_over(handle, answer, Error);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_get_account_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                   ZPAAttrList* Attributes, ZPAError* Error) {
    (void)DUZ_handle;
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_account_data_list");
    if (xmldata_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing list handle", "BE_DUZ_get_account_data_list");
        return ZPA_FAIL;
    }
    try {
        return account_data(xmldata_handle, Attributes, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_get_account_data_list");
        return ZPA_FAIL;
    }
}

CM_EXTERN_C_END
