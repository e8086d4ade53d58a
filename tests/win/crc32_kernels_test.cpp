// The CRC-32 kernels as the Windows build compiles them (the wide ones with unaligned vector
// moves) against the bytewise definition, at every length around their block sizes and at
// every start alignment.
#include "update/crc32.h"
#include <gtest/gtest.h>

TEST(Crc32Kernels, EveryKernelOfThisBuildMatchesTheDefinition) {
  Crc32Init();
  std::vector<unsigned char> bytes(4096 + 64);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
  for (const Crc32Kernel& kernel : Crc32Kernels()) {
    for (size_t start = 0; start < 64; start += 7) {
      for (size_t size = 0; size <= 4096; size += size < 600 ? 1 : 61) {
        uint32_t expected = Crc32UpdateBytewise(0x12345678u, bytes.data() + start, size);
        ASSERT_EQ(kernel.update(0x12345678u, bytes.data() + start, size), expected)
            << kernel.name << " at offset " << start << ", " << size << " bytes";
      }
    }
  }
}

// Catches a build that lost the unaligned-move assembly and with it the wide kernels.
TEST(Crc32Kernels, TheWideKernelIsUsedWhereTheCpuHasIt) {
  std::vector<Crc32Kernel> kernels = Crc32Kernels();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq")) {
    EXPECT_NE(std::string(kernels.back().name).find("vpclmul"), std::string::npos) << kernels.back().name;
  }
}
