// CRC-32 kernels. The byte-table loop is the definition; slicing-by-8 is the portable fast
// path; on x86-64 carry-less multiplication folds 64 to 256 bytes per step, chosen once at
// run time from what the CPU offers. All of them give the same value for the same bytes.
//
// How the folding works. Read 16 message bytes as one 128-bit little-endian number: bit i
// is the coefficient of x^(127-i), because the CRC is reflected (the first bit on the wire
// is the highest power). Its low 64 bits hold H and its high 64 bits L, so the block is
// H*x^64 + L. A block standing F bits before a later block adds H*x^(64+F) + L*x^F there,
// and modulo the polynomial P that is H*(x^(64+F) mod P) + L*(x^F mod P): two carry-less
// products of 64 by 32 bits, under 96 bits wide, XORed into the later block. The remainder
// modulo P (and so the CRC) does not change while the message shrinks by F bits.
// A carry-less product of two reflected 64-bit numbers comes out one power of x short in
// this 128-bit reading, so each constant is taken one power lower: x^(F+63) and x^(F-1).
// They are computed at compile time from the polynomial (XPowModP), as reflected 32-bit
// values in the upper half of a 64-bit lane (bit 63-j is the coefficient of x^j).
// The block left at the end is again just 16 message bytes (for a register starting at 0),
// so the table kernel finishes it together with the tail. The caller's start value enters
// by XOR into the first four bytes, which is the same as starting the register from it.
#include "update/crc32.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KM_CRC_CLMUL 1
#include <immintrin.h>
// GCC for Windows does not promise the 32- or 64-byte stack alignment that spilled ymm/zmm
// values need (the x64 ABI gives 16), a known source of crashes. The Windows build assembles
// this file with every aligned vector move turned into an unaligned one
// (KM_UNALIGNED_VECTOR_MOVES, cmake/windows.cmake), which makes a misaligned spill harmless;
// the wide kernels hash four times as fast there as the 128-bit one.
#if !(defined(_WIN32) && !defined(__clang__)) || defined(KM_UNALIGNED_VECTOR_MOVES)
#define KM_CRC_WIDE 1
#endif
#endif

uint32_t g_crcTable[256];

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Multiplies a reflected value by x modulo P: the power of each bit rises as the bit moves
// right, and the x^32 that leaves at bit 0 is replaced by its remainder, the polynomial.
constexpr uint32_t TimesX(uint32_t r) { return (r >> 1) ^ ((r & 1u) ? kPolynomial : 0u); }

struct SliceTables {
  uint32_t t[8][256];
};

// t[0] is the byte table; t[k][b] is the register after byte b followed by k zero bytes.
constexpr SliceTables MakeSliceTables() {
  SliceTables s{};
  for (uint32_t b = 0; b < 256; b++) {
    uint32_t c = b;
    for (int bit = 0; bit < 8; bit++) c = TimesX(c);
    s.t[0][b] = c;
  }
  for (int k = 1; k < 8; k++) {
    for (int b = 0; b < 256; b++) s.t[k][b] = (s.t[k - 1][b] >> 8) ^ s.t[0][s.t[k - 1][b] & 0xFF];
  }
  return s;
}

constexpr SliceTables kSlice = MakeSliceTables();

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void Crc32Init() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; bit++) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    g_crcTable[i] = c;
  }
}

uint32_t Crc32UpdateBytewise(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; i++) crc = (crc >> 8) ^ g_crcTable[(crc ^ p[i]) & 0xFF];
  return crc;
}

uint32_t Crc32UpdateSlicing8(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const auto& t = kSlice.t;
  for (; size >= 8; p += 8, size -= 8) {
    uint32_t lo = crc ^ LoadLe32(p);
    uint32_t hi = LoadLe32(p + 4);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; size > 0; p++, size--) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return crc;
}

