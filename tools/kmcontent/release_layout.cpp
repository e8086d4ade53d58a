// The layered release tree; see release_layout.h.
#include "tools/kmcontent/release_layout.h"
#include "update/release_signature.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace release_layout {

namespace {

const char kReleases[] = "releases";
const char kCurrent[] = "current";
const char kHistory[] = "history";
const char kSerial[] = "serial";

std::string Describe(const std::string& what, const fs::path& path) {
  return what + " " + path.string() + ": " + strerror(errno);
}

bool FlushFolder(const fs::path& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// A link made beside `at` and renamed over it, so `at` is never missing.
bool ReplaceLink(const fs::path& at, const std::string& target, std::string& error) {
  fs::path temporary = at.parent_path() / ("." + at.filename().string() + ".new-" + std::to_string(getpid()));
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) return error = Describe("cannot create the link", temporary), false;
  if (rename(temporary.c_str(), at.c_str()) != 0) {
    error = Describe("cannot switch", at);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool WriteHistory(const fs::path& release, const std::vector<std::string>& names, std::string& error) {
  fs::path path = release / kHistory;
  fs::path temporary = release / (std::string(".") + kHistory + ".new-" + std::to_string(getpid()));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const std::string& name : names) out << name << "\n";
    if (!out.flush()) return error = "cannot write " + temporary.string(), false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) return error = Describe("cannot write", path), false;
  return true;
}

uint64_t SerialInFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint64_t serial = 0;
  std::string reason;
  return ReadReleaseSerial(text, serial, reason) ? serial : 0;
}

}  // namespace

bool IsLayered(const fs::path& release) {
  std::error_code ec;
  return fs::is_symlink(release / kCurrent, ec) && fs::is_directory(release / kReleases, ec);
}

std::string NewName(const fs::path& release, const std::string& version) {
  std::string base = "v" + version;
  std::error_code ec;
  std::string name = base;
  for (int n = 2; fs::exists(fs::symlink_status(release / kReleases / name, ec)); n++) {
    name = base + "." + std::to_string(n);
  }
  return name;
}

std::string FilesBase(const std::string& name) { return std::string("/") + kReleases + "/" + name + "/files"; }

bool CreateLinks(const fs::path& folder, const std::string& name, std::string& error) {
  std::string current = std::string(kReleases) + "/" + name;
  for (const auto& link : {std::make_pair(kCurrent, current), std::make_pair("manifest", std::string("current/manifest")),
                           std::make_pair("files", std::string("current/files"))}) {
    if (symlink(link.second.c_str(), (folder / link.first).c_str()) != 0) {
      return error = Describe("cannot create the link", folder / link.first), false;
    }
  }
  return WriteHistory(folder, {name}, error);
}

std::string Current(const fs::path& release) {
  std::error_code ec;
  fs::path target = fs::read_symlink(release / kCurrent, ec);
  return ec ? std::string() : target.filename().string();
}

std::vector<std::string> History(const fs::path& release) {
  std::vector<std::string> names;
  std::ifstream in(release / kHistory);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

bool AppendHistory(const fs::path& release, const std::string& name, std::string& error) {
  std::vector<std::string> names = History(release);
  names.erase(std::remove(names.begin(), names.end(), name), names.end());
  names.push_back(name);
  return WriteHistory(release, names, error);
}

bool SwitchCurrent(const fs::path& release, const std::string& name, std::string& error) {
  std::error_code ec;
  if (!fs::exists(release / kReleases / name / "manifest", ec)) {
    return error = "there is no release " + name + " in " + release.string(), false;
  }
  if (!ReplaceLink(release / kCurrent, std::string(kReleases) + "/" + name, error)) return false;
  if (!FlushFolder(release)) return error = Describe("cannot flush", release), false;
  return true;
}

std::vector<std::string> Prune(const fs::path& release, unsigned keep, std::string& error) {
  std::vector<std::string> history = History(release);
  std::string current = Current(release);
  std::vector<std::string> kept, removed;
  unsigned others = 0;
  for (auto it = history.rbegin(); it != history.rend(); ++it) {
    if (*it == current) {
      kept.push_back(*it);
    } else if (others < keep) {
      kept.push_back(*it);
      others++;
    } else {
      removed.push_back(*it);
    }
  }
  std::reverse(kept.begin(), kept.end());
  if (removed.empty() || !WriteHistory(release, kept, error)) return {};
  for (const std::string& name : removed) {
    std::error_code ec;
    fs::remove_all(release / kReleases / name, ec);
    if (ec) error = "cannot delete " + (release / kReleases / name).string() + ": " + ec.message();
  }
  return removed;
}

std::string Previous(const fs::path& release) {
  std::vector<std::string> history = History(release);
  auto at = std::find(history.begin(), history.end(), Current(release));
  std::error_code ec;
  while (at != history.begin()) {
    --at;
    if (fs::exists(release / kReleases / *at / "manifest", ec)) return *at;
  }
  return std::string();
}

uint64_t LastSerial(const fs::path& release) {
  uint64_t last = SerialInFile(release / kSerial);
  last = std::max(last, SerialInFile(release / "manifest"));
  std::error_code ec;
  for (fs::directory_iterator it(release / kReleases, ec), end; !ec && it != end; it.increment(ec)) {
    last = std::max(last, SerialInFile(it->path() / "manifest"));
  }
  return last;
}

bool StoreSerial(const fs::path& folder, uint64_t serial, std::string& error) {
  fs::path path = folder / kSerial;
  fs::path temporary = folder / (std::string(".") + kSerial + ".new-" + std::to_string(getpid()));
  std::string line = SerialLine(serial);
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0 || !FlushFolder(folder)) {
    error = Describe("cannot write", path);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace release_layout
