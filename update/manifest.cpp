// The manifest parse: the body is cut into lines at LF (one trailing CR dropped), the first
// line must begin with "KMCONTENT", and every further line is a key line or a file line,
// judged by the first rule that matches. File lines that name a player's file or an unsafe
// path never reach the file list, and neither does a second line for a file Windows already
// has under another spelling. One pass over the body, so the time grows with its size.
#include "update/manifest.h"
#include "core/text.h"
#include "update/cache_file.h"
#include "update/line_scan.h"
#include "update/packed_form.h"
#include "update/windows_name_key.h"
#include <set>

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

// What the parse keeps besides the manifest: paths announced by map and packed lines, and
// the Windows name keys of the files taken so far.
struct ParseState {
  std::set<std::string> mapped;
  std::set<std::string> packed;
  std::set<std::string> names;
};

void AddFileLine(Manifest& manifest, ParseState& state, const std::string& line) {
  RemoteFile file;
  if (!ScanFileLine(line, file)) return;
  // Spellings of a player file are left out silently, before the unsafe rule logs them.
  if (IsPlayerFile(Lower(file.path)) || ResolvesToPlayerFile(file.path)) return;
  // A second spelling of one file ("Épée.txt" and "épée.txt", "x" and "x ") would be written
  // over the first, and one of them fetched again at every start.
  if (IsUnsafeManifestPath(file.path) || !state.names.insert(WindowsNameKey(file.path)).second) {
    manifest.unsafePaths.push_back(file.path);
    return;
  }
  manifest.files.push_back(std::move(file));
}

void AddNotesLine(Manifest& manifest, std::string text) {
  if (manifest.notes.size() < kMaxNotesLines) manifest.notes.push_back(std::move(text));
}

std::string Rest(const std::string& line, const char* key) { return line.substr(strlen(key)); }

// Every line after the first; the first matching rule decides.
void ApplyLine(Manifest& manifest, ParseState& state, const std::string& line) {
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
  } else if (StartsWith(line, kBlockMapLinePrefix)) {
    state.mapped.insert(Rest(line, kBlockMapLinePrefix));
  } else if (StartsWith(line, kPackedLinePrefix)) {
    state.packed.insert(Rest(line, kPackedLinePrefix));
  } else if (StartsWith(line, "files ") || line.empty()) {
    // The count is not used; blank lines separate sections for people reading the file.
  } else {
    AddFileLine(manifest, state, line);
  }
}

}  // namespace

Manifest ParseManifest(const std::string& body) {
  Manifest manifest;
  manifest.accepted = true;  // an empty body has no first line to refuse
  ParseState state;  // map and packed lines count anywhere in the body
  bool first = true;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    std::string line = body.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first && !StartsWith(line, "KMCONTENT")) return Manifest();
    if (!first) ApplyLine(manifest, state, line);
    first = false;
  }
  uint64_t total = 0;
  for (RemoteFile& file : manifest.files) {
    file.hasBlockMap = state.mapped.count(file.path) != 0;
    file.hasPacked = state.packed.count(file.path) != 0;
    if (total > UINT64_MAX - file.size) return Manifest();  // no disk holds it: a bad manifest
    total += file.size;
  }
  return manifest;
}
