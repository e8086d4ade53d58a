// Packed forms: what publish's block packer writes, the launcher's inflater gives back byte
// for byte from any pieces and from any block on; and a header, index or block that is not
// what publish writes is refused rather than inflated into the part file.
#include "update/packed_form.h"
#include "update/manifest.h"
#include <gtest/gtest.h>
#include <random>

namespace {

constexpr uint32_t kBlock = kPackedBlockSize;

// Text-like blocks (they shrink), random blocks (stored as they are), a short last block.
std::string MixedFile() {
  std::mt19937 random(7);
  std::string bytes;
  for (int i = 0; bytes.size() < 2 * kBlock; i++) bytes += "line " + std::to_string(i % 97) + " of the quest text\n";
  bytes.resize(2 * kBlock);
  for (uint32_t i = 0; i < kBlock; i++) bytes.push_back(static_cast<char>(random()));
  bytes += std::string(12345, 'z');
  return bytes;
}

std::string Pack(const std::string& raw, std::vector<uint32_t>* lengthsOut = nullptr) {
  std::vector<uint32_t> lengths;
  std::string blocks, packed;
  for (size_t at = 0; at < raw.size(); at += kBlock) {
    PackBlock(reinterpret_cast<const uint8_t*>(raw.data()) + at, std::min<size_t>(kBlock, raw.size() - at), 6, packed);
    lengths.push_back(static_cast<uint32_t>(packed.size()));
    blocks += packed;
  }
  if (lengthsOut) *lengthsOut = lengths;
  return FormatPackedHeader(raw.size(), lengths) + blocks;
}

struct Inflated {
  bool fed = true;
  bool complete = false;
  std::string bytes;
  std::string why;
};

// Feeds packed (from the packed byte from on, after StartAt when index is given) in pieces
// of the sizes given, over and over.
Inflated Inflate(const std::string& packed, uint64_t rawSize, const std::vector<size_t>& pieces,
                 const PackedIndex* index = nullptr, size_t first = 0, uint32_t skip = 0) {
  Inflated result;
  BlockInflater inflater(rawSize, [&result](const uint8_t* data, size_t size) {
    result.bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  size_t at = 0;
  if (index) {
    inflater.StartAt(*index, first, skip);
    at = index->offsets[first];
  }
  for (size_t i = 0; at < packed.size() && result.fed; i++) {
    size_t size = std::min(pieces[i % pieces.size()], packed.size() - at);
    result.fed = inflater.Feed(reinterpret_cast<const uint8_t*>(packed.data()) + at, size);
    at += size;
  }
  result.complete = inflater.Complete();
  result.why = inflater.Why();
  return result;
}

PackedIndex IndexOf(const std::string& packed, uint64_t rawSize) {
  PackedIndex index;
  std::string why;
  EXPECT_TRUE(ParsePackedHeader(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), rawSize, index, why))
      << why;
  return index;
}

void PutU32At(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST(PackedForm, InflatesToTheFileFromAnyPiecesAndFromAnyBlockOn) {
  std::string raw = MixedFile();
  std::vector<uint32_t> lengths;
  std::string packed = Pack(raw, &lengths);
  ASSERT_EQ(lengths.size(), 4u);
  EXPECT_LT(lengths[0], kBlock / 4);  // text shrinks
  EXPECT_EQ(lengths[2], kBlock);      // random bytes are stored as they are
  EXPECT_LT(packed.size(), raw.size());
  for (const std::vector<size_t>& pieces : {std::vector<size_t>{1u << 20}, {1, 7, 4093}, {kBlock + 3}}) {
    Inflated whole = Inflate(packed, raw.size(), pieces);
    EXPECT_TRUE(whole.fed && whole.complete) << whole.why;
    EXPECT_TRUE(whole.bytes == raw);
  }
  // A resume: the part file holds 2 blocks and 100 bytes; the rest comes from block 2 on.
  PackedIndex index = IndexOf(packed, raw.size());
  Inflated rest = Inflate(packed, raw.size(), {5000}, &index, 2, 100);
  EXPECT_TRUE(rest.fed && rest.complete) << rest.why;
  EXPECT_TRUE(rest.bytes == raw.substr(2 * kBlock + 100));
}

TEST(PackedForm, AHeaderOrIndexThatIsNotPublishsIsRefused) {
  std::string raw = MixedFile();
  std::string packed = Pack(raw);
  auto refused = [&](std::string bytes, uint64_t rawSize) {
    PackedIndex index;
    std::string why;
    bool parsed = ParsePackedHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), rawSize, index, why);
    Inflated fed = Inflate(bytes, rawSize, {999});
    return !parsed && !why.empty() && !fed.fed && !fed.complete && fed.bytes.empty();
  };
  EXPECT_TRUE(refused(packed, raw.size() + 1));  // another file's size
  std::string otherBlocks = packed;
  PutU32At(otherBlocks, 16, 1u << 20);  // a block size the launcher does not take
  EXPECT_TRUE(refused(otherBlocks, raw.size()));
  std::string fewer = packed;
  PutU32At(fewer, 20, 3);
  EXPECT_TRUE(refused(fewer, raw.size()));
  std::string empty = packed;
  PutU32At(empty, kPackedFixedHeader + 4, 0);
  EXPECT_TRUE(refused(empty, raw.size()));
  std::string longer = packed;
  PutU32At(longer, kPackedFixedHeader + 12, 12346);  // longer than the last block's raw length
  EXPECT_TRUE(refused(longer, raw.size()));
  EXPECT_TRUE(refused("KMPACK2\n" + packed.substr(8), raw.size()));
}

TEST(PackedForm, ABlockThatDoesNotInflateToItsLengthIsRefusedAndNothingAfterIt) {
  std::string raw = MixedFile();
  std::vector<uint32_t> lengths;
  std::string packed = Pack(raw, &lengths);
  size_t second = PackedHeaderSize(raw.size()) + lengths[0];
  std::string flipped = packed;
  flipped[second + lengths[1] / 2] ^= 0x40;
  Inflated damaged = Inflate(flipped, raw.size(), {4096});
  EXPECT_FALSE(damaged.fed);
  EXPECT_NE(damaged.why.find("block 1"), std::string::npos) << damaged.why;
  EXPECT_TRUE(damaged.bytes == raw.substr(0, kBlock));  // only the block before it

  // A bomb: a block that inflates past its raw length (twice its zeros) stops at the bound.
  std::string zeros(2 * kBlock, '\0'), bomb;
  PackBlock(reinterpret_cast<const uint8_t*>(zeros.data()), zeros.size(), 9, bomb);
  std::string bombed = FormatPackedHeader(kBlock, {static_cast<uint32_t>(bomb.size())}) + bomb;
  Inflated burst = Inflate(bombed, kBlock, {1u << 20});
  EXPECT_FALSE(burst.fed);
  EXPECT_TRUE(burst.bytes.empty());

  Inflated trailing = Inflate(packed + "x", raw.size(), {1u << 20});
  EXPECT_FALSE(trailing.fed);
  EXPECT_EQ(trailing.why, "bytes after the last block");
}

TEST(PackedForm, ManifestLinesAnnounceItAndAreNoFileLines) {
  // A launcher without packed transfer reads the line as a file line and skips it: its
  // first word must not be hex.
  Manifest manifest = ParseManifest("KMCONTENT\nversion 2\n0000ABCD 5 data/a.txt\npacked data/a.txt\n");
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_TRUE(manifest.files[0].hasPacked);
  EXPECT_FALSE(ParseManifest("KMCONTENT\n0000ABCD 5 data/a.txt\n").files[0].hasPacked);
}

}  // namespace
