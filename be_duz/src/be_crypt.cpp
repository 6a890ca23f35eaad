// Stored-password encryption: AES through the string-encryption library when the agent's
// encryption type is "aes", the Blowfish text form otherwise. Owns the per-thread encryption type
// and library context, the AES wrappers and the key-prefix operations.
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_def.h"
#include "gm_blowf.h"

namespace {

// The agent utility that reports the encryption type and the key-aliases file.
constexpr const char* encyptionUtilCmd = "orvagcpk ";
constexpr const char* encyptionUtilArgs = "-p 2>& 1";
constexpr const char* kEncTypeKey = "Encryption type";
constexpr const char* kKeyAliasesKey = "Key aliases file name";
constexpr int kKeyAliasesPathSize = 16384;

// Everything about encryption is held per calling thread; nothing here is shared.
thread_local int enc_type_initialized = -1;
thread_local char encType[BE_DUZ_ENC_TYPE_SIZE] = "";
thread_local int initiated = 0;
thread_local ORVSECU_ctx* ctxPtr = nullptr;

bool is_aes_type(ZPAError* Error) { return std::strcmp(BE_DUZ_get_encyption_type(Error), "aes") == 0; }

// The library's last error text, bounded to its field.
std::string lib_error(const ORVSECU_ctx* ctx) {
    if (!ctx) return std::string();
    return std::string(ctx->error_msg, strnlen(ctx->error_msg, sizeof ctx->error_msg));
}

ZPARC blowfish_result(CM_RC rc, ZPAError* Error, const char* what) {
    if (rc == CM_RC_OK) return ZPA_SUCCESS;
    if (Error) BE_DUZ_UpdateErrorSet(Error, 1, "%s: Blowfish %s of the password failed", BE_POS, what);
    return ZPA_FAIL;
}

}  // namespace

extern "C" {

char* BE_DUZ_get_encyption_type(ZPAError* Error) {
    if (enc_type_initialized != 1) {
        char value[BE_DUZ_UTIL_VALUE_SIZE] = "";
        if (BE_DUZ_get_agent_util_info(encyptionUtilCmd, encyptionUtilArgs, kEncTypeKey, value, Error) == 0) {
            const std::size_t n = strnlen(value, sizeof encType - 1);
            std::memcpy(encType, value, n);
            encType[n] = '\0';
            enc_type_initialized = 1;
            BE_TRACE(4, "%s:  Agent's encryption type is: %s", BE_POS, encType);
        } else {
            BE_TRACE(4, "%s: Error getting Agent's encryption type", BE_POS);
        }
    }
    return encType;
}

ORVSECU_ctx* BE_DUZ_get_encyption_module(int cleanup_mode, ZPAError* Error) {
    if (initiated == 1) {
        BE_TRACE(5, "%s: encryption model was already initiated.", BE_POS);
        return ctxPtr;
    }
    if (cleanup_mode == 1) return nullptr;
    BE_TRACE(3, "%s: initiating encyprion model.", BE_POS);
    std::string path(kKeyAliasesPathSize, '\0');
    path[0] = '0';
    if (BE_DUZ_get_agent_util_info(encyptionUtilCmd, encyptionUtilArgs, kKeyAliasesKey, path.data(), Error) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error getting key_alias_file_path");
        return nullptr;
    }
    ctxPtr = nullptr;
    const int rc = OrvStringEncryptors_init(&ctxPtr, 0, path.c_str());
    if (rc == 0 && ctxPtr) {
        initiated = 1;
        return ctxPtr;
    }
    if (ctxPtr) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "%s: Error result from OrvStringEncryptors_init: %s", BE_POS, lib_error(ctxPtr).c_str());
        std::free(ctxPtr);
        ctxPtr = nullptr;
    } else {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "Error in OrvStringEncryptors_init. ctxPtr is null");
    }
    return nullptr;
}

ZPARC BE_DUZ_clean_encyption_info(ZPAError* Error) {
    ORVSECU_ctx* ctx = BE_DUZ_get_encyption_module(1, Error);
    int rc = 0;
    if (ctx) {
        rc = OrvStringEncryptors_cleanup(&ctx);
        if (rc != 0)
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Error in OrvStringEncryptors_cleanup");
    }
    initiated = 0;
    ctxPtr = nullptr;
    return rc;
}

