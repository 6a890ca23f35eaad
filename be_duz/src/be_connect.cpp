/* Sessions for a named account without an agent connection (the alert watcher and the
 * configuration-manager requests), and the search for a request's account name. */
#include "be_def.h"
#include "gm_param.h"
#include "gm_xml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kInstanceKey = "DUZ-INSTANCE";

/* Copies an account name, cut to the room of the caller's buffer. */
void copy_name(char* out, const char* name, std::size_t length) {
    if (length > BE_DUZ_INSTANCE_NAME_SIZE - 1) length = BE_DUZ_INSTANCE_NAME_SIZE - 1;
    std::memcpy(out, name, length);
    out[length] = '\0';
}

char* attr(ZPAAttrList* list, const char* name) {
    char* value = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(list, const_cast<char*>(name), &value) != 0) return nullptr;
    return value;
}

/* Sets one Oracle variable from table OEBS; always (empty when the key is missing) or only when
 * the key is there. */
void env_from_oebs_table(const char* name, bool always, char** kept) {
    GM_PARAM_VALUE_typ value = "";
    bool found = GM_PARAM_get("OEBS", name, value) == CM_RC_OK;
    if (!found && !always) return;
    if (!found) value[0] = '\0';
    if (BE_DUZ_set_oracle_env(name, value, kept) != 0) DIAG_printf("Failed to set %s in the environment", name);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_find_instance(ZPAAttrList* Attributes, char* inst_name, ZPAError* Error) {
    (void)Error;
    if (inst_name == nullptr) return 1;
    const char* value = attr(Attributes, kInstanceKey);
    if (value != nullptr && *value != '\0') {
        copy_name(inst_name, value, std::strlen(value));
        return 0;
    }
    value = attr(Attributes, "TEXT");
    if (value != nullptr) {
        if (*value == '\0') return 0;
        char name[BE_DUZ_INSTANCE_NAME_SIZE] = "";
        if (GM_XML_ParseBody(value, kInstanceKey, name, sizeof name, nullptr, 0, nullptr, 0) == CM_RC_OK &&
            name[0] != '\0') {
            copy_name(inst_name, name, std::strlen(name));
            return 0;
        }
    }
    value = attr(Attributes, "SHOUT_DESTINATION");
    if (value != nullptr) {
        if (*value == '\0') return 0;
        const char* colon = std::strchr(value, ':');
        if (colon == nullptr) return 1;
        copy_name(inst_name, value, static_cast<std::size_t>(colon - value));
        return 0;
    }
    const char* orderno = attr(Attributes, "ORDERNO");
    const char* runno = attr(Attributes, "RUNNO");
    if (orderno == nullptr || runno == nullptr) return 1;
    if (std::atoi(runno) < 1) {
        orderno = attr(Attributes, "MEMLIB");
        runno = attr(Attributes, "MEMNAME");
        if (orderno == nullptr || runno == nullptr || std::atoi(runno) < 1) return 1;
    }
    PATHNAME_D_typ path = "";
    BE_DUZ_build_procid_fname(path, orderno, runno);
    char name[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    if (BE_DUZ_file_get(path, kInstanceKey, BE_DUZ_INSTANCE_NAME_SIZE - 1, name, nullptr) == 0) {
        copy_name(inst_name, name, std::strlen(name));
        return 0;
    }
    char backup_key[80];
    std::snprintf(backup_key, sizeof backup_key, "%s%s", "%%", kInstanceKey);
    BE_DUZ_build_backup_fname(path, orderno, runno);
    ZPARC rc = BE_DUZ_file_get(path, backup_key, BE_DUZ_INSTANCE_NAME_SIZE - 1, name, nullptr);
    if (rc == 0) copy_name(inst_name, name, std::strlen(name));
    return rc;
}

ZPARC BE_DUZ_connect_to_OEBS(char* account_name, BE_DUZ_Handles** pDUZ_handle, ZPAError* Error) {
    if (account_name == nullptr || pDUZ_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing account name or session address", BE_POS);
        return 1;
    }
    if (*pDUZ_handle != nullptr) {
        BE_DUZ_OCI_CLOSE_Session(*pDUZ_handle, 'Y', Error);
        *pDUZ_handle = nullptr;
    }

    char cache_name[BE_DUZ_CCP_NAME_SIZE] = "";
    PATHNAME_D_typ path = "";
    if (BE_DUZ_load_ccp_data_to_file(account_name, cache_name, "TUNNEL", nullptr, Error) != 0 ||
        BE_DUZ_full_ccp_file_path(cache_name, path) != 0)
        std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);

    ZPALIST_handle_typ accounts;
    ZPALIST_init(&accounts);
    ZPALIST_handle_typ* account = nullptr;
    if (GM_PARAM_subtable_load_file(&accounts, path) != CM_RC_OK) {
        GM_PARAM_subtable_list_clear(&accounts);
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account file '%s'.", path);
        return 1;
    }
    if (GM_PARAM_subtable_list_find(&accounts, account_name, &account) != CM_RC_OK || account == nullptr) {
        GM_PARAM_subtable_list_clear(&accounts);
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account '%s' from file %s", account_name, path);
        return 1;
    }
    auto* handle = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
    if (handle == nullptr) {
        GM_PARAM_subtable_list_clear(&accounts);
        BE_DUZ_UpdateErrorSet(Error, 1, "DUZ_handle malloc failed");
        return 1;
    }
    BE_DUZ_OCI_Init_Handle(handle);

    /* The watcher's sessions take the Oracle environment from table OEBS only. */
    env_from_oebs_table("ORACLE_HOME", true, &handle->GLBL_oraHome);
    env_from_oebs_table("TNS_ADMIN", true, &handle->GLBL_tnsAdmn);
    env_from_oebs_table("NLS_LANG", false, &handle->GLBL_nlsLang);

    ZPAAttrList account_attrs = {0, nullptr, 0};
    ZPARC rc = ZPAAPI_UTILS_list2attr(account, &account_attrs);
    GM_PARAM_subtable_list_clear(&accounts);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "Failed to fill instanceAttributesList with account details values.");
        ZPAAPI_utils_release_attr(&account_attrs);
        BE_DUZ_OCI_CLOSE_Session(handle, 'N', nullptr);
        return rc;
    }
    rc = BE_DUZ_OCI_START_Session(&account_attrs, handle, Error);
    ZPAAPI_utils_release_attr(&account_attrs);
    if (rc != 0) {
        BE_DUZ_OCI_CLOSE_Session(handle, 'N', Error);
        handle = nullptr;
    }
    *pDUZ_handle = handle;
    return rc;
}

CM_EXTERN_C_END
