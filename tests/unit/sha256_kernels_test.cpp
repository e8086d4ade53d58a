// The SHA-256 kernels: the SHA-extensions kernel must give the portable kernel's digest for
// every length and every alignment of the input, and both must give the FIPS 180 digests.
// The background hasher must give the one-shot digest whatever the pieces.
#include "core/sha256.h"
#include "core/sha256_ni.h"
#include "update/sha256_background.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Digest(const void* data, size_t length) {
  uint8_t digest[32];
  sha256(data, length, digest);
  return std::string(reinterpret_cast<char*>(digest), 32);
}

std::string HexDigest(const std::string& message) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : Digest(message.data(), message.size())) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// Restores the default kernel choice when a test ends.
class ShaKernels : public ::testing::Test {
 protected:
  void TearDown() override { sha_use_extensions(1); }
  void RequireExtensions() {
    if (!sha_ni_supported()) GTEST_SKIP() << "this CPU has no SHA extensions";
  }
};

TEST_F(ShaKernels, BothKernelsGiveTheFips180Digests) {
  const std::string million(1000000, 'a');
  for (int extensions : {0, 1}) {
    if (extensions && !sha_ni_supported()) continue;
    EXPECT_EQ(sha_use_extensions(extensions), extensions);
    EXPECT_EQ(HexDigest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HexDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexDigest("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
                        "mnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(HexDigest(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
}

TEST_F(ShaKernels, ExtensionsEqualPortableAtEveryLengthAndAlignment) {
  RequireExtensions();
  std::vector<uint8_t> bytes(64 + 1100);
  std::mt19937 random(7);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 64; offset++) {
    for (size_t length = 0; length <= 1100 - offset % 8 * 100; length++) {
      sha_use_extensions(0);
      std::string portable = Digest(bytes.data() + offset, length);
      sha_use_extensions(1);
      ASSERT_EQ(Digest(bytes.data() + offset, length), portable) << "offset " << offset << " length " << length;
    }
  }
}

TEST_F(ShaKernels, BlockKernelsAgreeFromAnyStateAndForManyBlocks) {
  RequireExtensions();
  std::mt19937 random(11);
  std::vector<uint8_t> data(64 * 40 + 1);
  for (int round = 0; round < 200; round++) {
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    uint32_t portable[8], extensions[8];
    for (int i = 0; i < 8; i++) portable[i] = extensions[i] = random();
    size_t blocks = round % 40;
    size_t offset = round % 2;  // also from an odd address
    sha_blocks_portable(portable, data.data() + offset, blocks);
    sha_blocks_ni(extensions, data.data() + offset, blocks);
    for (int i = 0; i < 8; i++) ASSERT_EQ(extensions[i], portable[i]) << "round " << round << " word " << i;
  }
}

TEST_F(ShaKernels, PiecesOfAnySizeGiveTheOneShotDigest) {
  std::vector<uint8_t> bytes(300000);
  std::mt19937 random(3);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  std::string whole = Digest(bytes.data(), bytes.size());
  sha_ctx ctx;
  sha_init(&ctx);
  for (size_t fed = 0; fed < bytes.size();) {
    size_t n = std::min<size_t>(random() % 5000, bytes.size() - fed);
    sha_add(&ctx, bytes.data() + fed, n);
    fed += n;
  }
  uint8_t digest[32];
  sha_end(&ctx, digest);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(digest), 32), whole);
}

TEST(BackgroundSha, ManyPiecesGiveTheOneShotDigestAndRestartForgetsThemAll) {
  std::vector<uint8_t> bytes(2000000);
  std::mt19937 random(5);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  BackgroundSha256 hash;
  hash.Add(bytes.data(), 1000);
  hash.Restart();
  for (size_t fed = 0; fed < bytes.size();) {  // far more pieces than the queue holds
    size_t n = std::min<size_t>(random() % 9000, bytes.size() - fed);
    hash.Add(bytes.data() + fed, n);
    fed += n;
  }
  EXPECT_EQ(hash.Finish(), Sha256Of(bytes.data(), bytes.size()));
  hash.Restart();
  hash.Add("abc", 3);
  EXPECT_EQ(hash.Finish(), Sha256Of("abc", 3));
  hash.Add(bytes.data(), 500000);  // destroyed with pieces still queued: must not hang
}

}  // namespace
