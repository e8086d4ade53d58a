// The text of KMLauncher.crc and the player-file rule. The reader behaves like a loop of
// fgets into a 1200-byte buffer followed by a "%lx %llu %llu %n" scan, so a file written by
// any earlier launcher reads the same; the writer prints what that reader takes back whole.
#include "update/cache_file.h"
#include "core/text.h"
#include "update/line_scan.h"
#include <algorithm>

namespace {

// The end of the piece that starts at start: through the next LF, at most kCacheLineMax bytes.
size_t PieceEnd(const std::string& text, size_t start) {
  size_t limit = std::min(text.size() - start, kCacheLineMax);
  const void* lf = memchr(text.data() + start, '\n', limit);
  if (lf == nullptr) return start + limit;
  return static_cast<size_t>(static_cast<const char*>(lf) - text.data()) + 1;
}

// One piece; damaged pieces add nothing. Like a C string, the piece ends at a NUL byte.
void ParseCacheLine(std::string line, FileStateCache& cache) {
  line = line.substr(0, line.find('\0'));
  CacheEntry entry;
  size_t pos = 0;
  if (!ScanHex32(line, pos, entry.crc)) return;
  if (!ScanDecimal64(line, pos, entry.size)) return;
  if (!ScanDecimal64(line, pos, entry.mtime)) return;
  std::string key = line.substr(SkipSpace(line, pos));
  while (!key.empty() && (key.back() == '\r' || key.back() == '\n')) key.pop_back();
  cache[Lower(key)] = entry;
}

void AppendDecimal(std::string& out, uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out += digits[--count];
}

void AppendHex8(std::string& out, uint32_t value) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

}  // namespace

void ParseCacheText(const std::string& text, FileStateCache& cache) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = PieceEnd(text, start);
    ParseCacheLine(text.substr(start, end - start), cache);
    start = end;
  }
}

std::string FormatCacheLine(const std::string& key, const CacheEntry& entry) {
  std::string line;
  AppendHex8(line, entry.crc);
  line += ' ';
  AppendDecimal(line, entry.size);
  line += ' ';
  AppendDecimal(line, entry.mtime);
  line += ' ';
  line += key;
  line += '\n';
  return line;
}

std::string FormatCacheText(const FileStateCache& cache) {
  std::string text;
  for (const auto& [key, entry] : cache) {
    std::string line = FormatCacheLine(key, entry);
    if (line.size() - 1 <= kCacheLineMax) text += line;
  }
  return text;
}

bool IsPlayerFile(const std::string& lowerPath) {
  static const char* const exact[] = {"coinit.tmp",     "kmlauncher.cfg", "kmlauncher.crc",
                                      "kmlauncher.log", "kmlauncher.old", "musicsetting.cfg"};
  for (const char* name : exact) {
    if (lowerPath == name) return true;
  }
  size_t dot = lowerPath.rfind('.');
  if (dot == std::string::npos) return false;
  for (const char* extension : {".log", ".tmp", ".part"}) {
    if (lowerPath.compare(dot, std::string::npos, extension) == 0) return true;
  }
  return false;
}
