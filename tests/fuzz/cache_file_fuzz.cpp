// Fuzzes the cache file reader and checks that what the writer makes of its result reads
// back as the same entries, except those whose line the reader could not take whole, which
// the writer leaves out.
#include "update/cache_file.h"
#include <cstdlib>

namespace {

bool SameEntry(const CacheEntry& a, const CacheEntry& b) {
  return a.crc == b.crc && a.size == b.size && a.mtime == b.mtime;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FileStateCache parsed;
  ParseCacheText(std::string(reinterpret_cast<const char*>(data), size), parsed);
  FileStateCache reparsed;
  ParseCacheText(FormatCacheText(parsed), reparsed);
  for (const auto& [key, entry] : parsed) {
    auto found = reparsed.find(key);
    bool fits = FormatCacheLine(key, entry).size() - 1 <= kCacheLineMax;
    if (fits != (found != reparsed.end())) abort();
    if (fits && !SameEntry(found->second, entry)) abort();
  }
  for (const auto& [key, entry] : reparsed) {
    if (parsed.count(key) == 0) abort();
  }
  return 0;
}
