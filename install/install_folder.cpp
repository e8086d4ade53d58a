// Install folder rules; see install_folder.h.
#include "install/install_folder.h"
#include "core/text.h"

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
