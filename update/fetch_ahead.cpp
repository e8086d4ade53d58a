// The rules of downloads run ahead of the update pass; see fetch_ahead.h.
#include "update/fetch_ahead.h"
#include "core/text.h"
#include <map>
#include <set>

namespace {
// The name Windows opens for the path, folded so that names Windows may take as one are
// one key: ASCII letters lower-cased, every byte above 127 the same.
std::string WindowsKey(const std::string& path) {
  std::string key = Lower(ResolvedWindowsPath(path));
  for (char& c : key) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '\x80';
  }
  return key;
}

// True when a folder on the way to key is itself the key of an entry.
bool FolderIsAnEntry(const std::string& key, const std::map<std::string, int>& uses) {
  for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
    if (uses.count(key.substr(0, slash))) return true;
  }
  return false;
}
}  // namespace

std::vector<bool> AheadCandidates(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates,
                                  uint64_t maxSize, const std::vector<bool>& patchable) {
  std::vector<bool> candidates(updates.size(), false);
  std::vector<std::string> keys;
  std::map<std::string, int> uses;
  std::set<std::string> folders;
  for (size_t index : updates) {
    keys.push_back(WindowsKey(files[index].path));
    const std::string& key = keys.back();
    if (key.find('~') != std::string::npos) return candidates;
    uses[key]++;
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
      folders.insert(key.substr(0, slash));
    }
  }
  for (size_t i = 0; i < updates.size(); i++) {
    const std::string& key = keys[i];
    const RemoteFile& file = files[updates[i]];
    candidates[i] = file.size <= maxSize && !patchable[i] && !key.empty() && uses[key] == 1 &&
                    !folders.count(key) && !FolderIsAnEntry(key, uses);
  }
  return candidates;
}

size_t CertainSourceEnd(const MirrorStanding& standing, const std::vector<bool>& suppliedByMirror) {
  size_t end = suppliedByMirror.size();
  if (!standing.announced || standing.failures >= standing.failuresToTurnOff) return end;
  // Each entry whose outcome is still open may be one more failure in a row.
  int worstFailures = standing.failures;
  for (size_t i = standing.decided; i < end; i++) {
    if (worstFailures >= standing.failuresToTurnOff) return i;
    worstFailures = suppliedByMirror[i] ? 0 : worstFailures + 1;
  }
  return end;
}

bool MirrorProven(const MirrorStanding& standing) {
  return FirstSourceIsMirror(standing) && !standing.faltered &&
         standing.decided >= static_cast<size_t>(standing.failuresToTurnOff);
}

bool FirstSourceIsMirror(const MirrorStanding& standing) {
  return standing.announced && standing.failures < standing.failuresToTurnOff;
}
