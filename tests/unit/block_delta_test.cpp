// Block maps, the rolling scan and the delta plan, judged by what the launcher relies on:
// the old blocks plus the fetched ranges rebuild the new file exactly, few bytes are fetched
// when little changed, and a damaged map is never read as a map.
#include "tests/block_map_of_bytes.h"
#include "update/block_map.h"
#include "update/block_scan.h"
#include "update/delta_plan.h"
#include "update/manifest.h"
#include <gtest/gtest.h>
#include <random>

namespace {
constexpr uint32_t kBlock = 4096;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct Rebuilt {
  std::string bytes;
  DeltaPlan plan;
};

// What the launcher does: scan the old file against the new file's map, then follow the
// plan, copying from the old bytes and "fetching" from the new ones.
Rebuilt Rebuild(const std::string& oldFile, const std::string& newFile, uint64_t from = 0, uint64_t mergeGap = 0) {
  BlockMap map = MakeBlockMap(Bytes(newFile), newFile.size(), kBlock);
  BlockScan scan;
  EXPECT_TRUE(ScanOldBytes(map, Bytes(oldFile), oldFile.size(), scan));
  EXPECT_FALSE(scan.overBudget);  // an honest map never reaches the hashing bound
  Rebuilt result;
  result.plan = PlanDelta(map, scan, from, mergeGap);
  result.bytes = newFile.substr(0, from);
  for (const DeltaRun& run : result.plan.runs) {
    EXPECT_EQ(run.newOffset, result.bytes.size());
    result.bytes += run.fetch ? newFile.substr(run.newOffset, run.length) : oldFile.substr(run.oldOffset, run.length);
  }
  return result;
}

TEST(BlockMapFormat, RoundTripsAndRefusesEveryDamage) {
  std::string file = RandomBytes(10 * kBlock + 123, 1);
  BlockMap map = MakeBlockMap(Bytes(file), file.size(), kBlock);
  ASSERT_EQ(map.blocks.size(), 11u);
  EXPECT_EQ(map.BlockLength(10), 123u);
  std::string bytes = SerializeBlockMap(map);
  EXPECT_LE(bytes.size(), MaxBlockMapSize(file.size()));
  BlockMap parsed;
  ASSERT_TRUE(ParseBlockMap(bytes, parsed));
  EXPECT_EQ(parsed.fileSize, file.size());
  EXPECT_EQ(parsed.blockSize, kBlock);
  EXPECT_EQ(SerializeBlockMap(parsed), bytes);

  for (size_t at : {size_t(0), size_t(9), size_t(17), size_t(40), bytes.size() - 1}) {
    std::string damaged = bytes;
    damaged[at] ^= 0x20;
    EXPECT_FALSE(ParseBlockMap(damaged, parsed)) << "byte " << at;
  }
  EXPECT_FALSE(ParseBlockMap(bytes.substr(0, bytes.size() - 1), parsed));
  EXPECT_FALSE(ParseBlockMap(bytes + '\0', parsed));
  // A block size outside the limits, with a CRC that matches, is still refused.
  BlockMap tiny = map;
  tiny.blockSize = kMinBlockSize - 1;
  EXPECT_FALSE(ParseBlockMap(SerializeBlockMap(tiny), parsed));
  BlockMap huge = map;
  huge.fileSize = UINT64_MAX - 5;
  EXPECT_FALSE(ParseBlockMap(SerializeBlockMap(huge), parsed));
}

TEST(BlockMapFormat, WeakSumsFollowTheirDefinitionForEveryLengthAndAlignment) {
  std::string bytes = RandomBytes(300, 20) + std::string(200, '\xFF');
  for (size_t start : {0, 1, 7, 250}) {
    for (size_t size = 0; start + size <= bytes.size(); size += (size < 40 ? 1 : 37)) {
      uint32_t a = 0, b = 0;
      for (size_t i = 0; i < size; i++) {
        a += static_cast<uint8_t>(bytes[start + i]);
        b += static_cast<uint32_t>(size - i) * static_cast<uint8_t>(bytes[start + i]);
      }
      WeakSums sums = WeakSumsOf(Bytes(bytes) + start, size);
      ASSERT_EQ(sums.a, a) << start << " " << size;
      ASSERT_EQ(sums.b, b) << start << " " << size;
    }
  }
}

TEST(DeltaScan, InsertedBytesCostOnlyThemselvesAndTheTwoBlocksAroundThem) {
  std::string oldFile = RandomBytes(64 * kBlock + 777, 3);
  std::string inserted = RandomBytes(5000, 4);
  std::string newFile = oldFile.substr(0, 30 * kBlock + 100) + inserted + oldFile.substr(30 * kBlock + 100);
  Rebuilt rebuilt = Rebuild(oldFile, newFile);
  EXPECT_EQ(rebuilt.bytes, newFile);
  EXPECT_LE(rebuilt.plan.fetchBytes, inserted.size() + 2 * kBlock);
  EXPECT_EQ(rebuilt.plan.requests, 1u);
}

TEST(DeltaScan, RemovedOverwrittenAndMovedBlocksAreFound) {
  std::string a = RandomBytes(20 * kBlock, 5), b = RandomBytes(20 * kBlock, 6), c = RandomBytes(20 * kBlock + 9, 7);
  std::string oldFile = a + b + c;
  std::string changed = b;
  changed[5 * kBlock + 7] ^= 1;
  // c moved to the front, 1000 bytes cut from a, one byte of b changed.
  std::string newFile = c + a.substr(1000) + changed;
  Rebuilt rebuilt = Rebuild(oldFile, newFile);
  EXPECT_EQ(rebuilt.bytes, newFile);
  EXPECT_LE(rebuilt.plan.fetchBytes, 4u * kBlock);
  EXPECT_GE(rebuilt.plan.copyBytes, newFile.size() - 4u * kBlock);
}

TEST(DeltaScan, NothingReusableFetchesTheWholeFileInOneRequest) {
  std::string newFile = RandomBytes(33 * kBlock + 1, 8);
  Rebuilt rebuilt = Rebuild(RandomBytes(40 * kBlock, 9), newFile);
  EXPECT_EQ(rebuilt.bytes, newFile);
  EXPECT_EQ(rebuilt.plan.fetchBytes, newFile.size());
  EXPECT_EQ(rebuilt.plan.requests, 1u);
  // An old file shorter than one block, and an empty one, are no trouble either.
  EXPECT_EQ(Rebuild("short", newFile).bytes, newFile);
  EXPECT_EQ(Rebuild("", newFile).bytes, newFile);
}

TEST(DeltaScan, RepeatedContentAndAShortLastBlockAreReused) {
  std::string zeros(16 * kBlock, '\0');
  std::string tail = RandomBytes(kBlock / 3, 10);
  std::string oldFile = zeros + tail;
  std::string newFile = RandomBytes(100, 11) + zeros + tail;
  Rebuilt rebuilt = Rebuild(oldFile, newFile);
  EXPECT_EQ(rebuilt.bytes, newFile);
  EXPECT_LE(rebuilt.plan.fetchBytes, uint64_t(kBlock));
}

TEST(DeltaPlanRuns, ResumedPartStartsMidBlockAndShortCopiesBetweenFetchesAreFetched) {
  std::string oldFile = RandomBytes(100 * kBlock, 12);
  std::string newFile = oldFile;
  for (size_t block : {10, 12, 50}) newFile[block * kBlock + 3] ^= 0x55;  // two close changes, one far
  Rebuilt rebuilt = Rebuild(oldFile, newFile, 5 * kBlock + 17, kCopyGapWorthARequest);
  EXPECT_EQ(rebuilt.bytes, newFile);
  ASSERT_FALSE(rebuilt.plan.runs.empty());
  EXPECT_EQ(rebuilt.plan.runs.front().newOffset, 5u * kBlock + 17);
  EXPECT_EQ(rebuilt.plan.requests, 2u);  // blocks 10 to 12 as one request, block 50 as another
  EXPECT_EQ(rebuilt.plan.fetchBytes, 4u * kBlock);

  BlockMap map = MakeBlockMap(Bytes(newFile), newFile.size(), kBlock);
  BlockScan scan;
  ASSERT_TRUE(ScanOldBytes(map, Bytes(oldFile), oldFile.size(), scan));
  EXPECT_EQ(PlanDelta(map, scan, 0, 0).requests, 3u);
  EXPECT_TRUE(PlanDelta(map, scan, newFile.size()).runs.empty());
}

TEST(DeltaScan, ALargeOldFileIsSampledFirstAndReuseInOneTenthOfItIsStillFound) {
  std::string oldFile = RandomBytes(20u << 20, 14);
  BlockScan scan;
  std::string unrelated = RandomBytes(4u << 20, 15);
  BlockMap map = MakeBlockMap(Bytes(unrelated), unrelated.size(), kBlock);
  ASSERT_TRUE(ScanOldBytes(map, Bytes(oldFile), oldFile.size(), scan));
  EXPECT_TRUE(scan.sampledOnly);
  EXPECT_EQ(scan.reusableBytes, 0u);

  std::string newFile = RandomBytes(1000, 16) + oldFile.substr(11u << 20, 2u << 20) + RandomBytes(5000, 17);
  Rebuilt rebuilt = Rebuild(oldFile, newFile);
  EXPECT_EQ(rebuilt.bytes, newFile);
  EXPECT_LE(rebuilt.plan.fetchBytes, 6000u + 2 * kBlock);
}

TEST(DeltaScan, PollStopsTheScan) {
  std::string oldFile = RandomBytes(12u << 20, 13);
  BlockMap map = MakeBlockMap(Bytes(oldFile), kBlock, kBlock);  // found at 0, nowhere after
  BlockScan scan;
  uint64_t seen = 0;
  EXPECT_FALSE(ScanOldBytes(map, Bytes(oldFile), oldFile.size(), scan, [&](uint64_t scanned) {
    seen = scanned;
    return true;
  }));
  EXPECT_GT(seen, 0u);
  EXPECT_LT(seen, oldFile.size());
}

// A hostile map whose weak checksums all equal that of a run of zero bytes, with strong
// hashes that never match: every offset of a zero run in the old file is a weak hit.
BlockMap StallMap(uint32_t blockSize, uint64_t fileSize) {
  std::string zeros(blockSize, '\0');
  BlockMap map;
  map.blockSize = blockSize;
  map.fileSize = fileSize;
  BlockEntry entry;
  entry.weak = WeakChecksum(WeakSumsOf(Bytes(zeros), zeros.size()));
  entry.strong.fill(0xA5);
  map.blocks.assign(fileSize / blockSize, entry);
  return map;
}

TEST(DeltaScanBound, TheStallMapIsRefusedOrStopsWithinItsHashingBound) {
  // The 72-byte map of the report: two 16 MiB blocks. Blocks that large are refused.
  std::string stall = SerializeBlockMap(StallMap(16u << 20, 32u << 20));
  ASSERT_EQ(stall.size(), 72u);
  BlockMap parsed;
  EXPECT_FALSE(ParseBlockMap(stall, parsed));

  // The same trick with the largest blocks allowed, over an old file of zeros large enough
  // to be sampled first: the scan gives up as soon as the bound is spent, polling as it goes.
  std::string zeros(32u << 20, '\0');
  BlockMap map;
  ASSERT_TRUE(ParseBlockMap(SerializeBlockMap(StallMap(kMaxBlockSize, 8u << 20)), map));
  BlockScan scan;
  uint64_t polls = 0;
  EXPECT_TRUE(ScanOldBytes(map, Bytes(zeros), zeros.size(), scan, [&](uint64_t) { return ++polls, false; }));
  EXPECT_TRUE(scan.overBudget);
  EXPECT_LE(scan.bytesHashed, StrongHashBudget(zeros.size(), map.blockSize));
  EXPECT_LE(StrongHashBudget(zeros.size(), map.blockSize), zeros.size() + (8u << 20));
  EXPECT_GE(polls, scan.bytesHashed / kScanPollWork - 1);
  EXPECT_EQ(scan.reusableBytes, 0u);
  EXPECT_EQ(PlanDelta(map, scan, 0).fetchBytes, map.fileSize);  // downloaded whole

  // The honest map of that file finds every block, within the same bound.
  BlockMap honest = MakeBlockMap(Bytes(zeros), 8u << 20, kMaxBlockSize);
  ASSERT_TRUE(ScanOldBytes(honest, Bytes(zeros), zeros.size(), scan));
  EXPECT_FALSE(scan.overBudget);
  EXPECT_EQ(scan.reusableBytes, honest.fileSize);
}

TEST(DeltaScanBound, SamplingStopsOnTheStopRequest) {
  std::string oldFile = RandomBytes(40u << 20, 18);
  std::string unrelated = RandomBytes(4u << 20, 19);
  BlockMap map = MakeBlockMap(Bytes(unrelated), unrelated.size(), kBlock);
  BlockScan scan;
  uint64_t polls = 0;
  EXPECT_FALSE(ScanOldBytes(map, Bytes(oldFile), oldFile.size(), scan, [&](uint64_t) { return ++polls, true; }));
  EXPECT_EQ(polls, 1u);
  EXPECT_FALSE(scan.sampledOnly);  // stopped while sampling, before any verdict
}

TEST(ManifestBlockMaps, MapLinesFlagTheirFilesAndChangeNothingElse) {
  const std::string plain =
      "KMCONTENT\nversion 7\nname R\nnotes n\nmirror http://m\nfiles 3\n"
      "0000ABCD 123 data/big.pak\n00000001 5 small.txt\n00000002 6 other.pak\n";
  const std::string withMaps = plain + "map data/big.pak\nmap other.pak\nmap not-listed.pak\nmap ../evil\n";
  Manifest a = ParseManifest(plain), b = ParseManifest(withMaps);
  ASSERT_TRUE(b.accepted);
  EXPECT_EQ(b.version, a.version);
  EXPECT_EQ(b.name, a.name);
  EXPECT_EQ(b.notes, a.notes);
  EXPECT_EQ(b.mirror, a.mirror);
  EXPECT_TRUE(b.unsafePaths.empty());
  ASSERT_EQ(b.files.size(), a.files.size());
  for (size_t i = 0; i < a.files.size(); i++) {
    EXPECT_EQ(b.files[i].path, a.files[i].path);
    EXPECT_EQ(b.files[i].size, a.files[i].size);
    EXPECT_EQ(b.files[i].crc, a.files[i].crc);
    EXPECT_FALSE(a.files[i].hasBlockMap);
  }
  EXPECT_TRUE(b.files[0].hasBlockMap);
  EXPECT_FALSE(b.files[1].hasBlockMap);
  EXPECT_TRUE(b.files[2].hasBlockMap);
}
}  // namespace
