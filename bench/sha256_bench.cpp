// SHA-256 throughput of the portable kernel and of the SHA-extensions kernel (when the CPU
// has them), over buffers that stay in cache (64 KiB) and one download piece (256 KiB).
#include "core/sha256.h"
#include "core/sha256_ni.h"
#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace {

void RunSha256(benchmark::State& state, int extensions) {
  sha_use_extensions(extensions);
  std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)));
  std::mt19937 random(12345);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  uint8_t digest[32];
  for (auto _ : state) {
    sha256(bytes.data(), bytes.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  sha_use_extensions(1);
}

int RegisterKernels() {
  benchmark::RegisterBenchmark("Sha256/portable", RunSha256, 0)->Arg(64 << 10)->Arg(256 << 10);
  if (sha_ni_supported()) {
    benchmark::RegisterBenchmark("Sha256/sha-ni", RunSha256, 1)->Arg(64 << 10)->Arg(256 << 10);
  }
  return 0;
}

const int g_registered = RegisterKernels();

}  // namespace