ZPARC BE_DUZ_encrypt_aes(const char* plain, const char* cipherAlias, const char* keyAlias, char* cipher_out, int* len,
                         ZPAError* Error) {
    if (!plain || !cipherAlias || !keyAlias || !cipher_out || !len) {
        BE_TRACE(1,
                 "%s : error -> at least one of the following is NULL: cpassword_plain, cipherAlias, keyAlias, "
                 "ciphertext_out, ciphertext_len",
                 BE_POS);
        return -1;
    }
    ORVSECU_ctx* ctx = BE_DUZ_get_encyption_module(0, Error);
    // Without a context the record keeps what the context step stored.
    if (!ctx) return ZPA_FAIL;
    const int rc = OrvStringEncryptors_encrypt(ctx, plain, static_cast<int>(std::strlen(plain)), cipherAlias, keyAlias,
                                               cipher_out, len, 1);
    if (rc != 0)
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s: Encryption lib error msg : %s", BE_POS,
                              lib_error(ctx).c_str());
    return rc;
}

ZPARC BE_DUZ_decrypt_aes(const char* cipher, const char* cipherAlias, const char* keyAlias, char* plain_out, int* len,
                         ZPAError* Error) {
    if (!cipher || !plain_out || !len) {
        BE_TRACE(1,
                 "%s : Error -> at least one of the following is NULL: ciphertext, password_plain, "
                 "password_plain_len",
                 BE_POS);
        return -1;
    }
    ORVSECU_ctx* ctx = BE_DUZ_get_encyption_module(0, Error);
    if (!ctx) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: Encryption lib not loaded properly", BE_POS);
        return ZPA_FAIL;
    }
    const int room = *len;
    const int rc = OrvStringEncryptors_decrypt(ctx, cipher, static_cast<int>(std::strlen(cipher)), plain_out, len,
                                               cipherAlias, keyAlias);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s: Encryption lib error msg : %s", BE_POS,
                              lib_error(ctx).c_str());
        return rc;
    }
    // The terminator must stay inside the output: plain text that fills it is refused.
    if (*len < 0 || *len >= room) {
        if (room > 0) std::memset(plain_out, 0, static_cast<std::size_t>(room));
        *len = 0;
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: Decrypted text does not fit its buffer of %d bytes", BE_POS, room);
        return ZPA_FAIL;
    }
    plain_out[*len] = '\0';
    return 0;
}

ZPARC BE_DUZ_encrypt_aes_local(const char* plain, char* cipher_out, int* len, ZPAError* Error) {
    BE_TRACE(5, "%s: BE_DUZ_encrypt_aes_local", BE_POS);
    return BE_DUZ_encrypt_aes(plain, BE_DUZ_LOCAL_CIPHER, BE_DUZ_LOCAL_KEY_ALIAS, cipher_out, len, Error);
}

ZPARC BE_DUZ_encrypt_aes_global(const char* plain, char* cipher_out, int* len, ZPAError* Error) {
    BE_TRACE(5, "%s: BE_DUZ_encrypt_aes_global", BE_POS);
    return BE_DUZ_encrypt_aes(plain, BE_DUZ_GLOBAL_CIPHER, BE_DUZ_GLOBAL_KEY_ALIAS, cipher_out, len, Error);
}

ZPARC BE_DUZ_decrypt_aes_local(const char* cipher, char* plain_out, int* len, ZPAError* Error) {
    BE_TRACE(5, "%s: BE_DUZ_decrypt_aes_local", BE_POS);
    return BE_DUZ_decrypt_aes(cipher, BE_DUZ_LOCAL_CIPHER, BE_DUZ_LOCAL_KEY_ALIAS, plain_out, len, Error);
}

ZPARC BE_DUZ_decrypt_aes_global(const char* cipher, char* plain_out, int* len, ZPAError* Error) {
    BE_TRACE(5, "%s: BE_DUZ_decrypt_aes_global", BE_POS);
    return BE_DUZ_decrypt_aes(cipher, BE_DUZ_GLOBAL_CIPHER, BE_DUZ_GLOBAL_KEY_ALIAS, plain_out, len, Error);
}

