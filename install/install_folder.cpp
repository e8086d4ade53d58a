// Install folder rules; see install_folder.h.
#include "install/install_folder.h"
#include "core/text.h"
#include "update/manifest_path.h"

std::string InstallDirUnder(std::string programFiles) {
  return WithTrailingBackslash(std::move(programFiles)) + kInstallFolderName;
}

std::string InstallDirFromPick(const std::string& picked) {
  std::string folder = WithTrailingBackslash(picked);
  if (!EndsWith(Lower(folder), Lower(kInstallFolderName))) folder += kInstallFolderName;
  return folder;
}

std::string PickerStartFolder(const std::string& defaultInstallDir) {
  std::string folder = defaultInstallDir;
  if (!folder.empty()) folder.pop_back();
  size_t lastSlash = folder.rfind('\\');
  if (lastSlash != std::string::npos) folder.resize(lastSlash);
  return folder;
}

bool IsInstallableDir(const std::string& installDir) {
  std::string folder = WithTrailingBackslash(installDir);
  char drive = static_cast<char>(folder[0] | 0x20);
  bool onDrive = folder.size() > 3 && drive >= 'a' && drive <= 'z' && folder[1] == ':' && folder[2] == '\\';
  if (!onDrive) return false;
  std::string below = folder.substr(3, folder.size() - 4);  // between "X:\" and the last backslash
  size_t lastSlash = below.find_last_of("\\/");
  std::string last = lastSlash == std::string::npos ? below : below.substr(lastSlash + 1);
  return Lower(last) == "kelmorragold" && !IsUnsafeManifestPath(below);
}
