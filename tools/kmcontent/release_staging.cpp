// Staging folders of publish; see release_staging.h.
#include "tools/kmcontent/release_staging.h"
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
constexpr char kStagingMark[] = ".new-";

// Signal 0 only asks whether the process exists; EPERM means it does, owned by another user.
bool ProcessIsRunning(long pid) {
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}
}  // namespace

fs::path StagingFolder(const fs::path& folder, const std::string& name) {
  return folder / ("." + name + kStagingMark + std::to_string(getpid()));
}

long StagingOwner(const std::string& entry, const std::string& name) {
  size_t mark = entry.rfind(kStagingMark);
  if (entry.size() < 2 || entry[0] != '.' || mark == std::string::npos || mark < 2) return 0;
  std::string inner = entry.substr(1, mark - 1);
  if (name.empty() ? inner.find('/') != std::string::npos : inner != name) return 0;
  std::string digits = entry.substr(mark + strlen(kStagingMark));
  if (digits.empty() || digits.size() > 9 || digits[0] == '0') return 0;
  long pid = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

std::vector<std::string> RemoveLeftStaging(const fs::path& folder, const std::string& name, std::string& error) {
  std::vector<fs::path> left;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    long pid = StagingOwner(it->path().filename().string(), name);
    std::error_code statError;
    if (pid == 0 || pid == getpid() || !fs::is_directory(fs::symlink_status(it->path(), statError))) continue;
    if (!ProcessIsRunning(pid)) left.push_back(it->path());
  }
  std::vector<std::string> removed;
  for (const fs::path& path : left) {
    std::error_code removeError;
    fs::remove_all(path, removeError);
    if (removeError) {
      error = "cannot delete " + path.string() + ": " + removeError.message();
    } else {
      removed.push_back(path.string());
    }
  }
  return removed;
}
