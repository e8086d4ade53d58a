// CRC-32 throughput of every kernel (byte table, slicing-by-8, carry-less folding) over
// buffers that stay in cache: 64 KiB and 1 MiB.
#include "update/crc32.h"
#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

std::vector<uint8_t> RandomBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(12345);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

void RunKernel(benchmark::State& state, uint32_t (*update)(uint32_t, const void*, size_t)) {
  Crc32Init();
  std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    uint32_t crc = update(kCrc32Start, bytes.data(), bytes.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Registers one benchmark per kernel this CPU runs, plus the byte table they are held to.
int RegisterKernels() {
  std::vector<Crc32Kernel> kernels = Crc32Kernels();
  kernels.insert(kernels.begin(), Crc32Kernel{"byte-table", Crc32UpdateBytewise});
  for (const Crc32Kernel& kernel : kernels) {
    std::string name = std::string("Crc32/") + kernel.name;
    benchmark::RegisterBenchmark(name.c_str(), RunKernel, kernel.update)->Arg(64 << 10)->Arg(1 << 20);
  }
  return 0;
}

const int g_registered = RegisterKernels();

}  // namespace
