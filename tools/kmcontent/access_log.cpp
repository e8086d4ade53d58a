// The request log sink; see access_log.h.
#include "tools/kmcontent/access_log.h"
#include <cerrno>
#include <mutex>

namespace {

std::mutex g_lock;
FILE* g_file = stdout;
std::string g_path;

}  // namespace

bool OpenAccessLog(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_path = path;
  if (path.empty()) return true;
  FILE* file = fopen(path.c_str(), "ae");
  if (file == nullptr) return false;
  g_file = file;
  return true;
}

bool ReopenAccessLog() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_path.empty()) return true;
  FILE* file = fopen(g_path.c_str(), "ae");
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
