// Encryption key change of the accounts file, driven by the agent one action per call: back the
// file up, re-encrypt every stored password from the old local key to the new one ("Deploy"),
// restore the backup, or remove it. Only ./data/DUZ_inst.dat and its backup are touched.
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"

namespace {

std::string data_file(const char* name) { return std::string("./data/") + name + ".dat"; }

// The backup holds a copy of the accounts file made through the shared-file facility, so neither
// is ever seen half-written. Results are those of the copy and remove commands they replace: 0 on
// success, 1 on failure.
ZPARC copy_accounts_file(const std::string& from, const std::string& to) {
    std::string content;
    if (os_shared::read_file(from, content) != CM_RC_OK) return ZPA_FAIL;
    // Either file holds the passwords: the copy is the agent owner's alone, as its source is.
    return os_shared::write_file(to, content, be_accounts_file_options()) == CM_RC_OK ? ZPA_SUCCESS : ZPA_FAIL;
}

ZPARC remove_backup(const std::string& backup) {
    os_shared::FileLock lock(backup);
    if (!lock || !lock.exists()) return ZPA_FAIL;
    return lock.remove() == CM_RC_OK ? ZPA_SUCCESS : ZPA_FAIL;
}

// The backup replaces the accounts file under the accounts file's locks, then goes.
ZPARC restore_backup(const std::string& backup, const std::string& accounts) {
    os_shared::FileLock lock(accounts, be_accounts_file_options());
    std::string content;
    if (!lock || os_shared::read_file(backup, content) != CM_RC_OK || lock.rewrite(content) != CM_RC_OK)
        return ZPA_FAIL;
    return remove_backup(backup);
}

// A decimal length attribute, clamped to the length of the value it describes.
int clamp_length(const char* length_text, const char* value) {
    const long announced = std::strtol(length_text, nullptr, 10);
    const long actual = static_cast<long>(strnlen(value, INT_MAX));
    if (announced < 0) return 0;
    return static_cast<int>(announced > actual ? actual : announced);
}

ZPARC deploy(ZPAAttrList* AttributesIn, ZPAError* Error) {
    const std::string accounts = data_file(BE_DUZ_ACCOUNTS_FILE_NAME);
    // The accounts file's locks are held from the load to the save.
    os_shared::FileLock lock(accounts, be_accounts_file_options());
    if (!lock) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s Failed to save account file %s.", BE_POS, accounts.c_str());
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    if (BE_DUZ_load_all_lcp(&sections) == 0) {
        BE_TRACE(4, " %s LCP file is empty, no encryption action neccessery.", BE_POS);
        return ZPA_SUCCESS;
    }
    // A list that counts attributes it does not hold is refused before anything reads it.
    if (AttributesIn != nullptr &&
        (AttributesIn->Count < 0 || (AttributesIn->Count > 0 && !AttributesIn->Attributes))) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s Invalid attribute list: it counts %d attributes but does not hold them.",
                              BE_POS, AttributesIn->Count);
        BE_DUZ_subtable_list_clear(&sections);
        return ZPA_FAIL;
    }
    // The input holds the key material: only the names of its attributes are traced.
    if (DIAG_debug_level() >= 4 && AttributesIn) {
        for (int i = 0; i < AttributesIn->Count; ++i)
            BE_TRACE(4, "%s: input attribute %s", BE_POS,
                     AttributesIn->Attributes[i].Name ? AttributesIn->Attributes[i].Name : "");
    }
    char* new_key = nullptr;
    char* old_key = nullptr;
    int new_key_len = 0;
    int old_key_len = 0;
    ZPARC rc = ZPA_SUCCESS;
    ORVSECU_ctx* ctx = nullptr;
    if (BE_DUZ_get_keys_info(AttributesIn, &new_key, &new_key_len, &old_key, &old_key_len) != 0) {
        rc = ZPA_FAIL;
    } else if (!(ctx = BE_DUZ_get_encyption_module(0, Error))) {
        rc = ZPA_FAIL;
    } else {
        auto account = std::make_unique<BE_DUZ_account_data_handle>();
        for (const std::string& name : be_section_names(&sections)) {
            std::memset(account.get(), 0, sizeof *account);
            std::snprintf(account->account_name, sizeof account->account_name, "%s", name.c_str());
            if (BE_DUZ_update_aes_key_per_account(&sections, account.get(), new_key, new_key_len, old_key, old_key_len,
                                                  ctx, Error) != 0)
                rc = ZPA_FAIL;
        }
        std::memset(account.get(), 0, sizeof *account);
        if (GM_PARAM_subtable_list_save(&sections, accounts.c_str()) == CM_RC_OK) {
            BE_TRACE(4, "%s: Accounts file updated with new encryption %s.", BE_POS, accounts.c_str());
        } else {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s Failed to save account file %s.", BE_POS, accounts.c_str());
            rc = ZPA_FAIL;
        }
    }
    BE_DUZ_subtable_list_clear(&sections);
    return rc;
}

}  // namespace

