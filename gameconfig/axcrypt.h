/* axcrypt: the encrypted text fields of the game client's coinit.tmp.
 *
 * A field is a short text (1 to 128 bytes) encrypted with AES-256-CBC under a key derived
 * from a pass phrase and a per-field IV, followed by an HMAC-SHA-256 tag, and written as
 * Base64 in lines of 76 characters:
 *
 *     IV (16) | ciphertext (16 * ceil(L / 16)) | tag (32)
 *
 * The text length L is not stored: the low four bits of IV[15] carry L mod 16 (0 = the last
 * block is full). The IV is SHA-256 of the time in seconds, L and a fixed tag, so a field
 * encrypted twice in the same second is the same text. Readers never check the tag.
 *
 * The primitives are the standard ones (FIPS-197, FIPS 180-4, RFC 2104, RFC 4648), written
 * here so the launcher needs no crypto library. Plain C, no heap, no Windows header: this
 * header is included by C and C++ alike, so it cannot start with core/base.h. */
#ifndef KM_GAMECONFIG_AXCRYPT_H
#define KM_GAMECONFIG_AXCRYPT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  AX_MAX_PLAIN = 128,      /* longest text a field holds */
  AX_MIN_OUTPUT = 300,     /* ax_encrypt's smallest output buffer (largest text form: 243) */
  AX_MAX_DECODED = 1024,   /* ax_decrypt judges at most this many decoded bytes */
  AX_DERIVE_ROUNDS = 8192
};

/* SHA-256 in progress; lives on the caller's stack. */
typedef struct sha_ctx {
  uint32_t state[8];
  uint64_t total;          /* bytes fed so far */
  uint8_t block[64];
  size_t pending;          /* bytes waiting in block */
} sha_ctx;

void sha_init(sha_ctx* ctx);
void sha_add(sha_ctx* ctx, const void* data, size_t length);
void sha_end(sha_ctx* ctx, uint8_t digest[32]);
void sha256(const void* data, size_t length, uint8_t digest[32]);

/* Compresses whole 64-byte blocks into the state; runs on every CPU. sha_add uses the x86
 * SHA extensions instead when the CPU has them (sha256_ni.h); both give the same state. */
void sha_blocks_portable(uint32_t state[8], const uint8_t* data, size_t blocks);
/* 1: let sha_add use the SHA extensions when the CPU has them (the default); 0: the portable
 * kernel only (tests and benchmarks compare the two). Returns 1 when the extensions are in use. */
int sha_use_extensions(int wanted);

/* RFC 2104 HMAC; keys longer than 64 bytes are hashed first. */
void hmac_sha256(const uint8_t* key, size_t key_length, const void* data, size_t length,
                 uint8_t mac[32]);

/* AES-256 key expansion into 60 words; the first call also builds the S-boxes. */
void aes_key(const uint8_t key[32], uint32_t schedule[60]);
void aes_encrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]);
void aes_decrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]);

/* Base64 with "=" padding and CR LF after every 76 characters (none after the last).
 * Returns the characters written without the NUL, or 0 when out_size is too small. */
size_t b64_encode(const uint8_t* data, size_t length, char* out, size_t out_size);
/* Decodes the alphabet's characters and skips every other one; keeps at most out_size
 * bytes and drops leftover bits. Returns the bytes kept. */
size_t b64_decode(const char* text, uint8_t* out, size_t out_size);

/* key = H after 8192 rounds of H = SHA-256(H | pass phrase), H starting as salt | 16 zeros. */
void derive(const uint8_t salt[16], const char* passphrase, uint8_t key[32]);

/* Encrypts the NUL-terminated plain text into its NUL-terminated text form. Returns the
 * characters written (CR LF included), or 0 without touching out when the text is empty or
 * longer than 128 bytes or out_size is below 300. */
int ax_encrypt(const char* passphrase, const char* plain, char* out, size_t out_size);
/* The same for a given calendar time in seconds (ax_encrypt passes the current one). */
int ax_encrypt_at(const char* passphrase, const char* plain, int64_t seconds, char* out,
                  size_t out_size);

/* Decrypts a text form into a NUL-terminated string of at most out_size - 1 bytes and
 * returns its length; 0 means failure or an empty result, and out then holds "". A wrong
 * pass phrase or damaged text gives an arbitrary string, not an error. */
int ax_decrypt(const char* passphrase, const char* text, char* out, size_t out_size);

#ifdef __cplusplus
}
#endif

#endif
