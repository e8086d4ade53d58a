/* SHA-256 block compression with the x86 SHA extensions (SHA-NI), the kernel sha_add uses on
 * CPUs that have them. Built with those instructions enabled for this one function only, so
 * the rest of the program runs on any x86-64 CPU. */
#ifndef KM_CORE_SHA256_NI_H
#define KM_CORE_SHA256_NI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The SHA-256 round constants (FIPS 180-4), defined in sha256.c. */
extern const uint32_t sha_round_constants[64];

/* 1 when this CPU runs sha_blocks_ni (SHA, SSSE3 and SSE4.1). */
int sha_ni_supported(void);

/* Compresses whole 64-byte blocks into the state, like sha_blocks_portable. Call only when
 * sha_ni_supported() is 1. */
void sha_blocks_ni(uint32_t state[8], const uint8_t* data, size_t blocks);

#ifdef __cplusplus
}
#endif

#endif
