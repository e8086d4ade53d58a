/* HMAC-SHA-256 (RFC 2104); see hmac_sha256.h. */
#include "core/hmac_sha256.h"
#include "core/sha256.h"

#include <string.h>

void hmac_sha256(const uint8_t* key, size_t key_length, const void* data, size_t length,
                 uint8_t mac[32]) {
  uint8_t block[64] = {0};
  if (key_length > 64) {
    sha256(key, key_length, block);
  } else if (key_length > 0) {
    memcpy(block, key, key_length);
  }
  uint8_t pad[64];
  uint8_t inner[32];
  sha_ctx ctx;
  for (int i = 0; i < 64; i++) pad[i] = (uint8_t)(block[i] ^ 0x36);
  sha_init(&ctx);
  sha_add(&ctx, pad, 64);
  sha_add(&ctx, data, length);
  sha_end(&ctx, inner);
  for (int i = 0; i < 64; i++) pad[i] = (uint8_t)(block[i] ^ 0x5C);
  sha_init(&ctx);
  sha_add(&ctx, pad, 64);
  sha_add(&ctx, inner, 32);
  sha_end(&ctx, mac);
}
