// Cost of one encrypted field: ax_encrypt and ax_decrypt for a short and the longest plain
// text, and the key derivation alone (8192 SHA-256 rounds), which is nearly all of it.
#include "gameconfig/axcrypt.h"
#include <benchmark/benchmark.h>
#include <string>

namespace {

const char* const kPass = "zmxncbvlaksjdhfgpqowieurytzmxncb";

std::string Plain(int64_t length) { return std::string(static_cast<size_t>(length), 'k'); }

void BM_AxEncrypt(benchmark::State& state) {
  std::string plain = Plain(state.range(0));
  char text[AX_MIN_OUTPUT];
  for (auto _ : state) {
    int n = ax_encrypt(kPass, plain.c_str(), text, sizeof text);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_AxEncrypt)->Arg(21)->Arg(128)->Unit(benchmark::kMillisecond);

void BM_AxDecrypt(benchmark::State& state) {
  std::string plain = Plain(state.range(0));
  char text[AX_MIN_OUTPUT];
  ax_encrypt(kPass, plain.c_str(), text, sizeof text);
  char out[256];
  for (auto _ : state) {
    int n = ax_decrypt(kPass, text, out, sizeof out);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_AxDecrypt)->Arg(21)->Arg(128)->Unit(benchmark::kMillisecond);

void BM_Derive(benchmark::State& state) {
  const uint8_t salt[16] = {1, 2, 3};
  uint8_t key[32];
  for (auto _ : state) {
    derive(salt, kPass, key);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_Derive)->Unit(benchmark::kMillisecond);

void BM_AesBlock(benchmark::State& state) {
  const uint8_t key[32] = {7};
  uint32_t schedule[60];
  aes_key(key, schedule);
  uint8_t block[16] = {0};
  for (auto _ : state) {
    aes_encrypt(schedule, block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}
BENCHMARK(BM_AesBlock);

}  // namespace
