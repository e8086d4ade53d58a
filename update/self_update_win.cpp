// Self-update; see self_update_win.h. Windows allows renaming the executable of a running
// process, so the swap happens in place and the new process starts while the old one is
// still shutting down; the new one waits for the single-instance mutex and deletes the
// ".old" file once the old process has let go of it.
#include "update/self_update_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "update/part_file_win.h"

namespace {
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known;
}

// By file identity, so another letter case or a short name of the running file counts too.
bool IsRunningExecutable(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION running, other;
  if (!FileIdentity(g_exePath, running) || !FileIdentity(path, other)) return false;
  return running.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         running.nFileIndexHigh == other.nFileIndexHigh && running.nFileIndexLow == other.nFileIndexLow;
}
}  // namespace

bool ReplaceRunningLauncher(const std::string& partPath, const std::string& launcherPath) {
  SetStatus(Updating, "Updating the launcher...", "", 1);
  // Started as "Launcher copy.exe", the launcher would replace only that file while every
  // check compares KMLauncher.exe: each new process would find itself out of date and
  // restart again. With the release in KMLauncher.exe too, the one restart comes to rest.
  bool runningIsLauncher = IsRunningExecutable(launcherPath);
  std::string oldPath = g_exeDir + "KMLauncher.old";
  DeleteFileA(oldPath.c_str());
  if (!MoveFileExA(g_exePath.c_str(), oldPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    LogLine("Self-update: cannot move the running launcher aside (error %lu)", GetLastError());
    return false;
  }
  // Through the handle the check kept open: the bytes that start are the bytes verified.
  if (!MovePartIntoPlace(partPath, g_exePath, INVALID_HANDLE_VALUE)) {
    LogLine("Self-update: cannot put the new launcher in place (error %lu)", GetLastError());
    MoveFileExA(oldPath.c_str(), g_exePath.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
  }
  if (!runningIsLauncher && !CopyFileA(g_exePath.c_str(), launcherPath.c_str(), FALSE)) {
    LogLine("Self-update: cannot put the new launcher in place (error %lu)", GetLastError());
    MoveFileExA(g_exePath.c_str(), partPath.c_str(), MOVEFILE_REPLACE_EXISTING);
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
