// Self-update; see self_update_win.h. Windows allows renaming the executable of a running
// process, so the swap happens in place and the new process starts while the old one is
// still shutting down; the new one waits for the single-instance mutex and deletes the
// ".old" file once the old process has let go of it.
#include "update/self_update_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/status_win.h"

bool ReplaceRunningLauncher(const std::string& partPath) {
  SetStatus(Updating, "Updating the launcher...", "", 1);
  std::string oldPath = g_exeDir + "KMLauncher.old";
  DeleteFileA(oldPath.c_str());
  if (!MoveFileExA(g_exePath.c_str(), oldPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    LogLine("Self-update: cannot move the running launcher aside (error %lu)", GetLastError());
    return false;
  }
  if (!MoveFileExA(partPath.c_str(), g_exePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    LogLine("Self-update: cannot put the new launcher in place (error %lu)", GetLastError());
    MoveFileExA(oldPath.c_str(), g_exePath.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
  }
  std::string commandLine = "\"" + g_exePath + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, g_exeDir.c_str(),
                      &startup, &process)) {
    LogLine("Self-update: cannot start the new launcher (error %lu)", GetLastError());
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  LogLine("Self-update: started the new launcher");
  PostMessageA(g_wnd, WM_CLOSE, 0, 0);
  return true;
}
