// DefaultInstallDir and InstallDir; see install_location_win.h.
#include "install/install_location_win.h"
#include "install/install_folder.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include <windows.h>
#include <cwchar>

std::string g_chosenInstallDir;

namespace {
constexpr const char* kInstallKey = "SOFTWARE\\KelmorraGold";

// The variable's value when it has 1 to 259 characters. Read as UTF-16: Wine's "A" call cuts
// a UTF-8 value by its count of UTF-16 characters.
bool ReadEnvironmentFolder(const wchar_t* name, std::string& value) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  if (length < 1 || length >= MAX_PATH) return false;
  value = AnsiFromWide(buffer);
  return !value.empty();
}

bool ReadRecordedInstallDir(std::string& folder) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  // UTF-16, 259 characters at most: a longer value is no folder of ours and is refused
  // whole rather than cut.
  wchar_t buffer[MAX_PATH] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  LONG result = RegQueryValueExW(key, L"InstallPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ || buffer[0] == L'\0') return false;
  if (wmemchr(buffer, L'\0', MAX_PATH) == nullptr) return false;
  folder = AnsiFromWide(buffer);
  return !folder.empty();
}
}  // namespace

std::string DefaultInstallDir() {
  std::string programFiles;
  if (!ReadEnvironmentFolder(L"ProgramW6432", programFiles) &&
      !ReadEnvironmentFolder(L"ProgramFiles", programFiles)) {
    programFiles = kFallbackProgramFiles;
  }
  return InstallDirUnder(programFiles);
}

std::string InstallDir() {
  if (!g_chosenInstallDir.empty()) return g_chosenInstallDir;
  std::string recorded;
  if (!ReadRecordedInstallDir(recorded)) return DefaultInstallDir();
  return WithTrailingBackslash(recorded);
}
