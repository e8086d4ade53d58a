// KMLauncher.cfg on disk; the byte rules live in launcher_config.cpp.
#include "core/launcher_config_file_win.h"
#include "core/globals_win.h"

namespace {
// Text mode turns CR LF into LF, as the rules expect.
bool ReadTextFile(const std::string& path, std::string& text) {
  FILE* file = fopen(path.c_str(), "r");
  if (!file) return false;
  char chunk[4096];
  for (;;) {
    size_t got = fread(chunk, 1, sizeof chunk, file);
    if (got == 0) break;
    text.append(chunk, got);
  }
  fclose(file);
  return true;
}
}  // namespace

void WriteLauncherConfig(const std::string& path, ConfigTemplate which, const std::string& server) {
  FILE* file = fopen(path.c_str(), "w");
  if (!file) return;
  fputs(LauncherConfigText(which, server).c_str(), file);
  fclose(file);
}

void LoadLauncherConfig(const std::string& path, bool installMode) {
  std::string text;
  if (!ReadTextFile(path, text)) {
    if (!installMode) WriteLauncherConfig(path, ConfigTemplate::Startup, g_server);
    return;
  }
  g_server = ServerFromConfigText(text, g_server);
  if (IsTunnelledServer(g_server)) {
    g_server = kDefaultServer;
    WriteLauncherConfig(path, ConfigTemplate::Startup, g_server);
  }
}
