// The install run, split in two processes because the ordinary launcher has no administrator
// rights while the install writes under Program Files and into HKEY_LOCAL_MACHINE.
//
// InstallThread (ordinary launcher, install worker) starts a second copy of the launcher with
// the verb "runas" and "/install <server> "<folder>"", waits for it and reads its exit code.
// RunInstallStep (that elevated copy) creates the folder, opens it to ordinary users, copies
// the launcher in, writes its configuration, makes the two shortcuts and records the folder in
// the registry. The game files are not installed here: the installed launcher downloads them.
#include "install/install_run_win.h"
#include "core/globals_win.h"
#include "core/launcher_config.h"
#include "core/launcher_config_file_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include "install/install_command.h"
#include "install/install_folder.h"
#include "install/install_location_win.h"
#include "install/real_folder_win.h"
#include "install/shortcut_win.h"
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {
// The key InstallDir reads back (64-bit view of HKEY_LOCAL_MACHINE).
constexpr const char* kInstallKey = "SOFTWARE\\KelmorraGold";
constexpr DWORD kIcaclsWaitMs = 60000;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// --- ordinary launcher ---

void ReportNotStarted(DWORD error) {
  LogLine("Install not started (error %lu)", error);
  std::string detail =
      error == ERROR_CANCELLED
          ? "Installing into Program Files needs administrator permission. Press INSTALL to try again."
          : Fmt("Could not start the installer (error %lu).", error);
  SetStatus(NotInstalled, "Install cancelled.", detail, 0);
}

// Starts the elevated copy; null (with the error) when Windows did not start it.
HANDLE StartElevated(const std::string& parameters, DWORD& error) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = g_wnd;
  info.lpVerb = "runas";
  info.lpFile = g_exePath.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = 0;
  BOOL started = ShellExecuteExA(&info);
  error = GetLastError();
  return started ? info.hProcess : nullptr;
}

// A failed read of the exit code counts as a failure.
DWORD WaitForExitCode(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

void StartInstalledLauncher(const std::string& exe, const std::string& installDir) {
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, installDir.c_str(),
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// --- elevated install process ---

// Started by its full path in the system folder: before the install the launcher runs from
// wherever the player saved it, and an icacls.exe planted there would run elevated.
void GrantUsersModify(const std::string& folder) {
  char systemDir[4 * MAX_PATH] = {};  // 259 characters of UTF-8
  UINT length = GetSystemDirectoryA(systemDir, sizeof systemDir);
  if (length == 0 || length >= sizeof systemDir) {
    LogLine("icacls failed to start (error %lu)", GetLastError());
    return;
  }
  std::string icacls = WithTrailingBackslash(systemDir) + "icacls.exe";
  std::string commandLine = IcaclsCommandLine(icacls, folder);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(icacls.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process)) {
    LogLine("icacls failed to start (error %lu)", GetLastError());
    return;
  }
  WaitForSingleObject(process.hProcess, kIcaclsWaitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// The all-users desktop and Start-menu shortcuts; a folder Windows cannot name is skipped.
void MakeShortcuts(const std::string& target, const std::string& workingDir) {
  CoInitialize(nullptr);
  for (int folderId : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS}) {
    // The UTF-16 call: its buffer counts characters, so a long localised folder name is
    // never cut at MAX_PATH bytes.
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, folder))) {
      MakeShortcut(AnsiFromWide(folder) + "\\Kelmorra Gold.lnk", target, workingDir);
    }
  }
  CoUninitialize();
}

// A folder a standard user made beforehand stays theirs to re-permission: never installed into.
bool OwnedByAdministrators(const std::string& folder) {
  char systemDir[4 * MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(systemDir, sizeof systemDir);
  std::string systemOwner = length > 0 && length < sizeof systemDir ? FolderOwner(systemDir) : std::string();
  return IsAdministrativeOwner(FolderOwner(folder), systemOwner);
}

void RecordInstallDir(const std::string& installDir) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, "InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir.c_str()),
                 static_cast<DWORD>(installDir.size() + 1));
  RegCloseKey(key);
}
}  // namespace

DWORD WINAPI InstallThread(void*) {
  std::string installDir = InstallDir();
  SetStatus(Installing, "Installing Kelmorra Gold...",
            "Windows may ask for permission to install into " + installDir, 0);
  DWORD error = 0;
  HANDLE process = StartElevated(InstallParameters(g_server, installDir), error);
  if (!process) {
    ReportNotStarted(error);
    return 0;
  }
  DWORD code = WaitForExitCode(process);
  std::string installed = InstallDir() + "KMLauncher.exe";
  if (code == kInstallDone && Exists(installed)) {
    StartInstalledLauncher(installed, InstallDir());
    PostMessageA(g_wnd, WM_CLOSE, 0, 0);
    return 0;
  }
  LogLine("Install failed (code %lu)", code);
  SetStatus(NotInstalled, "The install did not finish.",
            Fmt("Could not set up %s (code %lu). Press INSTALL to try again.", InstallDir().c_str(), code), 0);
  return 0;
}

