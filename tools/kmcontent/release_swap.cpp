// The release swap; see release_swap.h.
#include "tools/kmcontent/release_swap.h"
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Describe(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + strerror(errno);
}

// The slow path for file systems without an exchanging rename: a moment without `target`.
bool SwapByTwoRenames(const std::string& staged, const std::string& target, std::string& error) {
  std::string aside = target + ".old-" + std::to_string(getpid());
  if (rename(target.c_str(), aside.c_str()) != 0) {
    error = Describe("cannot move aside", target);
    return false;
  }
  if (rename(staged.c_str(), target.c_str()) != 0) {
    error = Describe("cannot move into place", staged);
    rename(aside.c_str(), target.c_str());
    return false;
  }
  std::error_code ignored;
  fs::remove_all(aside, ignored);
  return true;
}

}  // namespace

bool SwapInRelease(const std::string& staged, const std::string& target, std::string& error) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(target, ec))) {
    if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    error = Describe("cannot move into place", staged);
    return false;
  }
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) {
      error = Describe("cannot swap in", staged);
      return false;
    }
    return SwapByTwoRenames(staged, target, error);
  }
  fs::remove_all(staged, ec);  // now the old release
  return true;
}
