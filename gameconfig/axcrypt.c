/* axcrypt: AES-256 and the field container; see axcrypt.h.
 *
 * Everything is byte-oriented and table-light: the field is only encrypted or decrypted when
 * coinit.tmp is checked or rewritten, and the 8192 hashes of the key derivation dwarf the
 * cost of the cipher. The one piece of shared state is the pair of S-boxes, built once on
 * first use; the launcher encrypts from the update worker and from the window thread, so
 * the build is guarded by a small atomic state machine (no Windows header, works with gcc,
 * clang and mingw). */
#include "gameconfig/axcrypt.h"
#include "core/base64.h"
#include "core/hmac_sha256.h"
#include "core/sha256.h"

#include <string.h>
#include <time.h>

static uint8_t SB[256];
static uint8_t ISB[256];

/* Hashed with the time and the length into the IV. Readers never recompute the IV, so the
 * value only has to stay fixed. */
static const char kIvTag[4] = {'k', 'm', 'l', 'f'};

/* ---- once-only S-box build: 0 = not built, 1 = being built, 2 = built ---- */

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
static volatile long done;
static int claim_build(void) { return _InterlockedCompareExchange(&done, 1, 0) == 0; }
static int tables_built(void) { return _InterlockedCompareExchange(&done, 2, 2) == 2; }
static void mark_built(void) { _InterlockedExchange(&done, 2); }
#else
static int done;
static int claim_build(void) {
  int expected = 0;
  return __atomic_compare_exchange_n(&done, &expected, 1, 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}
static int tables_built(void) { return __atomic_load_n(&done, __ATOMIC_ACQUIRE) == 2; }
static void mark_built(void) { __atomic_store_n(&done, 2, __ATOMIC_RELEASE); }
#endif

static uint8_t rotl8(uint8_t x, int shift) {
  return (uint8_t)((x << shift) | (x >> (8 - shift)));
}

/* Walks the multiplicative group of GF(2^8) with generator 3: p runs over 3^i and q over
 * its inverse 3^-i, so SB[p] is the affine transform of p's inverse. */
static void build_sboxes(void) {
  uint8_t p = 1;
  uint8_t q = 1;
  do {
    p = (uint8_t)(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
    q = (uint8_t)(q ^ (q << 1));
    q = (uint8_t)(q ^ (q << 2));
    q = (uint8_t)(q ^ (q << 4));
    if (q & 0x80) q ^= 0x09;
    SB[p] = (uint8_t)(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4) ^ 0x63);
  } while (p != 1);
  SB[0] = 0x63;
  for (int i = 0; i < 256; i++) ISB[SB[i]] = (uint8_t)i;
}

/* The build takes microseconds, so a thread that loses the race simply spins. */
static void build_tables_once(void) {
  if (tables_built()) return;
  if (claim_build()) {
    build_sboxes();
    mark_built();
    return;
  }
  while (!tables_built()) {
  }
}

/* ---- AES-256 ---- */

static uint32_t load_be32(const uint8_t* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

static uint8_t xtime(uint8_t x) { return (uint8_t)((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

static uint8_t gmul(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b) {
    if (b & 1) product ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return product;
}

static uint32_t sub_word(uint32_t w) {
  return ((uint32_t)SB[w >> 24] << 24) | ((uint32_t)SB[(w >> 16) & 0xFF] << 16) |
         ((uint32_t)SB[(w >> 8) & 0xFF] << 8) | SB[w & 0xFF];
}

void aes_key(const uint8_t key[32], uint32_t schedule[60]) {
  build_tables_once();
  uint32_t rcon = 0x01;
  for (int i = 0; i < 8; i++) schedule[i] = load_be32(key + 4 * i);
  for (int i = 8; i < 60; i++) {
    uint32_t temp = schedule[i - 1];
    if (i % 8 == 0) {
      temp = sub_word((temp << 8) | (temp >> 24)) ^ (rcon << 24);
      rcon = xtime((uint8_t)rcon);
    } else if (i % 8 == 4) {
      temp = sub_word(temp);
    }
    schedule[i] = schedule[i - 8] ^ temp;
  }
}

/* The state is kept as 16 bytes in input order: byte 4c + r is row r of column c. */
static void add_round_key(uint8_t s[16], const uint32_t* words) {
  for (int c = 0; c < 4; c++) {
    s[4 * c] ^= (uint8_t)(words[c] >> 24);
    s[4 * c + 1] ^= (uint8_t)(words[c] >> 16);
    s[4 * c + 2] ^= (uint8_t)(words[c] >> 8);
    s[4 * c + 3] ^= (uint8_t)words[c];
  }
}

static void sub_bytes(uint8_t s[16], const uint8_t box[256]) {
  for (int i = 0; i < 16; i++) s[i] = box[s[i]];
}

/* Row r moves r columns to the left (encrypting) or to the right (decrypting). */
static void shift_rows(uint8_t s[16], int to_left) {
  uint8_t t[16];
  for (int c = 0; c < 4; c++) {
    for (int r = 0; r < 4; r++) {
      int from = to_left ? (c + r) % 4 : (c + 4 - r) % 4;
      t[4 * c + r] = s[4 * from + r];
    }
  }
  memcpy(s, t, 16);
}

static void mix_columns(uint8_t s[16], const uint8_t m[4]) {
  for (int c = 0; c < 4; c++) {
    uint8_t* col = s + 4 * c;
    uint8_t a[4] = {col[0], col[1], col[2], col[3]};
    for (int r = 0; r < 4; r++) {
      col[r] = (uint8_t)(gmul(a[r], m[0]) ^ gmul(a[(r + 1) % 4], m[1]) ^
                         gmul(a[(r + 2) % 4], m[2]) ^ gmul(a[(r + 3) % 4], m[3]));
    }
  }
}

static const uint8_t kMix[4] = {2, 3, 1, 1};
static const uint8_t kInvMix[4] = {14, 11, 13, 9};

void aes_encrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]) {
  uint8_t s[16];
  memcpy(s, in, 16);
  add_round_key(s, schedule);
  for (int round = 1; round <= 14; round++) {
    sub_bytes(s, SB);
    shift_rows(s, 1);
    if (round < 14) mix_columns(s, kMix);
    add_round_key(s, schedule + 4 * round);
  }
  memcpy(out, s, 16);
}

void aes_decrypt(const uint32_t schedule[60], const uint8_t in[16], uint8_t out[16]) {
  uint8_t s[16];
  memcpy(s, in, 16);
  add_round_key(s, schedule + 56);
  for (int round = 13; round >= 0; round--) {
    shift_rows(s, 0);
    sub_bytes(s, ISB);
    add_round_key(s, schedule + 4 * round);
    if (round > 0) mix_columns(s, kInvMix);
  }
  memcpy(out, s, 16);
}

/* ---- the field container ---- */

void derive(const uint8_t salt[16], const char* passphrase, uint8_t key[32]) {
  uint8_t h[32];
  size_t pass_length = strlen(passphrase);
  memcpy(h, salt, 16);
  memset(h + 16, 0, 16);
  for (int round = 0; round < AX_DERIVE_ROUNDS; round++) {
    sha_ctx ctx;
    sha_init(&ctx);
    sha_add(&ctx, h, 32);
    sha_add(&ctx, passphrase, pass_length);
    sha_end(&ctx, h);
  }
  memcpy(key, h, 32);
}

static void store_le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; i++) p[i] = (uint8_t)(v >> (8 * i));
}

static void make_iv(int64_t seconds, size_t length, uint8_t field_iv[16]) {
  uint8_t seed[20];
  uint8_t digest[32];
  store_le64(seed, (uint64_t)seconds);
  store_le64(seed + 8, (uint64_t)length);
  memcpy(seed + 16, kIvTag, 4);
  sha256(seed, sizeof seed, digest);
  memcpy(field_iv, digest, 16);
  field_iv[15] = (uint8_t)((digest[15] & 0xF0) | (length & 0x0F));
}

/* CBC whose final partial block is topped up with whatever the work block held before:
 * zeros for the first block, the previous ciphertext block after that. */
static void cbc_encrypt(const uint32_t* schedule, const uint8_t field_iv[16], const char* plain,
                        size_t length, uint8_t* cipher) {
  uint8_t work[16] = {0};
  uint8_t chain[16];
  memcpy(chain, field_iv, 16);
  for (size_t start = 0; start < length; start += 16) {
    size_t take = length - start < 16 ? length - start : 16;
    memcpy(work, plain + start, take);
    for (int i = 0; i < 16; i++) work[i] ^= chain[i];
    aes_encrypt(schedule, work, cipher + start);
    memcpy(work, cipher + start, 16);
    memcpy(chain, work, 16);
  }
}

int ax_encrypt_at(const char* passphrase, const char* plain, int64_t seconds, char* out,
                  size_t out_size) {
  if (!passphrase || !plain || !out || out_size < AX_MIN_OUTPUT) return 0;
  size_t length = strlen(plain);
  if (length == 0 || length > AX_MAX_PLAIN) return 0;
  uint8_t container[16 + AX_MAX_PLAIN + 32];
  uint8_t key[32];
  uint32_t schedule[60];
  size_t cipher_size = (length + 15) / 16 * 16;
  make_iv(seconds, length, container);
  derive(container, passphrase, key);
  aes_key(key, schedule);
  cbc_encrypt(schedule, container, plain, length, container + 16);
  hmac_sha256(key, 32, container + 16, cipher_size, container + 16 + cipher_size);
  return (int)b64_encode(container, cipher_size + 48, out, out_size);
}

int ax_encrypt(const char* passphrase, const char* plain, char* out, size_t out_size) {
  return ax_encrypt_at(passphrase, plain, (int64_t)time(NULL), out, out_size);
}

int ax_decrypt(const char* passphrase, const char* text, char* out, size_t out_size) {
  if (!out || out_size == 0) return 0;
  out[0] = '\0';
  if (!passphrase || !text || !*text) return 0;
  uint8_t data[AX_MAX_DECODED];
  size_t decoded = b64_decode(text, data, sizeof data);
  if (decoded < 48 || decoded % 16 != 0) return 0;
  size_t blocks = (decoded - 48) / 16;
  if (blocks == 0) return 0;
  unsigned last_size = data[15] & 0x0F;
  uint8_t key[32];
  uint32_t schedule[60];
  derive(data, passphrase, key);
  aes_key(key, schedule);
  size_t written = 0;
  for (size_t j = 0; j < blocks; j++) {
    const uint8_t* previous = data + 16 * j; /* the IV for the first block */
    const uint8_t* cipher = previous + 16;
    uint8_t plain[16];
    aes_decrypt(schedule, cipher, plain);
    for (int i = 0; i < 16; i++) plain[i] ^= previous[i];
    size_t take = (j + 1 == blocks && last_size != 0) ? last_size : 16;
    for (size_t i = 0; i < take && written < out_size - 1; i++) out[written++] = (char)plain[i];
  }
  out[written] = '\0';
  return (int)strlen(out);
}
