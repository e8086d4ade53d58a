// Manifest parse time for releases of 10,000 and 100,000 files; the parse must stay linear
// in the number of lines.
#include "update/manifest.h"
#include <benchmark/benchmark.h>

namespace {

std::string ManifestBody(int files) {
  std::string body = "KMCONTENT\nversion 42\nname Bench\nmirror http://cdn.example/kel/\n";
  for (int i = 0; i < 50; i++) body += "notes Line " + std::to_string(i) + " of the release notes\n";
  body += "files " + std::to_string(files) + "\n";
  char line[128];
  for (int i = 0; i < files; i++) {
    snprintf(line, sizeof line, "%08X %d Data/Zone%03d/Mesh Pack %06d.pak\r\n",
             static_cast<unsigned>(i) * 2654435761u, 1000 + i * 37, i % 500, i);
    body += line;
  }
  return body;
}

void BM_ParseManifest(benchmark::State& state) {
  const std::string body = ManifestBody(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Manifest manifest = ParseManifest(body);
    benchmark::DoNotOptimize(manifest.files.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ParseManifest)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
