/* Base64 (RFC 4648) as the game client's fields and the release signatures write it. Plain
 * C, shared by C and C++ code. */
#ifndef KM_CORE_BASE64_H
#define KM_CORE_BASE64_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Base64 with "=" padding and CR LF after every 76 characters (none after the last).
 * Returns the characters written without the NUL, or 0 when out_size is too small. */
size_t b64_encode(const uint8_t* data, size_t length, char* out, size_t out_size);
/* Decodes the alphabet's characters and skips every other one; keeps at most out_size
 * bytes and drops leftover bits. Returns the bytes kept. */
size_t b64_decode(const char* text, uint8_t* out, size_t out_size);

#ifdef __cplusplus
}
#endif

#endif
