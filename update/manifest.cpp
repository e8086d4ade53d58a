// The manifest parse: the body is cut into lines at LF (one trailing CR dropped), the first
// line must begin with "KMCONTENT", and every further line is a key line or a file line,
// judged by the first rule that matches. File lines that name a player's file or an unsafe
// path never reach the file list. One pass over the body, so the time grows with its size.
#include "update/manifest.h"
#include "core/text.h"
#include "update/cache_file.h"
#include "update/line_scan.h"
#include <string_view>

namespace {

// "crc size path": the path starts at the first non-blank after the size and runs to the
// end of the line. False for a line without both numbers.
bool ScanFileLine(const std::string& line, RemoteFile& file) {
  size_t pos = 0;
  if (!ScanHex32(line, pos, file.crc)) return false;
  if (!ScanDecimal64(line, pos, file.size)) return false;
  file.path = line.substr(SkipSpace(line, pos));
  return true;
}

void AddFileLine(Manifest& manifest, const std::string& line) {
  RemoteFile file;
  if (!ScanFileLine(line, file)) return;
  if (IsPlayerFile(Lower(file.path))) return;
  if (IsUnsafeManifestPath(file.path)) {
    manifest.unsafePaths.push_back(file.path);
    return;
  }
  if (ResolvesToPlayerFile(file.path)) return;
  manifest.files.push_back(std::move(file));
}

void AddNotesLine(Manifest& manifest, std::string text) {
  if (manifest.notes.size() < kMaxNotesLines) manifest.notes.push_back(std::move(text));
}

std::string Rest(const std::string& line, const char* key) { return line.substr(strlen(key)); }

// Every line after the first; the first matching rule decides.
void ApplyLine(Manifest& manifest, const std::string& line) {
  if (StartsWith(line, "version ")) {
    manifest.version = ParseIntLikeAtoi(line.c_str() + strlen("version "));
  } else if (StartsWith(line, "gameserver ")) {
    manifest.gameServer = Rest(line, "gameserver ");
  } else if (StartsWith(line, "mirror ")) {
    std::string mirror = Rest(line, "mirror ");
    while (!mirror.empty() && mirror.back() == '/') mirror.pop_back();
    manifest.mirror = mirror;
  } else if (StartsWith(line, "name ")) {
    manifest.name = Rest(line, "name ");
  } else if (StartsWith(line, "notes ")) {
    AddNotesLine(manifest, Rest(line, "notes "));
  } else if (line == "notes") {
    AddNotesLine(manifest, std::string());
  } else if (StartsWith(line, "files ") || line.empty()) {
    // The count is not used; blank lines separate sections for people reading the file.
  } else {
    AddFileLine(manifest, line);
  }
}

// Calls visit with each part of the path between "/" and "\" separators, empty parts included.
template <typename Visit>
void ForEachPart(const std::string& path, Visit visit) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      visit(std::string_view(path).substr(start, i - start));
      start = i + 1;
    }
  }
}

}  // namespace

bool IsUnsafeManifestPath(const std::string& path) {
  if (path.empty() || path[0] == '\\' || path[0] == '/') return true;
  if (path.find(':') != std::string::npos) return true;
  if (path.find('\0') != std::string::npos) return true;
  bool dotDot = false;
  ForEachPart(path, [&](std::string_view part) { dotDot = dotDot || part == ".."; });
  return dotDot;
}

std::string ResolvedWindowsPath(const std::string& path) {
  std::string resolved;
  ForEachPart(path, [&](std::string_view part) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    if (part.empty()) return;  // "", "." and names of only dots and blanks
    if (!resolved.empty()) resolved += '/';
    resolved += part;
  });
  return resolved;
}

bool ResolvesToPlayerFile(const std::string& path) { return IsPlayerFile(Lower(ResolvedWindowsPath(path))); }

Manifest ParseManifest(const std::string& body) {
  Manifest manifest;
  manifest.accepted = true;  // an empty body has no first line to refuse
  bool first = true;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    std::string line = body.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first && !StartsWith(line, "KMCONTENT")) return Manifest();
    if (!first) ApplyLine(manifest, line);
    first = false;
  }
  return manifest;
}
