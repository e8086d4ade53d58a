// The release tree publish writes and serve reads. Every release is kept under its own
// name and never changed once written, so a URL of one release always gives that release's
// bytes; which release is current is one symbolic link, switched by a single rename:
//
//   RELEASE/releases/<name>/manifest, files/   each kept release ("v12", "v12.2" when 12 is
//                                              published again)
//   RELEASE/current -> releases/<name>         the release players are given
//   RELEASE/manifest -> current/manifest       what launchers and static servers ask for
//   RELEASE/files -> current/files
//   RELEASE/history                            release names, oldest first
//   RELEASE/serial                             the serial of the last publish (see
//                                              update/release_signature.h)
#pragma once
#include "core/base.h"
#include <filesystem>

namespace release_layout {

namespace fs = std::filesystem;

// RELEASE has the layout above (an earlier publish wrote releases/ and the current link).
bool IsLayered(const fs::path& release);

// "v" + version, or with ".2", ".3" ... when that name is taken in RELEASE.
std::string NewName(const fs::path& release, const std::string& version);

// The base of a release's files on the content server, for the manifest's mirror line.
std::string FilesBase(const std::string& name);

// Makes folder a layered release whose current release is `name` (already in
// folder/releases/): the current link, the manifest and files links, and the history.
bool CreateLinks(const fs::path& folder, const std::string& name, std::string& error);

// The name current points at, or empty.
std::string Current(const fs::path& release);

std::vector<std::string> History(const fs::path& release);
bool AppendHistory(const fs::path& release, const std::string& name, std::string& error);

// Points current at releases/<name>, in one rename, and flushes the change to disk.
bool SwitchCurrent(const fs::path& release, const std::string& name, std::string& error);

// Deletes the releases beyond the current one and the `keep` newest others; their names.
std::vector<std::string> Prune(const fs::path& release, unsigned keep, std::string& error);

// The highest serial this tree has given: that of RELEASE/serial, or of a kept manifest
// when higher (a serial file lost or never written); 0 for a tree without any.
uint64_t LastSerial(const fs::path& release);

// Writes folder/serial through a file renamed into place, flushed to disk.
bool StoreSerial(const fs::path& folder, uint64_t serial, std::string& error);

// The release before the current one in the history (still on disk), or empty.
std::string Previous(const fs::path& release);

}  // namespace release_layout
