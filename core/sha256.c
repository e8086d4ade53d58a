/* SHA-256 (FIPS 180-4); see sha256.h. The portable kernel runs everywhere; sha_add switches
 * to the SHA-extensions kernel (sha256_ni.h) on CPUs that have it. */
#include "core/sha256.h"
#include "core/sha256_ni.h"

#include <string.h>

/* The SHA-256 round constants, also used by the SHA-extensions kernel. */
const uint32_t sha_round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static const uint32_t iv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};


static uint32_t rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

static uint32_t load_be32(const uint8_t* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

static void store_be32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)(v >> 24);
  p[1] = (uint8_t)(v >> 16);
  p[2] = (uint8_t)(v >> 8);
  p[3] = (uint8_t)v;
}

static void sha_compress(uint32_t state[8], const uint8_t block[64]) {
  uint32_t w[64];
  for (int t = 0; t < 16; t++) w[t] = load_be32(block + 4 * t);
  for (int t = 16; t < 64; t++) {
    uint32_t s0 = rotr32(w[t - 15], 7) ^ rotr32(w[t - 15], 18) ^ (w[t - 15] >> 3);
    uint32_t s1 = rotr32(w[t - 2], 17) ^ rotr32(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < 64; t++) {
    uint32_t t1 = h + (rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25)) + ((e & f) ^ (~e & g)) +
                  sha_round_constants[t] + w[t];
    uint32_t t2 = (rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void sha_init(sha_ctx* ctx) {
  memcpy(ctx->state, iv, sizeof iv);
  ctx->total = 0;
  ctx->pending = 0;
}

void sha_blocks_portable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks > 0; blocks--, data += 64) sha_compress(state, data);
}

/* The kernel sha_add uses: 0 = not chosen yet, 1 = portable, 2 = SHA extensions. Chosen on
 * first use; threads racing there store the same value, and atomics keep that well-defined. */
static int g_sha_kernel;

int sha_use_extensions(int wanted) {
  int kernel = wanted && sha_ni_supported() ? 2 : 1;
  __atomic_store_n(&g_sha_kernel, kernel, __ATOMIC_RELAXED);
  return kernel == 2;
}

static void sha_blocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
  int kernel = __atomic_load_n(&g_sha_kernel, __ATOMIC_RELAXED);
  if (kernel == 0) kernel = sha_use_extensions(1) ? 2 : 1;
  if (kernel == 2) {
    sha_blocks_ni(state, data, blocks);
  } else {
    sha_blocks_portable(state, data, blocks);
  }
}

/* Whole blocks are compressed straight from the caller's bytes; only a partial block is
 * copied into the context. */
void sha_add(sha_ctx* ctx, const void* data, size_t length) {
  const uint8_t* bytes = (const uint8_t*)data;
  ctx->total += length;
  if (ctx->pending > 0) {
    size_t take = 64 - ctx->pending;
    if (take > length) take = length;
    memcpy(ctx->block + ctx->pending, bytes, take);
    ctx->pending += take;
    bytes += take;
    length -= take;
    if (ctx->pending < 64) return;
    sha_blocks(ctx->state, ctx->block, 1);
    ctx->pending = 0;
  }
  size_t blocks = length / 64;
  if (blocks > 0) sha_blocks(ctx->state, bytes, blocks);
  bytes += blocks * 64;
  length -= blocks * 64;
  memcpy(ctx->block, bytes, length);
  ctx->pending = length;
}

void sha_end(sha_ctx* ctx, uint8_t digest[32]) {
  uint64_t bits = ctx->total * 8;
  uint8_t tail[72] = {0x80};
  size_t pad = (ctx->pending < 56 ? 56 : 120) - ctx->pending;
  for (int i = 0; i < 8; i++) tail[pad + i] = (uint8_t)(bits >> (56 - 8 * i));
  sha_add(ctx, tail, pad + 8);
  for (int i = 0; i < 8; i++) store_be32(digest + 4 * i, ctx->state[i]);
}

void sha256(const void* data, size_t length, uint8_t digest[32]) {
  sha_ctx ctx;
  sha_init(&ctx);
  sha_add(&ctx, data, length);
  sha_end(&ctx, digest);
}
