// The request log sink; see access_log.h.
#include "tools/kmcontent/access_log.h"
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_lock;
FILE* g_file = stdout;
std::string g_path;

// The log names every client's address: readable by the server's user and its group only,
// also when an older server created the file more open.
FILE* OpenPrivate(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) == 0 && (info.st_mode & 0137) != 0) fchmod(fd, info.st_mode & 0640);
  FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

bool OpenAccessLog(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_path = path;
  if (path.empty()) return true;
  FILE* file = OpenPrivate(path);
  if (file == nullptr) return false;
  g_file = file;
  return true;
}

bool ReopenAccessLog() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_path.empty()) return true;
  FILE* file = OpenPrivate(g_path);
  if (file == nullptr) {
    fprintf(stderr, "kmcontent serve: cannot reopen the log %s: %s\n", g_path.c_str(), strerror(errno));
    return false;
  }
  fclose(g_file);
  g_file = file;
  return true;
}

void WriteAccessLog(const std::string& line) {
  std::lock_guard<std::mutex> hold(g_lock);
  fwrite(line.data(), 1, line.size(), g_file);
  fflush(g_file);
}
