// The unfinished-update mark; see unfinished_update_win.h.
#include "update/unfinished_update_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/text.h"
#include <cstdio>

namespace {
constexpr size_t kLongestName = 200;

std::string MarkPath() { return g_exeDir + "KMLauncher.unfinished"; }

// The release as the window names it: its name, else its content version.
std::string ReleaseName() {
  EnterCriticalSection(&g_lock);
  std::string name = g_updateName;
  unsigned version = g_version;
  LeaveCriticalSection(&g_lock);
  if (name.empty()) name = Fmt("content version %u", version);
  return name.substr(0, kLongestName);
}

bool g_marked = false;  // this run's pass set the mark
}  // namespace

void MarkUpdateUnfinished() {
  if (g_marked) return;
  FILE* file = fopen(MarkPath().c_str(), "wb");
  if (!file) return;
  std::string name = ReleaseName();
  fwrite(name.data(), 1, name.size(), file);
  fclose(file);
  g_marked = true;
}

void ClearUnfinishedUpdate() {
  DeleteFileA(MarkPath().c_str());
  g_marked = false;
}

bool LastUpdateUnfinished(std::string& release) {
  FILE* file = fopen(MarkPath().c_str(), "rb");
  if (!file) return false;
  char text[kLongestName + 1] = {};
  size_t got = fread(text, 1, kLongestName, file);
  fclose(file);
  release.assign(text, got);
  for (char& c : release) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';  // the file is the player's disk, not ours to trust
  }
  if (release.empty()) release = "an update";
  return true;
}
