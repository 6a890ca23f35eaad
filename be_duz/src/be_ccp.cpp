// Central connection profiles: fetches a profile kept by the scheduling server (through the job's
// CP_DATA attribute or the agent's profile utility), decodes and decrypts it with the global key
// and writes it as one account section into a cache file of its own beside CM_DIR.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "be_def.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_shared_file_internal.h"

namespace {

constexpr const char* kCcpUtil = "orvgetccp";
constexpr const char* kEnvUtil = "orvagenv";
// Token that a service-hosted agent hands (encrypted with the local key) to the profile utility.
constexpr const char* kSaasToken = "OeBsCcPtOkEn4Ag7";
// Longest profile (account) name and room of the encrypted token and the decoded profile.
constexpr std::size_t kProfileNameMax = 63;
constexpr int kTokenSize = 512;
constexpr int kDecodedSize = 4096;

bool is_tracking_type(const char* reqType) {
    return reqType && (std::strcmp(reqType, "TRACK") == 0 || std::strcmp(reqType, "TRACK_INIT") == 0 ||
                       std::strcmp(reqType, "STATISTICS") == 0);
}

// A profile name becomes part of a file name and an argument of the profile utility: it must be a
// plain name that cannot lead out of the cache folder.
bool is_safe_profile_name(const char* name) {
    if (!name || !*name) return false;
    const std::size_t length = std::strlen(name);
    if (length > kProfileNameMax) return false;
    if (std::strstr(name, "..") || std::strchr(name, '/') || std::strchr(name, '\\')) return false;
    for (const char* p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) return false;
    return true;
}

// A cache file name stays a single name inside the cache folder.
bool is_safe_cache_name(const char* name) {
    return name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace

extern "C" {

int BE_DUZ_is_Agent_SaaS(ZPAError* Error) {
    (void)Error;
    // The answer of a failing utility is only "not a service"; it leaves the caller's record alone.
    ZPAError scratch{};
    char value[BE_DUZ_UTIL_VALUE_SIZE] = "";
    if (BE_DUZ_get_agent_util_info(kEnvUtil, "SaaS", "SaaS", value, &scratch) != 0) return 0;
    value[31] = '\0';
    if (std::strcmp(value, "on") == 0) {
        BE_TRACE(4, "%s: Agent is Saas", BE_POS);
        return 1;
    }
    BE_TRACE(4, "%s: Agent is not Saas", BE_POS);
    return 0;
}

void BE_DUZ_clean_ccp_encrypted_data(const char* value, char* cleaned) {
    if (!cleaned) return;
    cleaned[0] = '\0';
    if (!value || value == cleaned) return;
    const std::size_t length = std::strlen(value);
    if (length < 3) return;
    std::memcpy(cleaned, value + 1, length - 3);
    cleaned[length - 3] = '\0';
}

ZPARC BE_DUZ_get_ccp_from_util(const char* ccpName, char* ccpData, ZPAError* Error) {
    if (!ccpName || !ccpData) return ZPA_FAIL;
    char token[kTokenSize] = "";
    const bool saas = BE_DUZ_is_Agent_SaaS(Error) == 1;
    if (saas) {
        int len = kTokenSize;
        if (BE_DUZ_encrypt_aes_local(kSaasToken, token, &len, Error) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: Failed to encrypt token.", BE_POS);
            return ZPA_FAIL;
        }
    }
    // Each argument reaches the utility whole, without a shell.
    const char* argv_plain[] = {"-name", ccpName, "-type", "OEBS", nullptr};
    const char* argv_saas[] = {"-name", ccpName, "-type", "OEBS", "-TOKEN", token, nullptr};
    char value[BE_DUZ_UTIL_VALUE_SIZE] = "";
    if (BE_DUZ_get_agent_util_info_argv(kCcpUtil, saas ? argv_saas : argv_plain, 0, "data", value, Error) != 0)
        return ZPA_FAIL;
    std::snprintf(ccpData, BE_DUZ_CCP_DATA_SIZE, "%s", value);
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_get_ccp_data(const char* ccpName, const char* reqType, ZPAAttrList* Attributes, char* ccpData,
                          ZPAError* Error) {
    if (!ccpName || !ccpData) return ZPA_NOT_FOUND;
    ccpData[0] = '\0';
    if (reqType && std::strcmp(reqType, "SUBMIT") == 0) {
        char* value = nullptr;
        if (!Attributes || ZPAAPI_UTILS_AttrListValueGet(Attributes, const_cast<char*>("CP_DATA"), &value) != 0 ||
            !value) {
            BE_DUZ_UpdateErrorSet(Error, 3, "%s: Could not get CP_DATA job attributes", BE_POS);
            return ZPA_NOT_FOUND;
        }
        if (std::strlen(value) >= BE_DUZ_CCP_DATA_SIZE) {
            BE_DUZ_UpdateErrorSet(Error, 3, "%s: CP_DATA job attribute is longer than %d characters", BE_POS,
                                  BE_DUZ_CCP_DATA_SIZE - 1);
            return ZPA_NOT_FOUND;
        }
        std::strcpy(ccpData, value);
        return ZPA_SUCCESS;
    }
    char raw[BE_DUZ_CCP_DATA_SIZE] = "";
    if (BE_DUZ_get_ccp_from_util(ccpName, raw, Error) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 3, "%s: Could not get CCP '%s' from ccp utility", BE_POS, ccpName);
        return ZPA_NOT_FOUND;
    }
    BE_DUZ_clean_ccp_encrypted_data(raw, ccpData);
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_decrypt_ccp(const char* ccpData, char* decrypted, int* len, ZPAError* Error) {
    if (!ccpData || !decrypted || !len) return ZPA_FAIL;
    int decoded_len = 0;
    std::unique_ptr<unsigned char, decltype(&std::free)> decoded(
        base64_decode(ccpData, static_cast<int>(std::strlen(ccpData)), &decoded_len), &std::free);
    if (!decoded) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Decode CCP error");
        return ZPA_FAIL;
    }
    if (decoded_len >= kDecodedSize) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: Decoded CCP is longer than %d bytes", BE_POS, kDecodedSize - 1);
        return ZPA_FAIL;
    }
    char cipher[kDecodedSize] = {};
    std::memcpy(cipher, decoded.get(), static_cast<std::size_t>(decoded_len));
    decoded.reset();
    return BE_DUZ_decrypt_aes_global(cipher, decrypted, len, Error);
}

ZPARC BE_DUZ_is_account_lcp(const char* ccpName, ZPAError* Error) {
    char path[4097];
    std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    if (GM_PARAM_subtable_load_file(&sections, path) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: Failed to load account file '%s'.", BE_POS, path);
        BE_DUZ_subtable_list_clear(&sections);
        return ZPA_NOT_FOUND;
    }
    // Section names are upper-cased when the file is read; the account is sought the same way.
    std::string name = ccpName ? ccpName : "";
    gm_param::to_upper(name);
    ZPALIST_handle_typ* section = nullptr;
    const bool found = ccpName && GM_PARAM_subtable_list_find(&sections, name.c_str(), &section) == CM_RC_OK;
    BE_DUZ_subtable_list_clear(&sections);
    return found ? ZPA_SUCCESS : ZPA_NOT_FOUND;
}

ZPARC BE_DUZ_load_ccp_data_to_file(const char* ccpName, char* cacheFileName, const char* reqType,
                                   ZPAAttrList* Attributes, ZPAError* Error) {
    if (!ccpName || !cacheFileName) return ZPA_FAIL;
    try {
        if (BE_DUZ_is_account_lcp(ccpName, Error) == ZPA_SUCCESS) return ZPA_NOT_FOUND;
        if (!is_safe_profile_name(ccpName)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: Invalid connection profile name '%.63s'", BE_POS, ccpName);
            return ZPA_FAIL;
        }
        cacheFileName[0] = '\0';
        if (BE_DUZ_create_ccp_cache_file_name(reqType, ccpName, cacheFileName, Attributes, Error) != 0) return ZPA_FAIL;
        if (!is_safe_cache_name(cacheFileName)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: Invalid ccp cache file name '%s'", BE_POS, cacheFileName);
            return ZPA_FAIL;
        }
        char path[4097] = "";
        const bool have_path = BE_DUZ_full_ccp_file_path(cacheFileName, path) == 0;
        if (is_tracking_type(reqType)) {
            BE_TRACE(4,
                     "%s: Action is %s- not loading CCP data from server. Using file from cache file created in job "
                     "submission",
                     BE_POS, reqType);
            return ZPA_SUCCESS;
        }
        // The cache file is emptied (bits 0744) through the shared-file facility, like every
        // rewrite of it: a reader sees the old profile or the new one, never part of one.
        os_shared::Options cache_options;
        cache_options.new_mode = 0744;
        cache_options.force_mode = true;
        if (!have_path || os_shared::write_file(path, "", cache_options) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: Could not create ccp file: %s", BE_POS, path);
            return ZPA_FAIL;
        }

        std::string data(BE_DUZ_CCP_DATA_SIZE, '\0');
        if (BE_DUZ_get_ccp_data(ccpName, reqType, Attributes, data.data(), Error) != 0) return ZPA_NOT_FOUND;
        std::string profile(BE_DUZ_CCP_DATA_SIZE, '\0');
        int len = BE_DUZ_CCP_DATA_SIZE;
        BE_DUZ_decrypt_ccp(data.c_str(), profile.data(), &len, Error);
        char account[kProfileNameMax + 1];
        std::snprintf(account, sizeof account, "%s", ccpName);
        return BE_DUZ_PKM_populate_account_data(nullptr, account, profile.data(), nullptr, nullptr, nullptr, nullptr,
                                                cacheFileName, Error);
    } catch (...) {
        return ZPA_FAIL;
    }
}

}  // extern "C"