#ifdef KM_CRC_CLMUL
namespace {

#define KM_TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))

// x^n mod P as a reflected value (x^0 is bit 31).
constexpr uint32_t XPowModP(unsigned n) {
  uint32_t r = 0x80000000u;
  for (unsigned i = 0; i < n; i++) r = TimesX(r);
  return r;
}

// The multiplier pair that carries a block forward by the given number of bits: the low
// lane multiplies the block's low half (H), the high lane its high half (L).
struct FoldPair {
  long long high;  // for L: x^(bits-1) mod P
  long long low;   // for H: x^(bits+63) mod P
};

constexpr FoldPair MakeFoldPair(unsigned bits) {
  return {static_cast<long long>(uint64_t(XPowModP(bits - 1)) << 32),
          static_cast<long long>(uint64_t(XPowModP(bits + 63)) << 32)};
}

constexpr FoldPair kFold128 = MakeFoldPair(128);
constexpr FoldPair kFold512 = MakeFoldPair(512);

KM_TARGET_PCLMUL inline __m128i Pair128(FoldPair k) { return _mm_set_epi64x(k.high, k.low); }

KM_TARGET_PCLMUL inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Carries block x forward by the distance k was made for.
KM_TARGET_PCLMUL inline __m128i Fold128(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds the remaining whole blocks into x, then lets the table kernel finish x and the
// tail of under 16 bytes.
KM_TARGET_PCLMUL uint32_t FinishFolding(__m128i x, const uint8_t* p, size_t size) {
  const __m128i k128 = Pair128(kFold128);
  for (; size >= 16; p += 16, size -= 16) x = _mm_xor_si128(Fold128(x, k128), Load128(p));
  uint8_t block[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
  return Crc32UpdateSlicing8(Crc32UpdateSlicing8(0, block, 16), p, size);
}

// Four 16-byte accumulators, 64 bytes per step.
KM_TARGET_PCLMUL uint32_t UpdatePclmul(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (size < 64) return Crc32UpdateSlicing8(crc, p, size);
  const __m128i k512 = Pair128(kFold512);
  const __m128i k128 = Pair128(kFold128);
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load128(p + 16);
  __m128i x2 = Load128(p + 32);
  __m128i x3 = Load128(p + 48);
  for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
    x0 = _mm_xor_si128(Fold128(x0, k512), Load128(p));
    x1 = _mm_xor_si128(Fold128(x1, k512), Load128(p + 16));
    x2 = _mm_xor_si128(Fold128(x2, k512), Load128(p + 32));
    x3 = _mm_xor_si128(Fold128(x3, k512), Load128(p + 48));
  }
  x1 = _mm_xor_si128(Fold128(x0, k128), x1);
  x2 = _mm_xor_si128(Fold128(x1, k128), x2);
  x3 = _mm_xor_si128(Fold128(x2, k128), x3);
  return FinishFolding(x3, p, size);
}

bool HasPclmul() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"); }

}  // namespace
#endif  // KM_CRC_CLMUL

#ifdef KM_CRC_WIDE
namespace {

#define KM_TARGET_AVX2 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))
#define KM_TARGET_AVX512 __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

constexpr FoldPair kFold256 = MakeFoldPair(256);
constexpr FoldPair kFold1024 = MakeFoldPair(1024);
constexpr FoldPair kFold2048 = MakeFoldPair(2048);

KM_TARGET_AVX2 inline __m256i Pair256(FoldPair k) {
  return _mm256_broadcastsi128_si256(Pair128(k));
}

KM_TARGET_AVX2 inline __m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Carries both 16-byte lanes of y forward and adds the block that is there.
KM_TARGET_AVX2 inline __m256i Fold256(__m256i y, __m256i k, __m256i next) {
  __m256i folded = _mm256_xor_si256(_mm256_clmulepi64_epi128(y, k, 0x00),
                                    _mm256_clmulepi64_epi128(y, k, 0x11));
  return _mm256_xor_si256(folded, next);
}

// Four 32-byte accumulators, 128 bytes per step.
KM_TARGET_AVX2 uint32_t UpdateAvx2(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (size < 128) return UpdatePclmul(crc, p, size);
  const __m256i k1024 = Pair256(kFold1024);
  const __m256i k256 = Pair256(kFold256);
  const __m128i start = _mm_cvtsi32_si128(static_cast<int>(crc));
  __m256i y0 = _mm256_xor_si256(Load256(p), _mm256_zextsi128_si256(start));
  __m256i y1 = Load256(p + 32);
  __m256i y2 = Load256(p + 64);
  __m256i y3 = Load256(p + 96);
  for (p += 128, size -= 128; size >= 128; p += 128, size -= 128) {
    y0 = Fold256(y0, k1024, Load256(p));
    y1 = Fold256(y1, k1024, Load256(p + 32));
    y2 = Fold256(y2, k1024, Load256(p + 64));
    y3 = Fold256(y3, k1024, Load256(p + 96));
  }
  y1 = Fold256(y0, k256, y1);
  y2 = Fold256(y1, k256, y2);
  y3 = Fold256(y2, k256, y3);
  for (; size >= 32; p += 32, size -= 32) y3 = Fold256(y3, k256, Load256(p));
  __m128i x = _mm_xor_si128(Fold128(_mm256_castsi256_si128(y3), Pair128(kFold128)),
                            _mm256_extracti128_si256(y3, 1));
  return FinishFolding(x, p, size);
}

KM_TARGET_AVX512 inline __m512i Pair512(FoldPair k) {
  return _mm512_set_epi64(k.high, k.low, k.high, k.low, k.high, k.low, k.high, k.low);
}

// One 16-byte lane of z. (The zero-masking form keeps GCC's headers free of warnings.)
template <int lane>
KM_TARGET_AVX512 inline __m128i Lane(__m512i z) {
  return _mm512_maskz_extracti32x4_epi32(0xF, z, lane);
}

KM_TARGET_AVX512 inline __m512i Load512(const uint8_t* p) { return _mm512_loadu_si512(p); }

// Carries all four 16-byte lanes of z forward and adds the block that is there.
KM_TARGET_AVX512 inline __m512i Fold512(__m512i z, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(z, k, 0x00),
                                   _mm512_clmulepi64_epi128(z, k, 0x11), next, 0x96);
}

// The four lanes of z folded into one block, first lane first.
KM_TARGET_AVX512 inline __m128i FoldLanes(__m512i z) {
  const __m128i k128 = Pair128(kFold128);
  __m128i x = Lane<0>(z);
  x = _mm_xor_si128(Fold128(x, k128), Lane<1>(z));
  x = _mm_xor_si128(Fold128(x, k128), Lane<2>(z));
  return _mm_xor_si128(Fold128(x, k128), Lane<3>(z));
}

// Four 64-byte accumulators, 256 bytes per step.
KM_TARGET_AVX512 uint32_t UpdateAvx512(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (size < 256) return UpdatePclmul(crc, p, size);
  const __m512i k2048 = Pair512(kFold2048);
  const __m512i k512 = Pair512(kFold512);
  const __m128i start = _mm_cvtsi32_si128(static_cast<int>(crc));
  __m512i z0 = _mm512_xor_si512(Load512(p), _mm512_zextsi128_si512(start));
  __m512i z1 = Load512(p + 64);
  __m512i z2 = Load512(p + 128);
  __m512i z3 = Load512(p + 192);
  for (p += 256, size -= 256; size >= 256; p += 256, size -= 256) {
    z0 = Fold512(z0, k2048, Load512(p));
    z1 = Fold512(z1, k2048, Load512(p + 64));
    z2 = Fold512(z2, k2048, Load512(p + 128));
    z3 = Fold512(z3, k2048, Load512(p + 192));
  }
  z1 = Fold512(z0, k512, z1);
  z2 = Fold512(z1, k512, z2);
  z3 = Fold512(z2, k512, z3);
  for (; size >= 64; p += 64, size -= 64) z3 = Fold512(z3, k512, Load512(p));
  return FinishFolding(FoldLanes(z3), p, size);
}

bool HasVpclmul() { return HasPclmul() && __builtin_cpu_supports("vpclmulqdq"); }

}  // namespace
#endif  // KM_CRC_WIDE

