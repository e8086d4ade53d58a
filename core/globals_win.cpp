// Definitions of the process-wide values of globals_win.h.
#include "core/globals_win.h"
#include "core/status_win.h"
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

void SetManifestGameServer(const std::string& address) {
  EnterCriticalSection(&g_lock);
  g_manifestGameServer = address;
  LeaveCriticalSection(&g_lock);
}

std::string ManifestGameServer() {
  EnterCriticalSection(&g_lock);
  std::string address = g_manifestGameServer;
  LeaveCriticalSection(&g_lock);
  return address;
}
