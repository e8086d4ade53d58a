// The standard CRC-32 (ISO-HDLC: reflected polynomial 0xEDB88320, start 0xFFFFFFFF, final
// complement), the checksum of every game file in the manifest and the cache.
#pragma once
#include "core/base.h"

constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;

// The 256-entry byte table; filled by Crc32Init (once at start-up, before any worker).
extern uint32_t g_crcTable[256];
void Crc32Init();

// Runs the register over the bytes: pass kCrc32Start first, complement the final value.
// Uses the fastest kernel this CPU supports; the result is always the standard one.
// Needs no Crc32Init: the fast kernels carry their own tables and constants.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// The definition, one byte at a time with g_crcTable: the reference the fast kernels are
// tested against.
uint32_t Crc32UpdateBytewise(uint32_t crc, const void* data, size_t size);

// The portable kernel: eight table look-ups per 8 bytes. Runs on every CPU.
uint32_t Crc32UpdateSlicing8(uint32_t crc, const void* data, size_t size);

// The register after bytes A then B, from the register after A (first) and the register of B
// alone run from 0 (second): two parts of a file can be hashed at once.
uint32_t Crc32Concat(uint32_t first, uint32_t second, uint64_t secondLength);

// The CRC-32 of a whole buffer (start, update, complement).
uint32_t Crc32Of(const void* data, size_t size);

// One way of running the register; all give the same result as Crc32UpdateBytewise.
struct Crc32Kernel {
  const char* name;
  uint32_t (*update)(uint32_t crc, const void* data, size_t size);
};

// The kernels this build can run on this CPU, slowest first; Crc32Update uses the last one.
std::vector<Crc32Kernel> Crc32Kernels();
