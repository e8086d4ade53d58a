/* HMAC-SHA-256 (RFC 2104). Plain C, shared by C and C++ code. */
#ifndef KM_CORE_HMAC_SHA256_H
#define KM_CORE_HMAC_SHA256_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* RFC 2104 HMAC; keys longer than 64 bytes are hashed first. */
void hmac_sha256(const uint8_t* key, size_t key_length, const void* data, size_t length,
                 uint8_t mac[32]);

#ifdef __cplusplus
}
#endif

#endif
