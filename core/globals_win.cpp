// Definitions of the process-wide values of globals_win.h.
#include "core/globals_win.h"
#include "core/launcher_config.h"
#include "core/text.h"

std::string g_exePath;
std::string g_exeDir;
std::string g_server = kDefaultServer;
bool g_installMode = false;
HWND g_wnd = nullptr;
HINTERNET g_net = nullptr;
float g_scale = 1.0f;
std::string g_mirror;
std::string g_manifestGameServer;

std::string LocalPath(const std::string& relativePath) {
  return JoinGamePath(g_exeDir, relativePath);
}
