/* Blowfish value encryption: the block cipher with its key schedule and CBC modes, the decimal
 * text form in which the agent keeps short secret values, and the value routines that encrypt and
 * decrypt such values in place with the built-in default key or with the agent's current key. */
#ifndef GM_BLOWF_H
#define GM_BLOWF_H

#include <stdint.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* One keyed cipher: the four S-boxes, the P-array and the CBC chaining value. */
typedef struct BlowfishContext {
    uint32_t S0[256];
    uint32_t S1[256];
    uint32_t S2[256];
    uint32_t S3[256];
    uint32_t P[18];
    uint32_t iv0;
    uint32_t iv1;
} BlowfishContext;

/* Key length of the value routines, in bytes. */
#define GM_BLOWF_KEY_LEN 32
/* Text that stands for an empty value in the encrypted form. */
#define GM_BLOWF_EMPTY_MARKER "qel_rules"

/* Cipher layer. */
void blowfish_encrypt(uint32_t xL, uint32_t xR, uint32_t* output, BlowfishContext* ctx);
void blowfish_decrypt(uint32_t xL, uint32_t xR, uint32_t* output, BlowfishContext* ctx);
void blowfish_setkey(BlowfishContext* ctx, const unsigned char* key, short keybytes);
void blowfish_lsb_encrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx);
void blowfish_lsb_decrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx);
void blowfish_msb_encrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx);
void blowfish_msb_decrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx);

/* Contexts: a single one, or an encryption/decryption pair; both freed by blowfish_free_context. */
void* blowfish_make_context(void);
void* blowfish_ssh1_make_context(void);
void blowfish_free_context(void* handle);
void blowfish_sesskey(void* handle, const unsigned char* key); /* 32-byte key into a pair */
void blowfish_key(void* handle, const unsigned char* key);     /* 16-byte key, one context */
void blowfish_iv(void* handle, const unsigned char* iv);       /* 8 bytes, one context */
void blowfish_ssh1_encrypt_blk(void* handle, unsigned char* blk, int len);
void blowfish_ssh1_decrypt_blk(void* handle, unsigned char* blk, int len);
void blowfish_ssh2_encrypt_blk(void* handle, unsigned char* blk, int len);
void blowfish_ssh2_decrypt_blk(void* handle, unsigned char* blk, int len);

/* Text form: 4 characters per byte. Both return 0, or 1 when the output is too small. */
int blowfish_tostr(const unsigned char* bytes, int count, char* text, int textsize);
int blowfish_fromstr(const char* text, unsigned char* out, int outsize);

/* Value routines: CM_RC_OK, or CM_RC_FAIL with the value left as it was. */
CM_RC GM_BLOWF_encrypt(char* value, int max_len);
CM_RC GM_BLOWF_decrypt(char* value, int val_size);
CM_RC GM_BLOWF_encrypt_with_key(char* value, int max_len, const unsigned char* key);
CM_RC GM_BLOWF_decrypt_with_key(char* value, int val_size, const unsigned char* key);
CM_RC GM_BLOWF_encrypt_password(char* value, int max_len);
CM_RC GM_BLOWF_decrypt_password(char* value, int val_size);
/* As GM_BLOWF_decrypt without traces: 0 success, 1 failure. */
int blowfish_decrypt_str(char* value, int val_size);

/* Reads a file of lines encrypted with the default key into outBuffer (which the caller zeroes),
 * one "%s\n" per decrypted line. CM_RC_FAIL when a line does not decrypt or does not fit. */
CM_RC GM_BLOWF_readEncryptedFile(const char* fileName, char* outBuffer, int outBufferSize);

/* A newly allocated (malloc) copy of the 32-byte built-in default key; null without memory. */
unsigned char* GM_BLOWF_init_key(void);
/* 1 when the current key is the built-in default key (or cannot be had), else 0. */
int GM_BLOWF_is_default_key(void);

CM_EXTERN_C_END

#endif
