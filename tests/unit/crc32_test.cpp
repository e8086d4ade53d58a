// CRC-32: the standard check values, and every fast kernel held to the byte-table definition
// for every length up to 4096 at every alignment, over split buffers and large ones.
#include "update/crc32.h"
#include <gtest/gtest.h>
#include <new>
#include <random>

namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Every kernel this CPU runs, and the dispatching entry point itself.
std::vector<Crc32Kernel> KernelsUnderTest() {
  std::vector<Crc32Kernel> kernels = Crc32Kernels();
  kernels.push_back({"Crc32Update", Crc32Update});
  return kernels;
}

// A heap block holding a copy of the bytes at the given offset from a 64-byte boundary,
// with nothing after them, so that AddressSanitizer catches a kernel reading past the end.
class PlacedBytes {
 public:
  PlacedBytes(const uint8_t* bytes, size_t size, size_t offset)
      : block_(static_cast<uint8_t*>(::operator new(offset + size, std::align_val_t{64}))),
        data_(block_ + offset) {
    if (size > 0) memcpy(data_, bytes, size);
  }
  ~PlacedBytes() { ::operator delete(block_, std::align_val_t{64}); }
  PlacedBytes(const PlacedBytes&) = delete;
  PlacedBytes& operator=(const PlacedBytes&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* block_;
  uint8_t* data_;
};

class Crc32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Crc32Init(); }
};

TEST_F(Crc32Test, StandardCheckValues) {
  EXPECT_EQ(Crc32Of("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Of("", 0), 0u);
  EXPECT_EQ(Crc32Of("a", 1), 0xE8B7BE43u);
  EXPECT_EQ(g_crcTable[1], 0x77073096u);
  EXPECT_EQ(g_crcTable[255], 0x2D02EF8Du);
}

TEST_F(Crc32Test, EveryKernelMatchesByteTableForEachLengthAndAlignment) {
  const size_t kMaxLength = 4096;
  std::vector<uint8_t> bytes = RandomBytes(kMaxLength, 1);
  // The register after each prefix, from the definition.
  std::vector<uint32_t> expected(kMaxLength + 1);
  expected[0] = kCrc32Start;
  for (size_t n = 0; n < kMaxLength; n++) expected[n + 1] = Crc32UpdateBytewise(expected[n], &bytes[n], 1);

  for (const Crc32Kernel& kernel : KernelsUnderTest()) {
    size_t mismatches = 0;
    for (size_t offset = 0; offset < 64; offset++) {
      for (size_t length = 0; length <= kMaxLength; length++) {
        PlacedBytes placed(bytes.data(), length, offset);
        if (kernel.update(kCrc32Start, placed.data(), length) != expected[length]) mismatches++;
      }
    }
    EXPECT_EQ(mismatches, 0u) << kernel.name;
  }
}

TEST_F(Crc32Test, KernelsAcceptAnyStartValue) {
  std::vector<uint8_t> bytes = RandomBytes(1000, 2);
  for (uint32_t start : {0u, 1u, 0x80000000u, 0x12345678u}) {
    uint32_t expected = Crc32UpdateBytewise(start, bytes.data(), bytes.size());
    for (const Crc32Kernel& kernel : KernelsUnderTest()) {
      EXPECT_EQ(kernel.update(start, bytes.data(), bytes.size()), expected) << kernel.name << " " << start;
    }
  }
}

TEST_F(Crc32Test, ChainedUpdatesOverSplitBuffersMatchOneUpdate) {
  std::vector<uint8_t> bytes = RandomBytes(3000, 3);
  uint32_t whole = Crc32UpdateBytewise(kCrc32Start, bytes.data(), bytes.size());
  std::vector<Crc32Kernel> kernels = KernelsUnderTest();
  std::mt19937 random(4);
  for (int round = 0; round < 400; round++) {
    size_t cut1 = random() % (bytes.size() + 1);
    size_t cut2 = cut1 + random() % (bytes.size() - cut1 + 1);
    // Mixing kernels in one chain: the register they hand on is the same.
    const Crc32Kernel& a = kernels[random() % kernels.size()];
    const Crc32Kernel& b = kernels[random() % kernels.size()];
    const Crc32Kernel& c = kernels[random() % kernels.size()];
    uint32_t crc = a.update(kCrc32Start, bytes.data(), cut1);
    crc = b.update(crc, bytes.data() + cut1, cut2 - cut1);
    crc = c.update(crc, bytes.data() + cut2, bytes.size() - cut2);
    ASSERT_EQ(crc, whole) << a.name << "/" << b.name << "/" << c.name << " cut at " << cut1 << "," << cut2;
  }
}

TEST_F(Crc32Test, PartsHashedApartJoinIntoTheWholeRegister) {
  std::vector<uint8_t> bytes = RandomBytes(5000, 5);
  uint32_t whole = Crc32UpdateBytewise(kCrc32Start, bytes.data(), bytes.size());
  for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, size_t{2500}, size_t{4999}, size_t{5000}}) {
    uint32_t first = Crc32Update(kCrc32Start, bytes.data(), cut);
    uint32_t second = Crc32Update(0, bytes.data() + cut, bytes.size() - cut);
    EXPECT_EQ(Crc32Concat(first, second, bytes.size() - cut), whole) << cut;
  }
  // Lengths far beyond any buffer: 2^33 zero bytes turn a register as 2^32 of them twice.
  const uint64_t big = uint64_t{1} << 32;
  EXPECT_EQ(Crc32Concat(Crc32Concat(0x12345678u, 0, big), 0, big), Crc32Concat(0x12345678u, 0, 2 * big));
}

TEST_F(Crc32Test, LargeBufferMatchesByteTable) {
  // Long enough for many rounds of the widest main loop, with an odd tail.
  std::vector<uint8_t> bytes = RandomBytes((1u << 20) + 77, 5);
  uint32_t expected = Crc32UpdateBytewise(kCrc32Start, bytes.data(), bytes.size());
  for (const Crc32Kernel& kernel : KernelsUnderTest()) {
    EXPECT_EQ(kernel.update(kCrc32Start, bytes.data(), bytes.size()), expected) << kernel.name;
  }
}

TEST_F(Crc32Test, SpecialPatternsMatchByteTable) {
  // All zeros and all ones stress the start value and the reduction more than random data.
  for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
    std::vector<uint8_t> bytes(777, fill);
    uint32_t expected = Crc32UpdateBytewise(kCrc32Start, bytes.data(), bytes.size());
    for (const Crc32Kernel& kernel : KernelsUnderTest()) {
      EXPECT_EQ(kernel.update(kCrc32Start, bytes.data(), bytes.size()), expected) << kernel.name;
    }
  }
}

TEST_F(Crc32Test, PortableKernelComesFirstAndClmulIsFoundWhereTheCpuHasIt) {
  std::vector<Crc32Kernel> kernels = Crc32Kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front().update, &Crc32UpdateSlicing8);
#if defined(__x86_64__)
  if (__builtin_cpu_supports("pclmul")) {
    EXPECT_GE(kernels.size(), 2u);
  }
#endif
}

}  // namespace
