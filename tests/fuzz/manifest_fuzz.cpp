// Fuzzes the manifest parse and checks what the update pass relies on: a rejected body
// yields nothing, and every listed path is safe and names no player file.
#include "core/text.h"
#include "update/cache_file.h"
#include "update/manifest.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const Manifest manifest = ParseManifest(body);
  if (!manifest.accepted && (!manifest.files.empty() || !manifest.unsafePaths.empty() ||
                             !manifest.notes.empty() || manifest.version != 0)) {
    abort();
  }
  if (manifest.notes.size() > kMaxNotesLines) abort();
  if (!manifest.mirror.empty() && manifest.mirror.back() == '/') abort();
  for (const RemoteFile& file : manifest.files) {
    if (IsUnsafeManifestPath(file.path)) abort();
    if (IsPlayerFile(Lower(file.path)) || ResolvesToPlayerFile(file.path)) abort();
  }
  for (const std::string& path : manifest.unsafePaths) {
    if (!IsUnsafeManifestPath(path)) abort();
  }
  return 0;
}
