// The launcher's entry point and whole life cycle: locate itself, become the elevated
// install process or hand over to an installed copy, take the single-instance mutex, set up
// log, configuration, cache, graphics, internet handle and window, run the first action and
// the message loop, then shut down in a fixed order. The order of the steps is observable
// (files, exit codes, waits) and is kept exactly.
#include "core/globals_win.h"
#include "core/launcher_config_file_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/system_dlls_win.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include "core/worker_flags.h"
#include "ui/settings_window_win.h"
#include "install/install_command.h"
#include "install/install_location_win.h"
#include "install/install_run_win.h"
#include "ui/account_window_win.h"
#include "ui/buttons_win.h"
#include "ui/geometry.h"
#include "ui/images_win.h"
#include "ui/main_window_win.h"
#include "gameconfig/game_start_win.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/release_trust_win.h"
#include "update/update_pass_win.h"
#include <shellapi.h>

// A release key line built in (cmake -DKM_RELEASE_PUBLIC_KEY=...) makes the launcher take
// only releases signed with it.
#ifndef KM_RELEASE_PUBLIC_KEY
#define KM_RELEASE_PUBLIC_KEY ""
#endif

namespace {
constexpr const char* kMutexName = "KelmorraLauncherSingleInstance";
constexpr DWORD kOtherInstanceWaitMs = 5000;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// False when Windows cannot name the program's file (nothing else can run then).
bool LocateSelf() {
  if (!ModulePath(g_exePath)) return false;
  size_t lastSlash = g_exePath.rfind('\\');
  g_exeDir = lastSlash == std::string::npos ? std::string() : g_exePath.substr(0, lastSlash + 1);
  return true;
}

// The command line as the standard argument vector splits it, in the program's code page
// (UTF-8), each argument whole.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; wide && i < count; i++) arguments.push_back(AnsiFromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool InGameFolder() {
  return Exists(g_exeDir + "Kelmorra.exe") || Exists(g_exeDir + "KMLauncher.cfg") ||
         Exists(g_exeDir + "VERSIONINF.VER");
}

bool StartInstalledCopy(const std::string& installDir) {
  std::string exe = installDir + "KMLauncher.exe";
  if (!Exists(exe)) return false;
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      installDir.c_str(), &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

enum class StartPlacement { GameFolder, HandedOver, InstallMode };

StartPlacement CheckPlacement() {
  if (InGameFolder()) return StartPlacement::GameFolder;
  std::string installDir = InstallDir();
  if (Lower(installDir) == Lower(g_exeDir)) return StartPlacement::GameFolder;
  if (StartInstalledCopy(installDir)) return StartPlacement::HandedOver;
  return StartPlacement::InstallMode;
}

// False when another launcher keeps running: its window has been brought forward.
bool TakeSingleInstance(HANDLE& mutex) {
  mutex = CreateMutexA(nullptr, TRUE, kMutexName);
  if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return true;
  if (WaitForSingleObject(mutex, kOtherInstanceWaitMs) != WAIT_TIMEOUT) return true;
  HWND other = FindWindowA(kMainWindowClass, nullptr);
  if (other) SetForegroundWindow(other);
  CloseHandle(mutex);
  mutex = nullptr;
  return false;
}

// A self-update leaves the old executable behind; it may stay locked for a moment while
// the old process exits.
void RemoveOldLauncher() {
  std::string old = g_exeDir + "KMLauncher.old";
  for (int attempt = 0; attempt < 20; attempt++) {
    if (!Exists(old)) return;
    if (!DeleteFileA(old.c_str())) Sleep(250);
  }
}

std::string LogPath() {
  if (!g_installMode) return g_exeDir + "KMLauncher.log";
  wchar_t temp[MAX_PATH + 1] = {};  // the call's own limit, in characters
  GetTempPathW(MAX_PATH + 1, temp);
  return AnsiFromWide(temp) + "KMLauncher-install.log";
}

void ComputeScale() {
  SetProcessDPIAware();
  RECT work = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  g_scale = ScaleForWorkArea(work.right - work.left, work.bottom - work.top);
}

void FirstAction() {
  if (!g_installMode) {
    StartUpdate();
    return;
  }
  g_play.label = "INSTALL";
  SetStatus(NotInstalled, "Kelmorra Gold is not installed yet.",
            "Press INSTALL to choose a folder (default " + DefaultInstallDir() +
                ") and download the game files.",
            0);
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (g_accWnd && IsDialogMessageA(g_accWnd, &message)) continue;
    if (g_setWnd && IsDialogMessageA(g_setWnd, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void WaitForUpdateWorker() {
  for (int wait = 0; wait < 50 && g_workerRunning.load() != 0; wait++) Sleep(100);
}
// PLAY in a launcher with a release key: only the signed release's client is started, held
// open so that it stays that file until it runs.
bool SignedClientOnly(const std::string& path, void*& held) {
  HANDLE open = INVALID_HANDLE_VALUE;
  ClientCheck check = CheckSignedClient(path, open);
  if (check == ClientCheck::Matches) {
    held = open;
    return true;
  }
  if (check == ClientCheck::NotKnown) {
    LogLine("Kelmorra.exe not checked: no signed release was verified in this run");
    return true;
  }
  LogLine("Kelmorra.exe is not the file of the signed release - not started");
  MessageBoxA(g_wnd,
              "Kelmorra.exe is not the file of the signed release, so it was not started.\n\n"
              "Delete it and start the launcher again to download it.",
              "Kelmorra", MB_OK | MB_ICONERROR);
  return false;
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  LoadSystemDllsFromSystem32Only();
  if (!LocateSelf()) {
    MessageBoxA(nullptr, "The launcher cannot read the name of its own folder.", "Kelmorra", MB_ICONERROR);
    return 0;
  }
  std::vector<std::string> arguments = Arguments();
  if (arguments.size() > 1 && IsInstallSwitch(arguments[1])) return RunInstallStep(arguments);

  StartPlacement placement = CheckPlacement();
  if (placement == StartPlacement::HandedOver) return 0;
  g_installMode = placement == StartPlacement::InstallMode;

  HANDLE mutex = nullptr;
  if (!TakeSingleInstance(mutex)) return 0;
  InitializeCriticalSection(&g_lock);
  OpenStatusTrace();
  Crc32Init();
  g_releaseKey = KM_RELEASE_PUBLIC_KEY;
  if (!g_releaseKey.empty()) SetClientStartCheck(SignedClientOnly);
  SetCurrentDirectoryA(g_exeDir.c_str());
  RemoveOldLauncher();
  OpenLog(LogPath());
  LogLine("----------------------------------------------------------------");
  LogLine("Kelmorra launcher starting in %s", g_exeDir.c_str());
  LoadLauncherConfig(g_exeDir + "KMLauncher.cfg", g_installMode);
  LoadCache();

  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
  LoadImages();
  OpenInternet();
  RegisterMainWindowClass(instance);
  ComputeScale();
  CreateMainWindow(instance, showCommand);
  FirstAction();
  RunMessageLoop();

  g_quit.exchange(1);
  WaitForUpdateWorker();
  SaveCache();
  if (g_net) InternetCloseHandle(g_net);
  FreeImages();
  Gdiplus::GdiplusShutdown(gdiplusToken);
  LogLine("Launcher closed");
  CloseLog();
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return 0;
}
