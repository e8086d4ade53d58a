// Path rules of publish; see publish_rules.h. Each message names the rule it broke in words
// an operator can act on.
#include "tools/kmcontent/publish_rules.h"
#include "core/text.h"
#include "core/utf8.h"
#include "update/cache_file.h"
#include "update/manifest.h"
#include "update/windows_name_key.h"
#include <map>

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

std::string WindowsNameProblem(const std::string& name) {
  if (name.empty()) return "has an empty name part";
  for (unsigned char c : name) {
    if (c < 0x20) return "has a control character, which Windows does not allow in names";
    if (strchr("<>:\"\\|?*", c) != nullptr) {
      return std::string("has the character '") + static_cast<char>(c) +
             "', which Windows does not allow in names";
    }
  }
  if (name.back() == '.' || name.back() == ' ') {
    return "has a name ending in a dot or blank, which Windows drops";
  }
  if (IsReservedDeviceName(name)) return "uses the name \"" + name + "\", which Windows reserves for a device";
  if (name.size() > 255) return "has a name longer than 255 bytes";
  return std::string();
}

std::string PublishPathProblem(const std::string& path) {
  if (!IsValidUtf8(path)) {
    return "is not valid UTF-8 (a name written in another code page?), which the launcher refuses: "
           "rename it in the build";
  }
  if (IsUnsafeManifestPath(path)) {
    return "is a path the launcher refuses as unsafe (rooted, a drive or stream colon, a part of only dots "
           "and blanks, a device name, a short name such as DATA~1.PAK, or a byte Windows forbids)";
  }
  if (IsPlayerFile(Lower(path)) || ResolvesToPlayerFile(path)) {
    return "is a player's own file (coinit.tmp, KMLauncher.*, musicsetting.cfg, *.log, *.tmp, "
           "*.part), which the launcher never updates";
  }
  if (path[0] == ' ' || path[0] == '\t') return "begins with a blank, which a manifest line cannot carry";
  std::vector<std::string> parts = SplitPath(path);
  for (const std::string& part : parts) {
    std::string problem = WindowsNameProblem(part);
    if (!problem.empty()) return problem;
  }
  for (size_t i = 0; i + 1 < parts.size(); i++) {
    if (parts[i][0] == '.') {
      return "lies in a folder whose name starts with a dot, which content servers keep private "
             "(kmcontent serve and the example nginx site answer 404)";
    }
  }
  if (path.size() > kMaxPublishedPathBytes) {
    return "is longer than " + std::to_string(kMaxPublishedPathBytes) +
           " bytes, too long for the launcher's Windows paths";
  }
  return std::string();
}

std::vector<std::string> CaseClashes(const std::vector<std::string>& paths) {
  std::vector<std::string> clashes;
  std::map<std::string, std::string> files;    // Windows name key -> first spelling
  std::map<std::string, std::string> folders;  // Windows name key of a folder -> a file inside it
  for (const std::string& path : paths) {
    auto known = files.emplace(WindowsNameKey(path), path);
    if (!known.second) clashes.push_back("\"" + known.first->second + "\" and \"" + path +
                                         "\" name one file on Windows (letter case, trailing dots or blanks)");
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      folders.emplace(WindowsNameKey(path.substr(0, slash)), path);
    }
  }
  for (const auto& [key, path] : files) {
    auto folder = folders.find(key);
    if (folder != folders.end()) {
      clashes.push_back("file \"" + path + "\" has the name of the folder of \"" + folder->second +
                        "\" (letter case aside)");
    }
  }
  return clashes;
}
