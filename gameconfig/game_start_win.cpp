// Starting the game client. Play writes nothing: the update pass has already made the folder
// current and written coinit.tmp; a launcher with a release key checks the client first. The client is neither waited for nor watched.
#include "gameconfig/game_start_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include <windows.h>

namespace {
ClientStartCheck g_clientStartCheck = nullptr;
}  // namespace

void SetClientStartCheck(ClientStartCheck check) { g_clientStartCheck = check; }

void Play() {
  std::string path = g_exeDir + "Kelmorra.exe";
  void* held = nullptr;
  if (g_clientStartCheck && !g_clientStartCheck(path, held)) return;
  // Quoted, so a game folder with blanks in its path starts the right program.
  std::string commandLine = "\"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, g_exeDir.c_str(),
                               &startup, &process);
  DWORD error = GetLastError();
  if (held) CloseHandle(held);
  if (!started) {
    LogLine("Cannot start %s (error %lu)", path.c_str(), error);
    std::string text = "Could not start Kelmorra.exe.\n\n" + path;
    MessageBoxA(g_wnd, text.c_str(), "Kelmorra", MB_OK | MB_ICONERROR);
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  LogLine("Started Kelmorra.exe");
  DestroyWindow(g_wnd);
}
