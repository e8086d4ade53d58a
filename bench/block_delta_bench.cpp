// The delta scan over an old file held in memory (as the launcher maps it), 64 KiB blocks:
// an old file with nothing reusable (only sampled), one with little reusable (the rolling
// checksum at every offset), and the new file with 1 MiB inserted in the middle (nearly
// every block found and confirmed by its strong hash). Bytes per second are old-file bytes
// scanned. Also the map build publish runs over every large file.
#include "tests/block_map_of_bytes.h"
#include "update/block_map.h"
#include "update/block_scan.h"
#include "update/delta_plan.h"
#include <benchmark/benchmark.h>
#include <random>

namespace {
constexpr uint32_t kBlock = 64u << 10;
constexpr size_t kFile = 64u << 20;

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937_64 random(seed);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t word = random();
    memcpy(&bytes[i], &word, 8);
  }
  return bytes;
}

void RunScan(benchmark::State& state, const std::vector<uint8_t>& oldFile, const std::vector<uint8_t>& newFile) {
  BlockMap map = MakeBlockMap(newFile.data(), newFile.size(), kBlock);
  BlockScan scan;
  for (auto _ : state) {
    ScanOldBytes(map, oldFile.data(), oldFile.size(), scan);
    benchmark::DoNotOptimize(scan.reusableBytes);
  }
  DeltaPlan plan = PlanDelta(map, scan, 0);
  state.counters["fetched_%"] = 100.0 * plan.fetchBytes / newFile.size();
  state.counters["requests"] = double(plan.requests);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(oldFile.size()));
}

void DeltaScanNothingReusable(benchmark::State& state) {
  RunScan(state, RandomBytes(kFile, 1), RandomBytes(kFile, 2));
}

// One stretch of the old file recurs, at its start where the sampling finds it, so the
// rest is rolled over at every offset: the scan's speed where little is reusable.
void DeltaScanRollingEveryOffset(benchmark::State& state) {
  std::vector<uint8_t> oldFile = RandomBytes(kFile, 1);
  std::vector<uint8_t> newFile(oldFile.begin(), oldFile.begin() + (1u << 20));
  std::vector<uint8_t> fresh = RandomBytes(kFile - (1u << 20), 5);
  newFile.insert(newFile.end(), fresh.begin(), fresh.end());
  RunScan(state, oldFile, newFile);
}

void DeltaScanInsertedMiB(benchmark::State& state) {
  std::vector<uint8_t> oldFile = RandomBytes(kFile, 1);
  std::vector<uint8_t> newFile(oldFile.begin(), oldFile.begin() + kFile / 2);
  std::vector<uint8_t> inserted = RandomBytes(1u << 20, 3);
  newFile.insert(newFile.end(), inserted.begin(), inserted.end());
  newFile.insert(newFile.end(), oldFile.begin() + kFile / 2, oldFile.end());
  RunScan(state, oldFile, newFile);
}

void BlockMapBuild(benchmark::State& state) {
  std::vector<uint8_t> file = RandomBytes(kFile / 4, 4);
  for (auto _ : state) {
    BlockMap map = MakeBlockMap(file.data(), file.size(), kBlock);
    benchmark::DoNotOptimize(map.blocks.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

BENCHMARK(DeltaScanNothingReusable)->Unit(benchmark::kMillisecond);
BENCHMARK(DeltaScanRollingEveryOffset)->Unit(benchmark::kMillisecond);
BENCHMARK(DeltaScanInsertedMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BlockMapBuild)->Unit(benchmark::kMillisecond);
}  // namespace
