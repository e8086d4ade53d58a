// The rolling scan; see block_scan.h.
#include "update/block_scan.h"
#include <algorithm>

namespace {
constexpr uint64_t kSamples = 32;
constexpr uint64_t kSampleBytes = 128u << 10;

// The map's checksums, sorted by weak and then strong for look-up, behind a bit filter that
// turns away almost every offset with one memory access: the filter stays in the
// second-level cache. Blocks with the same weak and strong values hold the same bytes; they
// form one group, found with one binary search however many blocks share a weak checksum.
class WeakIndex {
 public:
  struct Entry {
    uint32_t weak;
    StrongHash strong;
    size_t block;
    bool operator<(const Entry& other) const {
      if (weak != other.weak) return weak < other.weak;
      return strong != other.strong ? strong < other.strong : block < other.block;
    }
  };

  explicit WeakIndex(const BlockMap& map) {
    for (size_t i = 0; i < map.blocks.size(); i++) {
      if (map.BlockLength(i) == map.blockSize) entries_.push_back({map.blocks[i].weak, map.blocks[i].strong, i});
    }
    std::sort(entries_.begin(), entries_.end());
    // About one false pass in a thousand offsets, each costing a binary search; at most
    // 1 MiB of filter, which still fits the second-level cache of most CPUs.
    unsigned bits = 16;
    while (bits < 23 && (size_t(1) << bits) < entries_.size() * 1024) bits++;
    shift_ = 32 - bits;
    filter_.assign((size_t(1) << bits) / 64, 0);
    for (const Entry& entry : entries_) {
      uint32_t slot = entry.weak >> shift_;
      filter_[slot / 64] |= uint64_t(1) << (slot % 64);
    }
  }

  bool MayHold(uint32_t weak) const {
    uint32_t slot = weak >> shift_;
    return filter_[slot / 64] >> (slot % 64) & 1;
  }

  // Rolls the window on from offset p until the filter lets its checksum through or p
  // reaches stop; returns the new offset with sums updated. Locals only, so the compiler
  // keeps everything in registers: this loop is the scan's whole cost on changed files.
  uint64_t RollUntilPass(const uint8_t* old, uint64_t p, uint64_t stop, uint32_t n, WeakSums& sums) const {
    const uint64_t* filter = filter_.data();
    const unsigned shift = shift_;
    uint32_t a = sums.a, b = sums.b;
    while (p < stop) {
      uint32_t out = old[p], in = old[p + n];
      a += in - out;
      b += a - n * out;
      p++;
      uint32_t slot = WeakChecksum(WeakSums{a, b}) >> shift;
      if (filter[slot / 64] >> (slot % 64) & 1) break;
    }
    sums = WeakSums{a, b};
    return p;
  }

  bool Holds(uint32_t weak) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), weak,
                               [](const Entry& entry, uint32_t value) { return entry.weak < value; });
    return it != entries_.end() && it->weak == weak;
  }

  // The group of blocks with these checksums, as [first, last) in entries(); empty if none.
  std::pair<size_t, size_t> Group(uint32_t weak, const StrongHash& strong) const {
    auto range = std::equal_range(entries_.begin(), entries_.end(), Entry{weak, strong, 0},
                                  [](const Entry& a, const Entry& b) {
                                    return a.weak != b.weak ? a.weak < b.weak : a.strong < b.strong;
                                  });
    return {size_t(range.first - entries_.begin()), size_t(range.second - entries_.begin())};
  }

  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
  std::vector<uint64_t> filter_;
  unsigned shift_ = 20;
};

class Scanner {
 public:
  Scanner(const BlockMap& map, const uint8_t* old, uint64_t oldSize, BlockScan& scan, const ScanPoll& poll)
      : map_(map), index_(map), old_(old), oldSize_(oldSize), scan_(scan), poll_(poll) {
    scan_.oldOffset.assign(map.blocks.size(), kNotFound);
    scan_.reusableBytes = 0;
    budget_ = StrongHashBudget(oldSize, map.blockSize);
    groupRecorded_.assign(index_.entries().size(), false);
  }

  // Every window starting in [from, end - block size]; false when the poll stopped it.
  // Returns early, true, once the hashing budget is spent (scan.overBudget).
  bool RollAlong(uint64_t from, uint64_t end);
  void FindShortLastBlock();
  // False when the poll stopped it; found says whether a sample held a block.
  bool SampleForABlock(bool& found);

 private:
  // The strong hash of old bytes, within the budget; false (scan.overBudget) beyond it.
  bool Hash(uint64_t offset, uint32_t length, StrongHash& strong);
  // Records every map block the block-size window at offset holds; true when there was one.
  bool Claim(uint32_t weak, uint64_t offset);
  void Record(size_t block, uint64_t offset);
  // True when the poll asks to stop; asked once work has grown by kScanPollWork.
  bool PollSaysStop(uint64_t offset);

  const BlockMap& map_;
  WeakIndex index_;
  const uint8_t* old_;
  uint64_t oldSize_;
  BlockScan& scan_;
  const ScanPoll& poll_;
  uint64_t budget_ = 0;
  uint64_t rolled_ = 0;  // offsets rolled over, for the poll
  uint64_t nextPoll_ = kScanPollWork;
  std::vector<bool> groupRecorded_;  // by the group's first entry in the index
};

void Scanner::Record(size_t block, uint64_t offset) {
  if (scan_.oldOffset[block] != kNotFound) return;
  scan_.oldOffset[block] = offset;
  scan_.reusableBytes += map_.BlockLength(block);
}

