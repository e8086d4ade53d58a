// Fuzzes the manifest parse and checks what the update pass relies on: a rejected body
// yields nothing, every listed path is safe, names no player file and no file listed before.
#include "core/text.h"
#include "update/cache_file.h"
#include "update/manifest.h"
#include "update/windows_name_key.h"
#include <cstdlib>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const Manifest manifest = ParseManifest(body);
  if (!manifest.accepted && (!manifest.files.empty() || !manifest.unsafePaths.empty() ||
                             !manifest.notes.empty() || manifest.version != 0)) {
    abort();
  }
  if (manifest.notes.size() > kMaxNotesLines) abort();
  if (!manifest.mirror.empty() && manifest.mirror.back() == '/') abort();
  std::set<std::string> names;  // no two listed files are one file to Windows
  for (const RemoteFile& file : manifest.files) {
    if (IsUnsafeManifestPath(file.path)) abort();
    if (IsPlayerFile(Lower(file.path)) || ResolvesToPlayerFile(file.path)) abort();
    if (!names.insert(WindowsNameKey(file.path)).second) abort();
  }
  for (const std::string& path : manifest.unsafePaths) {  // unsafe, or a second spelling of a listed file
    if (!IsUnsafeManifestPath(path) && names.count(WindowsNameKey(path)) == 0) abort();
  }
  return 0;
}