extern "C" {

int BE_DUZ_load_all_lcp(ZPALIST_handle_typ* list) {
    if (!list) return 0;
    const std::string accounts = data_file(BE_DUZ_ACCOUNTS_FILE_NAME);
    if (GM_PARAM_subtable_load_file(list, accounts.c_str()) != CM_RC_OK) {
        BE_TRACE(4, "%s: Change Key- Failed to load account file '%s'", BE_POS, accounts.c_str());
        BE_DUZ_subtable_list_clear(list);
        return 0;
    }
    return ZPALIST_count(list);
}

ZPARC BE_DUZ_get_keys_info(ZPAAttrList* AttributesIn, char** new_key, int* new_key_len, char** old_key,
                           int* old_key_len) {
    if (!AttributesIn || !new_key || !new_key_len || !old_key || !old_key_len) return ZPA_FAIL;
    char* nk = nullptr;
    char* nkl = nullptr;
    char* ok = nullptr;
    char* okl = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("NEW_KEY"), &nk) != 0 || !nk ||
        ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("NEW_KEY_LEN"), &nkl) != 0 || !nkl ||
        ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("OLD_KEY"), &ok) != 0 || !ok ||
        ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("OLD_KEY_LEN"), &okl) != 0 || !okl) {
        BE_TRACE(4, "%s: Change Key- missing key attributes", BE_POS);
        return ZPA_FAIL;
    }
    *new_key = nk;
    *new_key_len = clamp_length(nkl, nk);
    *old_key = ok;
    *old_key_len = clamp_length(okl, ok);
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_update_aes_key_per_account(ZPALIST_handle_typ* list, BE_DUZ_account_data_handle* account,
                                        const char* new_key, int new_key_len, const char* old_key, int old_key_len,
                                        ORVSECU_ctx* ctx, ZPAError* Error) {
    if (!list || !account || !new_key || !old_key || !ctx) return ZPA_FAIL;
    if (BE_DUZ_PKM_get_accounts_value(list, account->account_name, "DB_PASSWD", account->password,
                                      sizeof account->password, Error) != 0) {
        BE_TRACE(1, "%s:Could nof get password for account %s", BE_POS, account->account_name);
        return ZPA_FAIL;
    }
    char plain[BE_DUZ_PASSWORD_SIZE] = {};
    int plain_len = sizeof plain;
    int rc = OrvStringEncryptors_decrypt_with_iv_and_key(
        ctx, account->password, static_cast<int>(std::strlen(account->password)), plain, &plain_len, nullptr, 0,
        BE_DUZ_LOCAL_CIPHER, old_key, old_key_len, old_key, old_key_len);
    if (rc != 0 || plain_len < 0 || plain_len >= static_cast<int>(sizeof plain)) {
        BE_TRACE(1, "%s:error in OrvStringEncryptors_decrypt_with_iv_and_key %.300s (account %s)", BE_POS,
                 ctx->error_msg, account->account_name);
        std::memset(plain, 0, sizeof plain);
        return ZPA_FAIL;
    }
    char cipher[BE_DUZ_PASSWORD_SIZE] = {};
    int cipher_len = sizeof cipher;
    rc = OrvStringEncryptors_encrypt_with_iv_and_key(ctx, plain, plain_len, BE_DUZ_LOCAL_CIPHER, new_key, new_key_len,
                                                     cipher, &cipher_len, nullptr, 0, BE_DUZ_LOCAL_KEY_ALIAS);
    std::memset(plain, 0, sizeof plain);
    if (rc != 0 || cipher_len < 0 || cipher_len >= static_cast<int>(sizeof cipher)) {
        BE_TRACE(1, "%s:error in OrvStringEncryptors_encrypt_with_iv_and_key %.300s", BE_POS, ctx->error_msg);
        return ZPA_FAIL;
    }
    cipher[cipher_len] = '\0';
    if (GM_PARAM_subtable_list_set(list, account->account_name, "DB_PASSWD", cipher) != CM_RC_OK) return ZPA_FAIL;
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_PASSWORDKEY_ACTION(struct ZPAConnHandle* ConnHandle, char* Action, ZPAAttrList* AttributesIn,
                                ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)ConnHandle;
    (void)AttributesOut;
    if (!Action) return ZPA_SUCCESS;
    try {
        BE_TRACE(4, "Starting: '%s'", "ZPAAPI_PASSWORDKEY_ACTION");
        const std::string accounts = data_file(BE_DUZ_ACCOUNTS_FILE_NAME);
        const std::string backup = data_file(BE_DUZ_ACCOUNTS_BACKUP_FILE_NAME);
        ZPARC rc = ZPA_SUCCESS;
        if (std::strcmp(Action, "BackUp") == 0) {
            BE_TRACE(4, " %s BackUp: '%s' to '%s'", BE_POS, accounts.c_str(), backup.c_str());
            rc = copy_accounts_file(accounts, backup);
        }
        if (std::strcmp(Action, "CleanUp") == 0) {
            BE_TRACE(4, " %s CleanUp: '%s'", BE_POS, backup.c_str());
            rc = remove_backup(backup);
        }
        if (std::strcmp(Action, "Restore") == 0) {
            BE_TRACE(4, " %s Restore: '%s' to '%s'", BE_POS, backup.c_str(), accounts.c_str());
            rc = restore_backup(backup, accounts);
            if (rc != ZPA_SUCCESS) BE_TRACE(1, " %sError restoring '%s'", BE_POS, backup.c_str());
        }
        if (std::strcmp(Action, "Deploy") == 0) rc = deploy(AttributesIn, Error);
        BE_TRACE(4, "Ending: '%s'", "ZPAAPI_PASSWORDKEY_ACTION");
        return rc;
    } catch (...) {
        return ZPA_FAIL;
    }
}

}  // extern "C"
