/* SHA-256 with the x86 SHA extensions; see sha256_ni.h. The state lives in two registers in
 * the order the instructions want (ABEF and CDGH); each sha256rnds2 does two rounds, and
 * the message schedule is extended four words at a time with sha256msg1/msg2. */
#include "core/sha256_ni.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

int sha_ni_supported(void) {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  int ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return 0;
  int sha = (b >> 29) & 1;
  return ssse3 && sse41 && sha;
}

#define KM_TARGET_SHA __attribute__((target("sha,sse4.1")))

KM_TARGET_SHA void sha_blocks_ni(uint32_t state[8], const uint8_t* data, size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128((const __m128i*)&state[0]);
  __m128i hgfe = _mm_loadu_si128((const __m128i*)&state[4]);
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks > 0; blocks--, data += 64) {
    __m128i abefStart = abef, cdghStart = cdgh;
    __m128i w[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; g++) {
      if (g < 4) {
        w[g] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16 * g)), byteSwap);
      } else {
        /* W[g] from W[g-4], W[g-3], W[g-2] and W[g-1], held at w[g%4], w[(g+1)%4] ... */
        __m128i next = _mm_sha256msg1_epu32(w[g % 4], w[(g + 1) % 4]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g + 3) % 4], w[(g + 2) % 4], 4));
        w[g % 4] = _mm_sha256msg2_epu32(next, w[(g + 3) % 4]);
      }
      __m128i message = _mm_add_epi32(w[g % 4], _mm_loadu_si128((const __m128i*)&sha_round_constants[4 * g]));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
  }
  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128((__m128i*)&state[0], _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128((__m128i*)&state[4], _mm_alignr_epi8(dchg, feba, 8));
}

#else

int sha_ni_supported(void) { return 0; }

void sha_blocks_ni(uint32_t state[8], const uint8_t* data, size_t blocks) {
  (void)state;
  (void)data;
  (void)blocks;
}

#endif
