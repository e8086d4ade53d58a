// Request targets to release paths; see request_path.h.
#include "tools/kmcontent/request_path.h"
#include "core/launcher_config.h"
#include "tools/kmcontent/percent.h"

namespace {
const char kFilesPrefix[] = "/files/";
}

bool IsServablePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return false;
  size_t partStart = 0;
  for (size_t i = 0; i <= path.size(); i++) {
    if (i < path.size()) {
      unsigned char c = static_cast<unsigned char>(path[i]);
      if (c < 0x20 || c == 0x7F || c == '\\') return false;
      if (c != '/') continue;
    }
    std::string part = path.substr(partStart, i - partStart);
    if (part.empty() || part == "." || part == "..") return false;
    partStart = i + 1;
  }
  return true;
}

bool FilePathFromTarget(const std::string& target, std::string& path) {
  std::string encoded = target.substr(0, target.find('?'));
  if (encoded.compare(0, strlen(kFilesPrefix), kFilesPrefix) != 0) return false;
  if (!PercentDecode(encoded.substr(strlen(kFilesPrefix)), path)) return false;
  return IsServablePath(path);
}

bool SplitChannelTarget(const std::string& target, std::string& channel, std::string& rest) {
  static const char prefix[] = "/channels/";
  if (target.compare(0, strlen(prefix), prefix) != 0) return false;
  size_t end = target.find('/', strlen(prefix));
  if (end == std::string::npos) return false;
  std::string name = target.substr(strlen(prefix), end - strlen(prefix));
  if (!IsChannelName(name)) return false;
  channel = name;
  rest = target.substr(end);
  return true;
}
