/* SHA-256 (FIPS 180-4): streaming hash with a portable kernel and one for the x86 SHA
 * extensions. Plain C, no heap, no Windows header, so C and C++ code alike (the launcher, the
 * content tool, the game-file cipher) share one implementation. */
#ifndef KM_CORE_SHA256_H
#define KM_CORE_SHA256_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
}
#endif

#endif