bool Scanner::PollSaysStop(uint64_t offset) {
  uint64_t work = rolled_ + scan_.bytesHashed;
  if (work < nextPoll_) return false;
  nextPoll_ = work + kScanPollWork;
  return poll_ && poll_(offset);
}

bool Scanner::Hash(uint64_t offset, uint32_t length, StrongHash& strong) {
  if (scan_.bytesHashed + length > budget_) {
    scan_.overBudget = true;
    return false;
  }
  strong = StrongHashOf(old_ + offset, length, map_.strongBytes);
  scan_.bytesHashed += length;
  return true;
}

bool Scanner::Claim(uint32_t weak, uint64_t offset) {
  StrongHash strong;
  if (!index_.Holds(weak) || !Hash(offset, map_.blockSize, strong)) return false;
  std::pair<size_t, size_t> group = index_.Group(weak, strong);
  if (group.first == group.second) return false;
  // A group is recorded where it is first found; found again, it costs nothing more.
  if (!groupRecorded_[group.first]) {
    for (size_t i = group.first; i < group.second; i++) Record(index_.entries()[i].block, offset);
    groupRecorded_[group.first] = true;
  }
  return true;
}

bool Scanner::RollAlong(uint64_t from, uint64_t end) {
  const uint32_t n = map_.blockSize;
  if (end < from + n) return true;
  uint64_t p = from;
  WeakSums sums = WeakSumsOf(old_ + p, n);
  for (;;) {
    if (PollSaysStop(p)) return false;
    uint32_t weak = WeakChecksum(sums);
    if (index_.MayHold(weak) && Claim(weak, p)) {
      p += n;
      if (p + n > end) return true;
      sums = WeakSumsOf(old_ + p, n);
      continue;
    }
    if (scan_.overBudget || p + n >= end) return true;
    // The hot path: roll on until the filter lets a checksum through, or it is time to poll.
    uint64_t work = rolled_ + scan_.bytesHashed;
    uint64_t room = nextPoll_ > work ? nextPoll_ - work : 1;
    uint64_t stop = std::min<uint64_t>(end - n, p + room);
    uint64_t before = p;
    p = index_.RollUntilPass(old_, p, stop, n, sums);
    rolled_ += p - before;
  }
}

// Rolls over kSamples short stretches spread evenly over the old file. Reuse they all miss
// is less than about one stretch in kSamples of the file, so a file that has none of the
// new blocks costs only these few megabytes of scanning before it is downloaded whole.
bool Scanner::SampleForABlock(bool& found) {
  uint64_t stretch = kSampleBytes + map_.blockSize;
  found = false;
  for (uint64_t k = 0; k < kSamples && !scan_.overBudget; k++) {
    uint64_t start = k * (oldSize_ / kSamples);
    if (!RollAlong(start, std::min(oldSize_, start + stretch))) return false;
    found = scan_.reusableBytes > 0;
    if (found) return true;
  }
  return true;
}

// The last block is shorter than the window the scan rolls, so it is looked for where it
// most likely is: right after the old place of the block before it, and at the old end.
void Scanner::FindShortLastBlock() {
  if (map_.blocks.empty()) return;
  size_t last = map_.blocks.size() - 1;
  uint32_t length = map_.BlockLength(last);
  if (length == map_.blockSize || length > oldSize_) return;
  std::vector<uint64_t> candidates = {oldSize_ - length, 0};
  if (last > 0 && scan_.oldOffset[last - 1] != kNotFound) {
    candidates.insert(candidates.begin(), scan_.oldOffset[last - 1] + map_.blockSize);
  }
  for (uint64_t offset : candidates) {
    if (scan_.oldOffset[last] != kNotFound || offset > oldSize_ - length) continue;
    StrongHash strong;
    if (WeakChecksum(WeakSumsOf(old_ + offset, length)) != map_.blocks[last].weak) continue;
    if (!Hash(offset, length, strong)) return;
    if (strong == map_.blocks[last].strong) Record(last, offset);
  }
}

// A map that spent the budget is a bad map: what it found is dropped with it.
bool FinishedOverBudget(BlockScan& scan) {
  if (!scan.overBudget) return false;
  std::fill(scan.oldOffset.begin(), scan.oldOffset.end(), kNotFound);
  scan.reusableBytes = 0;
  return true;
}
}  // namespace

// The old file once over (what the scan hashes when every block is found), plus the sampled
// stretches, which are scanned again, and a few blocks for the short last one.
uint64_t StrongHashBudget(uint64_t oldSize, uint32_t blockSize) {
  return oldSize + kSamples * (kSampleBytes + blockSize) + 4 * uint64_t(blockSize);
}

bool ScanOldBytes(const BlockMap& map, const uint8_t* old, uint64_t oldSize, BlockScan& scan, const ScanPoll& poll) {
  scan.sampledOnly = false;
  scan.overBudget = false;
  scan.bytesHashed = 0;
  if (oldSize > 4 * kSamples * (kSampleBytes + map.blockSize)) {
    Scanner sampler(map, old, oldSize, scan, poll);
    bool found = false;
    if (!sampler.SampleForABlock(found)) return false;
    if (FinishedOverBudget(scan)) return true;
    scan.sampledOnly = !found;
    if (scan.sampledOnly) return true;
  }
  Scanner scanner(map, old, oldSize, scan, poll);
  if (!scanner.RollAlong(0, oldSize)) return false;
  scanner.FindShortLastBlock();
  FinishedOverBudget(scan);
  return true;
}
