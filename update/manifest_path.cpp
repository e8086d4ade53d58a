// The manifest path rule; see manifest_path.h. Parts are judged one by one, as Windows
// resolves them, so the verdict never depends on what the game folder holds.
#include "update/manifest_path.h"
#include "core/text.h"
#include "core/utf8.h"
#include "update/cache_file.h"

namespace {

// Calls visit with each part of the path between "/" and "\" separators, empty parts
// included, and whether it is the last one.
template <typename Visit>
void ForEachPart(const std::string& path, Visit visit) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      visit(std::string_view(path).substr(start, i - start), i == path.size());
      start = i + 1;
    }
  }
}

std::string_view WithoutTrailingDotsAndBlanks(std::string_view part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
  return part;
}

bool HasForbiddenByte(std::string_view part) {
  for (unsigned char c : part) {
    if (c < 0x20 || strchr("<>\"|?*", c) != nullptr) return true;
  }
  return false;
}

// "NAME~N" with at most 8 bytes before an optional extension of at most 3.
bool IsShortNameForm(std::string_view part) {
  size_t dot = part.find('.');
  std::string_view base = part.substr(0, dot);
  if (dot != std::string_view::npos && (part.size() - dot - 1 > 3 || part.find('.', dot + 1) != part.npos)) {
    return false;
  }
  size_t tilde = base.rfind('~');
  if (base.size() > 8 || tilde == std::string_view::npos || tilde == 0 || tilde + 1 == base.size()) return false;
  for (char c : base.substr(tilde + 1)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsUnsafePart(std::string_view part, bool last) {
  std::string_view kept = WithoutTrailingDotsAndBlanks(part);
  if (kept.empty()) return true;  // empty, or only dots and blanks
  if (!last && kept.size() != part.size()) return true;
  return HasForbiddenByte(part) || IsReservedDeviceName(part) || IsShortNameForm(kept);
}

// "KMLauncher.exe." is the launcher to Windows but not to the self-update, which knows only
// the name as written.
bool IsLauncherAlias(const std::string& path) {
  std::string resolved = Lower(std::string(WithoutTrailingDotsAndBlanks(path)));
  return resolved == "kmlauncher.exe" && resolved.size() != path.size();
}

}  // namespace

bool IsReservedDeviceName(std::string_view part) {
  std::string base = Lower(std::string(part.substr(0, part.find('.'))));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (base == device) return true;
  }
  bool numbered = base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0;
  if (!numbered) return false;
  std::string digit = base.substr(3);
  if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";  // superscript 1, 2, 3
}

bool IsUnsafeManifestPath(const std::string& path) {
  if (path.empty() || path[0] == '\\' || path[0] == '/' || !IsValidUtf8(path)) return true;
  if (path.find(':') != std::string::npos || path.find('\0') != std::string::npos) return true;
  bool unsafe = IsLauncherAlias(path);
  ForEachPart(path, [&](std::string_view part, bool last) { unsafe = unsafe || IsUnsafePart(part, last); });
  return unsafe;
}

std::string ResolvedWindowsPath(const std::string& path) {
  std::string resolved;
  ForEachPart(path, [&](std::string_view part, bool) {
    part = WithoutTrailingDotsAndBlanks(part);
    if (part.empty()) return;  // "", "." and names of only dots and blanks
    if (!resolved.empty()) resolved += '/';
    resolved += part;
  });
  return resolved;
}

bool ResolvesToPlayerFile(const std::string& path) { return IsPlayerFile(Lower(ResolvedWindowsPath(path))); }
