// One-time re-encryption of the accounts file: while the indicator ./data/DUZ_enc_ind.dat exists,
// every password still held in the old hexadecimal obfuscation is turned into the current stored
// form (local key); the file is rewritten once and the indicator removed.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"

namespace {

// Length of a password in the old obfuscated form: 64 bytes as two hexadecimal digits each.
constexpr std::size_t kOldFormLength = 128;

// A Blowfish text of the stored form: groups of four characters, each a signed byte in decimal
// left-padded with "0".
bool is_blowfish_text(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::size_t k = i;
        while (k < i + 4 && text[k] == '0') ++k;
        if (k == i + 4) continue;  // "0000"
        const std::string rest = text.substr(k, i + 4 - k);
        std::size_t pos = rest[0] == '-' ? 1 : 0;
        if (pos == rest.size()) return false;
        for (std::size_t j = pos; j < rest.size(); ++j)
            if (!std::isdigit(static_cast<unsigned char>(rest[j]))) return false;
        const int value = std::stoi(rest);
        if (value < -128 || value > 127) return false;
    }
    return true;
}

// True for a password in the old form only: exactly 128 hexadecimal digits that are not a
// Blowfish text. Text with an AES key prefix, a Blowfish text or anything else was converted
// already (or was never obfuscated) and must be left alone.
bool is_old_form(const std::string& text) {
    if (text.size() != kOldFormLength) return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !is_blowfish_text(text);
}

}  // namespace

extern "C" {

ZPARC BE_ENV_update_encryption(ZPAError* Error) {
    char indicator[4097];
    char accounts[4097];
    std::snprintf(indicator, sizeof indicator, "./data/%s.dat", BE_DUZ_ENC_INDICATOR_FILE_NAME);
    std::snprintf(accounts, sizeof accounts, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    struct stat st {};
    if (stat(indicator, &st) != 0) return ZPA_SUCCESS;
    BE_TRACE(4, "%s indicator File exists ", BE_POS);

    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    try {
        // The accounts file's locks are held from the load to the indicator's removal. Another
        // thread or process that converted the file meanwhile has removed the indicator: then
        // there is nothing left to do.
        os_shared::FileLock lock(accounts, be_accounts_file_options());
        if (lock && stat(indicator, &st) != 0) return ZPA_SUCCESS;
        if (!lock || GM_PARAM_subtable_load_file(&sections, accounts) != CM_RC_OK) {
            BE_DUZ_subtable_list_clear(&sections);
            BE_DUZ_UpdateErrorSet(Error, 0, "%s:Could not find old accounts file. No accounts to update%s", BE_POS, "");
            return ZPA_FAIL;
        }
        auto account = std::make_unique<BE_DUZ_account_data_handle>();
        for (const std::string& name : be_section_names(&sections)) {
            std::memset(account.get(), 0, sizeof *account);
            std::snprintf(account->account_name, sizeof account->account_name, "%s", name.c_str());
            ZPAError missing{};
            if (BE_DUZ_PKM_get_accounts_value(&sections, account->account_name, "DB_PASSWD", account->password,
                                              sizeof account->password, &missing) != 0) {
                BE_TRACE(4, "%s: account %s has no DB_PASSWD, nothing to convert", BE_POS, account->account_name);
                continue;
            }
            if (!is_old_form(account->password)) {
                BE_TRACE(4, "%s: password of account %s is not in the old form, left as it is", BE_POS,
                         account->account_name);
                continue;
            }
            GM_PARAM_decrypt(account->password);
            if (BE_DUZ_PKM_encrypt(account->password, sizeof account->password, LOCAL, Error) != 0) {
                std::memset(account->password, 0, sizeof account->password);
                BE_DUZ_subtable_list_clear(&sections);
                BE_DUZ_UpdateErrorSet(Error, 1, "%s:Error- could not encrypt password (account %s)", BE_POS,
                                      account->account_name);
                return ZPA_FAIL;
            }
            GM_PARAM_subtable_list_set(&sections, account->account_name, "DB_PASSWD", account->password);
        }
        std::memset(account.get(), 0, sizeof *account);
        const CM_RC saved = GM_PARAM_subtable_list_save(&sections, accounts);
        BE_DUZ_subtable_list_clear(&sections);
        if (saved != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(saved), "%s Failed to save account file %s.", BE_POS,
                                  accounts);
            return ZPA_FAIL;
        }
        BE_TRACE(4, "%s: Accounts file updated with new encryption %s.", BE_POS, accounts);
        if (unlink(indicator) == 0)
            BE_TRACE(4, "%s: indicator file deleted", BE_POS);
        else
            BE_TRACE(4, "%s: Error deleting indicator file", BE_POS);
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_subtable_list_clear(&sections);
        return ZPA_FAIL;
    }
}

}  // extern "C"