namespace {
// Steps 5 to 11, in a folder already created and checked; its exit code.
int InstallInto(const std::string& installDir, const std::string& folder, const std::string& server) {
  // Appended, never emptied: the installed launcher's own log goes on in the same file.
  g_logFile = fopen((installDir + "KMLauncher.log").c_str(), "a");
  LogLine("Installing to %s (content server %s)", installDir.c_str(), server.c_str());
  GrantUsersModify(folder);
  std::string exe = installDir + "KMLauncher.exe";
  if (!CopyFileA(g_exePath.c_str(), exe.c_str(), FALSE)) {
    LogLine("Cannot copy the launcher into %s (error %lu)", installDir.c_str(), GetLastError());
    return kInstallCopyFailed;
  }
  WriteLauncherConfig(installDir + "KMLauncher.cfg", ConfigTemplate::Install, server);
  MakeShortcuts(exe, folder);
  RecordInstallDir(installDir);
  LogLine("Install step done - the launcher will now download the game");
  return kInstallDone;
}
}  // namespace

namespace {
// A new folder in the system's temporary folder that only administrators and SYSTEM can
// open; empty when none could be made.
std::string MakeAdministratorsFolder() {
  char windows[4 * MAX_PATH] = {};
  UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  if (length == 0 || length >= sizeof windows) return std::string();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return std::string();
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  std::string made;
  for (unsigned attempt = 0; attempt < 16 && made.empty(); attempt++) {
    std::string folder = WithTrailingBackslash(windows) +
                         Fmt("Temp\\KelmorraGold-install-%lu-%u", GetCurrentProcessId(), attempt);
    if (CreateDirectoryA(folder.c_str(), &attributes)) made = folder;  // never one that was there before
  }
  LocalFree(descriptor);
  return made;
}

// The copy's image may stay mapped for a while after its process has ended (under Wine, on a
// busy machine, seconds); what still cannot be removed after 10 s goes at the next restart.
void RemoveCopy(const std::string& copy, const std::string& folder) {
  constexpr int kAttempts = 100;
  constexpr DWORD kPauseMs = 100;
  for (int attempt = 0; attempt < kAttempts && !DeleteFileA(copy.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
       attempt++) {
    Sleep(kPauseMs);
  }
  bool removed = false;
  for (int attempt = 0; attempt < kAttempts && !(removed = RemoveDirectoryA(folder.c_str())); attempt++) Sleep(kPauseMs);
  if (!removed) {
    MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

// The step as a copy of this launcher in an administrators' folder runs it: the folder the
// player saved the launcher in may hold anything any program of theirs put there. The copy's
// exit code; -1 when no copy could run (the step then runs here, as it always did).
int RunFromAdministratorsCopy(const std::vector<std::string>& arguments) {
  std::string folder = MakeAdministratorsFolder();
  if (folder.empty()) return -1;
  std::string copy = folder + "\\KMLauncher.exe";
  int code = -1;
  if (CopyFileA(g_exePath.c_str(), copy.c_str(), TRUE)) {
    std::string commandLine = InstallCopyCommandLine(copy, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Its working folder is the system folder: its own would keep the folder from being
    // removed, and the player's download folder is what it leaves behind.
    char systemDir[4 * MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(systemDir, sizeof systemDir);
    const char* workingDir = length > 0 && length < sizeof systemDir ? systemDir : nullptr;
    if (CreateProcessA(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, workingDir, &startup,
                       &process)) {
      CloseHandle(process.hThread);
      code = static_cast<int>(WaitForExitCode(process.hProcess));
    }
  }
  RemoveCopy(copy, folder);
  return code;
}
}  // namespace

int RunInstallStep(const std::vector<std::string>& arguments) {
  if (Lower(arguments[1]) == "/install") {
    int code = RunFromAdministratorsCopy(arguments);
    if (code >= 0) return code;
  }
  InstallArguments parsed = ParseInstallArguments(arguments, kDefaultServer);
  if (!parsed.chosenDir.empty()) g_chosenInstallDir = parsed.chosenDir;
  std::string installDir = InstallDir();
  // Any program may start this step elevated with a folder of its choosing; only a folder
  // of the form every install uses, reached without a junction or link, is created, opened
  // to all users and recorded.
  if (!IsInstallableDir(installDir)) return kInstallNoFolder;
  std::string folder = installDir.substr(0, installDir.size() - 1);
  if (!NoReparsePointOnPath(folder)) return kInstallNoFolder;
  SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  // Held from here to the end, the folder cannot be swapped for a link, nor the folders
  // above it renamed (Windows refuses to rename a folder with an open handle below it);
  // the path is judged again now that it is held.
  HANDLE held = HoldRealFolder(folder);
  if (held == INVALID_HANDLE_VALUE) return kInstallNoFolder;
  // A folder made here is the administrators'; one a standard user made beforehand is not.
  bool trusted = NoReparsePointOnPath(folder) && OwnedByAdministrators(folder);
  int code = trusted ? InstallInto(installDir, folder, parsed.server) : kInstallNoFolder;
  CloseHandle(held);
  return code;
}
