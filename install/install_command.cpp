// Install command lines; see install_command.h.
#include "install/install_command.h"
#include "core/text.h"

std::string WithoutTrailingBackslash(std::string folder) {
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string InstallParameters(const std::string& server, const std::string& installDir) {
  return "/install " + server + " \"" + WithoutTrailingBackslash(installDir) + "\"";
}

InstallArguments ParseInstallArguments(const std::vector<std::string>& arguments,
                                       const std::string& defaultServer) {
  InstallArguments parsed;
  parsed.server = arguments.size() > 2 ? arguments[2] : defaultServer;
  if (arguments.size() > 3 && !arguments[3].empty()) parsed.chosenDir = WithTrailingBackslash(arguments[3]);
  return parsed;
}

std::string IcaclsCommandLine(const std::string& icaclsPath, const std::string& folderWithoutBackslash) {
  return "\"" + icaclsPath + "\" \"" + folderWithoutBackslash + "\" /grant *S-1-5-32-545:(OI)(CI)M /T /L /Q";
}

bool IsAdministrativeOwner(const std::string& ownerSid, const std::string& systemFolderOwnerSid) {
  if (ownerSid.empty()) return false;
  return ownerSid == "S-1-5-32-544" || ownerSid == "S-1-5-18" || ownerSid == systemFolderOwnerSid;
}

bool IsInstallSwitch(const std::string& argument) {
  std::string lower = Lower(argument);
  return lower == "/install" || lower == kInstallFromCopySwitch;
}

std::string InstallCopyCommandLine(const std::string& copyPath, const std::vector<std::string>& arguments) {
  std::string line = "\"" + copyPath + "\" " + kInstallFromCopySwitch;
  for (size_t i = 2; i < arguments.size(); i++) line += " \"" + WithoutTrailingBackslash(arguments[i]) + "\"";
  return line;
}