ZPARC BE_DUZ_PKM_encrypt(char* text, int size, EncryptionKey key, ZPAError* Error) {
    BE_TRACE(4, "%s: BE_DUZ_PKM_encrypt", BE_POS);
    if (!text || size < 1) return ZPA_FAIL;
    try {
        if (!is_aes_type(Error)) return blowfish_result(GM_BLOWF_encrypt(text, size), Error, "encryption");
        if (key == CHECK_PREFIX) key = BE_DUZ_AES_get_key_from_prefix(text);
        int len = size;
        return key == GLOBAL ? BE_DUZ_encrypt_aes_global(text, text, &len, Error)
                             : BE_DUZ_encrypt_aes_local(text, text, &len, Error);
    } catch (...) {
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_decrypt(char* text, int size, EncryptionKey key, ZPAError* Error) {
    BE_TRACE(4, "%s: BE_DUZ_PKM_decrypt", BE_POS);
    if (!text || size < 1) return ZPA_FAIL;
    try {
        if (!is_aes_type(Error)) return blowfish_result(GM_BLOWF_decrypt(text, size), Error, "decryption");
        if (key == CHECK_PREFIX) key = BE_DUZ_AES_get_key_from_prefix(text);
        int len = size;
        return key == GLOBAL ? BE_DUZ_decrypt_aes_global(text, text, &len, Error)
                             : BE_DUZ_decrypt_aes_local(text, text, &len, Error);
    } catch (...) {
        return ZPA_FAIL;
    }
}

EncryptionKey BE_DUZ_AES_get_key_from_prefix(const char* text) {
    const char* at = text ? std::strchr(text, '@') : nullptr;
    if (!at) {
        BE_TRACE(4, "%s: No prefix found!", BE_POS);
        return MAX_SCOPES;
    }
    if (at[1] == 'l') {
        BE_TRACE(4, "%s: Key is LOCAL", BE_POS);
        return LOCAL;
    }
    if (at[1] == 'g') {
        BE_TRACE(4, "%s: Key is GLOBAL", BE_POS);
        return GLOBAL;
    }
    return MAX_SCOPES;
}

void BE_DUZ_add_prefix(char* text, int buffer_len, EncryptionKey scope) {
    if (!text || !*text) {
        BE_TRACE(4, "%s: Invalid input- string null or empty", BE_POS);
        return;
    }
    const std::size_t length = std::strlen(text);
    const std::size_t prefix_room = std::strlen(BE_DUZ_GLOBAL_PREFIX);
    if (buffer_len < 0 || length + prefix_room + 1 > static_cast<std::size_t>(buffer_len)) {
        BE_TRACE(4, "%s: Password buffer is too small. Can not add prefix", BE_POS);
        return;
    }
    if (std::strchr(text, '!')) {
        BE_TRACE(4, "%s: Prefix already exists. Not adding another one", BE_POS);
        return;
    }
    const char* prefix = BE_DUZ_LOCAL_PREFIX;
    if (scope == GLOBAL) {
        BE_TRACE(4, "%s: Adding global prefix", BE_POS);
        prefix = BE_DUZ_GLOBAL_PREFIX;
    } else {
        BE_TRACE(4, "%s: Adding local prefix", BE_POS);
    }
    const std::size_t plen = std::strlen(prefix);
    std::memmove(text + plen, text, length + 1);
    std::memcpy(text, prefix, plen);
}

void BE_DUZ_remove_prefix(char* text) {
    if (!text || !*text) {
        BE_TRACE(4, "%s: Invalid input- string null or empty", BE_POS);
        return;
    }
    char* first = std::strchr(text, '!');
    if (!first) {
        BE_TRACE(4, "%s: Invalid input- No prifix start", BE_POS);
        return;
    }
    char* second = std::strchr(first + 1, '!');
    if (!second) {
        BE_TRACE(4, "%s: Invalid input- No prifix end", BE_POS);
        return;
    }
    std::memmove(text, second + 1, std::strlen(second + 1) + 1);
}

char* BE_DUZ_process_path(char* path) {
    if (!path || !*path) {
        BE_TRACE(4, "%s: Input path is null of empty. No proccesing preformed", BE_POS);
        return nullptr;
    }
    for (char* p = path; *p; ++p) {
        if (*p == '\\') {
            *p = '/';
        } else if (*p == '\n') {
            *p = '\0';
            break;
        }
    }
    return path;
}

}  // extern "C"
