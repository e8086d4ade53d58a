// DefaultInstallDir and InstallDir; see install_location_win.h.
#include "install/install_location_win.h"
#include "install/install_folder.h"
#include "core/text.h"
#include <windows.h>

std::string g_chosenInstallDir;

namespace {
constexpr const char* kInstallKey = "SOFTWARE\\KelmorraGold";

// The variable's value when it has 1 to 259 characters (up to 4 bytes each in UTF-8).
bool ReadEnvironmentFolder(const char* name, std::string& value) {
  char buffer[4 * MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length < 1 || length >= sizeof buffer) return false;
  value = buffer;
  return true;
}

bool ReadRecordedInstallDir(std::string& folder) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  // A folder of 259 characters takes up to 1036 bytes in UTF-8; one byte more is a value
  // no folder of ours can have, which is refused whole rather than cut.
  char buffer[4 * MAX_PATH + 1] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  LONG result = RegQueryValueExA(key, "InstallPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ || buffer[0] == '\0') return false;
  if (memchr(buffer, '\0', sizeof buffer) == nullptr) return false;
  folder = buffer;
  return true;
}
}  // namespace

std::string DefaultInstallDir() {
  std::string programFiles;
  if (!ReadEnvironmentFolder("ProgramW6432", programFiles) &&
      !ReadEnvironmentFolder("ProgramFiles", programFiles)) {
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
