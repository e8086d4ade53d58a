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

/* AES-256 key expansion into 60 words; the first call also builds the S-boxes. */
void aes_key(const uint8_t key[32], uint32_t schedule[60]);
void aes_encrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]);
void aes_decrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]);

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
