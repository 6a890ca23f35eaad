/* String-encryption library (liborvsecure.so): AES encryption of short texts such as stored
 * passwords under named keys read from a key-aliases file. Owns the context type ORVSECU_ctx and
 * the cipher-text form "!<cipher alias>@<key alias>!<Base64 of IV, cipher text and tag>". */
#ifndef ORVSECURE_H
#define ORVSECURE_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

#define ORVSECU_MAX_KEY_ALIASES 20
#define ORVSECU_MAX_CIPHER_ALIASES 20
#define ORVSECU_ERROR_MSG_SIZE 300

typedef struct {
    char alias[32];  /* key alias, e.g. "local" */
    char path[1024]; /* file the key material was read from */
    char key[32];    /* AES-256 key: SHA-256 of the key material */
} ORVSECU_key_alias;

typedef struct {
    char cipher[40]; /* cipher alias, e.g. "AES256GCM" */
    int strenth;     /* key length in bits */
} ORVSECU_cipher_alias;

/* One caller's context. It is a flat block allocated with malloc: a caller may release it with
 * free (for example after a failed init) or with OrvStringEncryptors_cleanup. */
typedef struct {
    char error_msg[ORVSECU_ERROR_MSG_SIZE]; /* reason of the last failure */
    char last_iv[33];                       /* IV of the last operation, hexadecimal */
    char ssl_version[128];
    char ssl_platform[128];
    char ssl_built_on[128];
    int ssl_fips_mode;
    char orvsecure_lib_version[64];
    ORVSECU_key_alias key_aliases_list[ORVSECU_MAX_KEY_ALIASES];
    int key_aliases_num;
    ORVSECU_cipher_alias cipher_alias_list[ORVSECU_MAX_CIPHER_ALIASES];
    int cipher_alias_num;
} ORVSECU_ctx;

/* Result codes: 0 success, the rest failures with the reason in error_msg. */
enum {
    ORVSECU_OK = 0,
    ORVSECU_ERR_ARGUMENT = 1,      /* missing or invalid argument */
    ORVSECU_ERR_KEY_FILE = 2,      /* key-aliases file or a key file unreadable or malformed */
    ORVSECU_ERR_UNKNOWN_ALIAS = 3, /* cipher or key alias not known */
    ORVSECU_ERR_BUFFER = 4,        /* output buffer too small */
    ORVSECU_ERR_FORMAT = 5,        /* cipher text not of the library's form */
    ORVSECU_ERR_AUTH = 6,          /* cipher text not made with this key, or altered */
    ORVSECU_ERR_CRYPTO = 7,        /* the crypto library failed */
    ORVSECU_ERR_PROVOKED = 8       /* failure asked for through APPBRIDGE_ORVSECURE_FAIL */
};

/* Makes a new context in *ctx from the key-aliases file. options is reserved (callers pass 0).
 * On failure *ctx may still hold a context whose error_msg says why. */
int OrvStringEncryptors_init(ORVSECU_ctx** ctx, int options, const char* key_aliases_file);

/* Encrypts plain_len bytes under the cipher and key aliases into out (room: *out_len bytes),
 * NUL-terminated; *out_len becomes the text's length. with_prefix 1 puts the
 * "!<cipher>@<key>!" prefix in front (callers pass 1), 0 leaves the bare text. plain and out may
 * be the same buffer. */
int OrvStringEncryptors_encrypt(ORVSECU_ctx* ctx, const char* plain, int plain_len, const char* cipher_alias,
                                const char* key_alias, char* out, int* out_len, int with_prefix);

/* Decrypts cipher_len bytes of text (with or without its prefix) into out (room: *out_len bytes,
 * a terminator included); *out_len becomes the number of plain bytes. In place is allowed. */
int OrvStringEncryptors_decrypt(ORVSECU_ctx* ctx, const char* cipher, int cipher_len, char* out, int* out_len,
                                const char* cipher_alias, const char* key_alias);

/* Releases *ctx (its keys wiped first) and clears the pointer. */
int OrvStringEncryptors_cleanup(ORVSECU_ctx** ctx);

/* As encrypt, with explicit key material instead of a key alias's key; iv may be null with
 * iv_len 0 (a random IV is drawn). key_alias only names the key in the output's prefix. */
int OrvStringEncryptors_encrypt_with_iv_and_key(ORVSECU_ctx* ctx, const char* plain, int plain_len,
                                                const char* cipher_alias, const char* key, int key_len, char* out,
                                                int* out_len, const char* iv, int iv_len, const char* key_alias);

/* As decrypt, with explicit key material: key is the cipher key, integrity_key the key that
 * authenticates CBC text (callers pass the same material twice; GCM authenticates with key). The
 * IV travels inside the cipher text: iv may be null with iv_len 0; a given IV must be the one the
 * text carries. */
int OrvStringEncryptors_decrypt_with_iv_and_key(ORVSECU_ctx* ctx, const char* cipher, int cipher_len, char* out,
                                                int* out_len, const char* iv, int iv_len, const char* cipher_alias,
                                                const char* key, int key_len, const char* integrity_key,
                                                int integrity_key_len);

CM_EXTERN_C_END

#endif
