// The command line between the ordinary launcher and its elevated install process, and the
// permission grant the install step runs: byte rules only, so both ends can be unit tested.
#pragma once
#include "core/base.h"

// The folder without its trailing backslash (when it has one). A quoted argument must not
// end in a backslash: the standard argument splitting would read \" as a literal quote.
std::string WithoutTrailingBackslash(std::string folder);

// "/install <server> "<install folder without trailing backslash>"".
std::string InstallParameters(const std::string& server, const std::string& installDir);

// What the elevated process takes from its argument vector (argument 0 is the program,
// argument 1 "/install"): the server when present, else defaultServer; the install folder,
// with a trailing backslash, when present and not empty, else empty.
struct InstallArguments {
  std::string server;
  std::string chosenDir;
};
InstallArguments ParseInstallArguments(const std::vector<std::string>& arguments,
                                       const std::string& defaultServer);

// icacls (its full path, quoted) granting the built-in Users group (S-1-5-32-545) modify
// rights, inherited by files and subfolders, on the folder and everything in it, quietly;
// /L: a link inside the folder gets the grant itself, its target is never followed.
std::string IcaclsCommandLine(const std::string& icaclsPath, const std::string& folderWithoutBackslash);

// Whether an existing install folder's owner (a string SID) leaves it to administrators: the
// Administrators group, SYSTEM, or whoever owns the system folder (TrustedInstaller on
// Windows). Any other owner, a standard user who made the folder beforehand, keeps the right
// to change its permissions whatever the install grants.
bool IsAdministrativeOwner(const std::string& ownerSid, const std::string& systemFolderOwnerSid);

// The elevated step started by the player's launcher ("/install") runs again from a copy of
// the launcher in a folder only administrators can write; that copy is started with this
// switch in place of "/install", the other arguments as they were.
constexpr char kInstallFromCopySwitch[] = "/install-from-copy";

// "/install" or kInstallFromCopySwitch, in any letter case.
bool IsInstallSwitch(const std::string& argument);

// The copy's command line: the copy's path and every argument after "/install", each quoted.
std::string InstallCopyCommandLine(const std::string& copyPath, const std::vector<std::string>& arguments);
