// Process-wide values of the launcher that start-up fixes before any worker runs, and the
// handles shared by the window and the workers.
#pragma once
#include "core/base.h"
#include <windows.h>
#include <wininet.h>

extern std::string g_exePath;     // the running executable
extern std::string g_exeDir;      // its folder with a trailing backslash: the game folder
extern std::string g_server;      // content server "address:port"
extern bool g_installMode;        // running outside a game folder, offering INSTALL
extern HWND g_wnd;                // the main window
extern HINTERNET g_net;           // the one WinINet root handle
extern float g_scale;             // pixels per design unit

// The manifest's announcements that are not part of the status record. g_mirror is the
// update worker's alone; g_manifestGameServer is also read by the settings window, so it is
// written and read under g_lock through these two functions.
extern std::string g_mirror;
extern std::string g_manifestGameServer;
void SetManifestGameServer(const std::string& address);
std::string ManifestGameServer();

// g_exeDir followed by the manifest path, "/" turned into backslashes.
std::string LocalPath(const std::string& relativePath);
