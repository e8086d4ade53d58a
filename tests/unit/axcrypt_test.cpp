// axcrypt: known-answer vectors that pin the primitives to the published standards, and the
// container's sizes, round trips and tolerance of damaged text.
#include "core/base64.h"
#include "gameconfig/axcrypt.h"
#include "core/hmac_sha256.h"
#include "core/sha256.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kPass = "zmxncbvlaksjdhfgpqowieurytzmxncb";

std::vector<uint8_t> Unhex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; i++) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

std::string Sha(const std::string& message) {
  uint8_t digest[32];
  sha256(message.data(), message.size(), digest);
  return Hex(digest, 32);
}

std::string Hmac(const std::vector<uint8_t>& key, const std::string& message) {
  uint8_t mac[32];
  hmac_sha256(key.data(), key.size(), message.data(), message.size(), mac);
  return Hex(mac, 32);
}

std::string Encode(const std::string& data) {
  char out[4096];
  size_t n = b64_encode(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out, sizeof out);
  return std::string(out, n);
}

std::string Decode(const std::string& text) {
  uint8_t out[AX_MAX_DECODED];
  size_t n = b64_decode(text.c_str(), out, sizeof out);
  return std::string(reinterpret_cast<char*>(out), n);
}

std::string EncryptAt(const std::string& plain, int64_t seconds) {
  char out[AX_MIN_OUTPUT];
  int n = ax_encrypt_at(kPass, plain.c_str(), seconds, out, sizeof out);
  EXPECT_EQ(static_cast<size_t>(n), strlen(out));
  return std::string(out, n > 0 ? n : 0);
}

std::string Decrypt(const std::string& text, const char* pass = kPass) {
  char out[1024];
  int n = ax_decrypt(pass, text.c_str(), out, sizeof out);
  EXPECT_EQ(static_cast<size_t>(n), strlen(out));
  return out;
}

// A plain text of the given length whose bytes differ from one length to the next.
std::string PlainOfLength(size_t length) {
  std::string plain;
  for (size_t i = 0; i < length; i++) plain += static_cast<char>('!' + (i * 7 + length) % 90);
  return plain;
}

// ---- AES-256 ----

TEST(AesKnownAnswer, Fips197AppendixC3EncryptsAndDecrypts) {
  std::vector<uint8_t> key = Unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  std::vector<uint8_t> plain = Unhex("00112233445566778899aabbccddeeff");
  uint32_t schedule[60];
  aes_key(key.data(), schedule);
  uint8_t cipher[16];
  aes_encrypt(schedule, plain.data(), cipher);
  EXPECT_EQ(Hex(cipher, 16), "8ea2b7ca516745bfeafc49904b496089");
  uint8_t back[16];
  aes_decrypt(schedule, cipher, back);
  EXPECT_EQ(Hex(back, 16), "00112233445566778899aabbccddeeff");
}

// ---- SHA-256 ----