std::vector<Crc32Kernel> Crc32Kernels() {
  std::vector<Crc32Kernel> kernels = {{"slicing-by-8", Crc32UpdateSlicing8}};
#ifdef KM_CRC_CLMUL
  __builtin_cpu_init();
  if (HasPclmul()) kernels.push_back({"pclmul", UpdatePclmul});
#endif
#ifdef KM_CRC_WIDE
  if (HasVpclmul() && __builtin_cpu_supports("avx2")) {
    kernels.push_back({"vpclmul-avx2", UpdateAvx2});
  }
  if (HasVpclmul() && __builtin_cpu_supports("avx512f")) {
    kernels.push_back({"vpclmul-avx512", UpdateAvx512});
  }
#endif
  return kernels;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
  // Chosen on first use; the initialisation of a function-local static is thread-safe.
  static const auto kernel = Crc32Kernels().back().update;
  return kernel(crc, data, size);
}

namespace {
// a times b modulo the polynomial, both reflected (the top bit is x^0).
uint32_t MultiplyModPolynomial(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t bit = 0x80000000u; bit != 0; bit >>= 1) {
    if (a & bit) product ^= b;
    b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
  }
  return product;
}

// x to the power 8 * bytes, modulo the polynomial: what running bytes zeros does to a register.
uint32_t ZeroBytesFactor(uint64_t bytes) {
  uint32_t factor = 0x80000000u;  // x^0
  uint32_t square = 0x00800000u;  // x^8
  for (; bytes != 0; bytes >>= 1) {
    if (bytes & 1) factor = MultiplyModPolynomial(square, factor);
    square = MultiplyModPolynomial(square, square);
  }
  return factor;
}
}  // namespace

// The register's update is linear: running B from first equals running B from 0, plus first
// run through as many zero bytes.
uint32_t Crc32Concat(uint32_t first, uint32_t second, uint64_t secondLength) {
  return MultiplyModPolynomial(ZeroBytesFactor(secondLength), first) ^ second;
}

uint32_t Crc32Of(const void* data, size_t size) {
  return ~Crc32Update(kCrc32Start, data, size);
}