TEST(ShaKnownAnswer, Fips180OneAndTwoBlockMessages) {
  EXPECT_EQ(Sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ShaKnownAnswer, MillionAsFedInOddSizedPieces) {
  std::string piece(200, 'a');
  const size_t sizes[] = {1, 3, 55, 56, 63, 64, 65, 127, 7};
  sha_ctx ctx;
  sha_init(&ctx);
  size_t fed = 0;
  for (size_t i = 0; fed < 1000000; i++) {
    size_t n = std::min(sizes[i % 9], 1000000 - fed);
    sha_add(&ctx, piece.data(), n);
    fed += n;
  }
  uint8_t digest[32];
  sha_end(&ctx, digest);
  EXPECT_EQ(Hex(digest, 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// ---- HMAC-SHA-256 ----

TEST(HmacKnownAnswer, Rfc4231CasesOneToFive) {
  EXPECT_EQ(Hmac(std::vector<uint8_t>(20, 0x0b), "Hi There"),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(Hmac({'J', 'e', 'f', 'e'}, "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(Hmac(std::vector<uint8_t>(20, 0xaa), std::string(50, '\xdd')),
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
  EXPECT_EQ(Hmac(Unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd')),
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
  EXPECT_EQ(Hmac(std::vector<uint8_t>(20, 0x0c), "Test With Truncation").substr(0, 32),
            "a3b6167473100ee06e0c796c2955552b");
}

TEST(HmacKnownAnswer, Rfc4231KeysLongerThanABlockAreHashedFirst) {
  std::vector<uint8_t> key(131, 0xaa);
  EXPECT_EQ(Hmac(key, "Test Using Larger Than Block-Size Key - Hash Key First"),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

// ---- Base64 ----

TEST(Base64, Rfc4648VectorsBothWays) {
  const char* const plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* const coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(Encode(plain[i]), coded[i]);
    EXPECT_EQ(Decode(coded[i]), plain[i]);
  }
}

TEST(Base64, BreaksLinesAfterEvery76CharactersButNotAtTheEnd) {
  EXPECT_EQ(Encode(std::string(57, 'x')).size(), 76u);  // exactly one full line
  std::string two = Encode(std::string(58, 'x'));
  ASSERT_EQ(two.size(), 82u);
  EXPECT_EQ(two.substr(76, 2), "\r\n");
  std::string three = Encode(std::string(114, 'x'));
  ASSERT_EQ(three.size(), 154u);
  EXPECT_EQ(three.find("\r\n"), 76u);
  EXPECT_EQ(three.rfind("\r\n"), 76u);
}

TEST(Base64, RefusesAnOutputBufferWithoutRoomForTheNul) {
  char out[9];
  const uint8_t data[6] = {'f', 'o', 'o', 'b', 'a', 'r'};
  EXPECT_EQ(b64_encode(data, 6, out, 8), 0u);
  EXPECT_EQ(b64_encode(data, 6, out, 9), 8u);
}

TEST(Base64, DecodingSkipsForeignCharactersAndStopsKeepingAtTheLimit) {
  EXPECT_EQ(Decode("Zm9v\r\nYm F\tyX=="), "foobar");  // the lone X is leftover bits
  uint8_t out[2];
  EXPECT_EQ(b64_decode("Zm9vYmFy", out, 2), 2u);
  EXPECT_EQ(out[1], 'o');
}

// ---- the field container ----

TEST(FieldContainer, TextSizesAndLineLayoutByPlainLength) {
  const size_t lengths[] = {1, 16, 17, 64, 65, 128};
  const size_t expected[] = {90, 90, 110, 154, 176, 242};
  for (int i = 0; i < 6; i++) {
    std::string text = EncryptAt(PlainOfLength(lengths[i]), 1700000000);
    ASSERT_EQ(text.size(), expected[i]) << lengths[i] << " bytes";
    for (size_t pos = 76; pos < text.size(); pos += 78) EXPECT_EQ(text.substr(pos, 2), "\r\n");
    EXPECT_NE(text.back(), '\n');
  }
}

TEST(FieldContainer, LayoutCarriesLengthInIvAndTagOverCiphertext) {
  for (size_t length : {5u, 16u, 33u}) {
    std::string decoded = Decode(EncryptAt(PlainOfLength(length), 1700000000));
    size_t cipherSize = (length + 15) / 16 * 16;
    ASSERT_EQ(decoded.size(), cipherSize + 48);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(decoded.data());
    EXPECT_EQ(bytes[15] & 0x0F, length % 16);
    uint8_t key[32];
    derive(bytes, kPass, key);
    uint8_t tag[32];
    hmac_sha256(key, 32, bytes + 16, cipherSize, tag);
    EXPECT_EQ(Hex(tag, 32), Hex(bytes + 16 + cipherSize, 32));
  }
}

TEST(FieldContainer, RoundTripsEveryLengthFrom1To128) {
  for (size_t length = 1; length <= AX_MAX_PLAIN; length++) {
    std::string plain = PlainOfLength(length);
    char text[AX_MIN_OUTPUT];
    ASSERT_GT(ax_encrypt(kPass, plain.c_str(), text, sizeof text), 0);
    char out[256];
    ASSERT_EQ(ax_decrypt(kPass, text, out, sizeof out), static_cast<int>(length));
    ASSERT_EQ(std::string(out), plain);
  }
}

TEST(FieldContainer, SameSecondSameTextOtherSecondOtherText) {
  std::string plain = "game.example.net:7000";
  std::string first = EncryptAt(plain, 1700000000);
  EXPECT_EQ(EncryptAt(plain, 1700000000), first);
  std::string later = EncryptAt(plain, 1700000001);
  EXPECT_NE(later.substr(0, 22), first.substr(0, 22));  // IV differs
  EXPECT_NE(later.substr(22), first.substr(22));        // and so do ciphertext and tag
  EXPECT_EQ(Decrypt(later), plain);
}

TEST(FieldContainer, EncryptUsesTheCurrentSecond) {
  for (int attempt = 0; attempt < 3; attempt++) {
    time_t before = time(nullptr);
    char a[AX_MIN_OUTPUT];
    char b[AX_MIN_OUTPUT];
    ax_encrypt(kPass, "player", a, sizeof a);
    ax_encrypt(kPass, "player", b, sizeof b);
    if (time(nullptr) != before) continue;  // crossed a second boundary; try again
    EXPECT_STREQ(a, b);
    EXPECT_EQ(std::string(a), EncryptAt("player", before));
    return;
  }
  FAIL() << "clock kept moving";
}

TEST(FieldContainer, RefusesBadPlainTextsAndSmallBuffersWithoutTouchingOutput) {
  char out[AX_MIN_OUTPUT];
  memset(out, 'Q', sizeof out);
  EXPECT_EQ(ax_encrypt(kPass, "", out, sizeof out), 0);
  EXPECT_EQ(ax_encrypt(kPass, PlainOfLength(129).c_str(), out, sizeof out), 0);
  EXPECT_EQ(ax_encrypt(kPass, "x", out, AX_MIN_OUTPUT - 1), 0);
  EXPECT_EQ(out[0], 'Q');
  EXPECT_EQ(out[AX_MIN_OUTPUT - 2], 'Q');
}

TEST(FieldContainer, TextFormToleratesMissingBreaksExtraBlanksAndNoPadding) {
  std::string plain = "10.1.2.3:7777";
  std::string text = EncryptAt(plain, 1700000123);
  ASSERT_NE(text.find('='), std::string::npos);
  std::string joined;
  std::string spaced;
  std::string unpadded;
  for (char c : text) {
    if (c != '\r' && c != '\n') joined += c;
    spaced += c;
    if (c == 'A') spaced += " \r\n\t";
    if (c != '=') unpadded += c;
  }
  EXPECT_EQ(Decrypt(joined), plain);
  EXPECT_EQ(Decrypt(spaced), plain);
  EXPECT_EQ(Decrypt(unpadded), plain);
}

// Flips the low bit of the Base64 digit at index (Base64 characters only, line breaks skipped).
std::string FlipDigit(std::string text, size_t index) {
  size_t seen = 0;
  for (char& c : text) {
    if (c == '\r' || c == '\n') continue;
    if (seen++ == index) {
      c = (c == 'A') ? 'B' : (c == 'B' ? 'A' : static_cast<char>(c ^ 1));
      break;
    }
  }
  return text;
}

TEST(FieldContainer, TagIsNeverCheckedButCiphertextMatters) {
  std::string plain = "abcdefghijklmnopqrst";  // two blocks
  std::string text = EncryptAt(plain, 1700000000);
  // 96 bytes: IV 0..15 (digits 0..21), ciphertext 16..47 (digits 22..63), tag 48..95.
  EXPECT_EQ(Decrypt(FlipDigit(text, 100)), plain);
  EXPECT_NE(Decrypt(FlipDigit(text, 40)), plain);
  EXPECT_NE(Decrypt(text, "another pass phrase"), plain);
}

TEST(FieldContainer, DamagedLengthsGiveEmptyResult) {
  for (size_t size : {0u, 47u, 48u, 49u, 63u, 65u}) {
    char out[64];
    memset(out, 'Q', sizeof out);
    std::string text = Encode(std::string(size, '\x5a'));
    EXPECT_EQ(ax_decrypt(kPass, text.c_str(), out, sizeof out), 0) << size << " bytes";
    EXPECT_EQ(out[0], '\0');
  }
}

TEST(FieldContainer, SmallOutputBufferTruncates) {
  std::string text = EncryptAt("game.example.net", 1700000000);
  char out[5];
  EXPECT_EQ(ax_decrypt(kPass, text.c_str(), out, sizeof out), 4);
  EXPECT_STREQ(out, "game");
  EXPECT_EQ(ax_decrypt(kPass, text.c_str(), out, 1), 0);
  EXPECT_STREQ(out, "");
}

TEST(FieldContainer, OnlyTheFirst1024DecodedBytesCount) {
  // 64 + 966 = 1030 bytes would be refused; cut at 1024 they decrypt, first block intact.
  std::string field = Decode(EncryptAt("sixteen-byte-txt", 1700000000));
  std::string text = Encode(field + std::string(966, '\x11'));
  char out[1024];
  int n = ax_decrypt(kPass, text.c_str(), out, sizeof out);
  ASSERT_GE(n, 16);
  EXPECT_EQ(std::string(out, 16), "sixteen-byte-txt");
  EXPECT_EQ(ax_decrypt(kPass, Encode(field + std::string(6, '\x11')).c_str(), out, sizeof out), 0);
}

TEST(FieldContainer, ThreadsEncryptAndDecryptAtTheSameTime) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([t, &failures] {
      std::string plain = PlainOfLength(10 + t * 20);
      char text[AX_MIN_OUTPUT];
      char out[256];
      ax_encrypt_at(kPass, plain.c_str(), 1700000000 + t, text, sizeof text);
      if (ax_decrypt(kPass, text, out, sizeof out) != static_cast<int>(plain.size()) || plain != out) failures++;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
