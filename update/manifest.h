// The content server's manifest: its grammar and parse. The parse is pure: body text in,
// the release's values, its file list and a verdict out; the update pass publishes them.
#pragma once
#include "core/base.h"

struct RemoteFile {
  std::string path;  // relative to the game folder, as written ("/" or "\")
  uint64_t size = 0;
  uint32_t crc = 0;
};

constexpr size_t kMaxNotesLines = 1000;

struct Manifest {
  bool accepted = false;                  // first line began with "KMCONTENT"
  int version = 0;
  std::string name;
  std::vector<std::string> notes;
  std::string mirror;                     // trailing "/" removed
  std::string gameServer;
  std::vector<RemoteFile> files;          // manifest order, player files and unsafe paths left out
  std::vector<std::string> unsafePaths;   // refused paths as written, for the log
};

// Never fails: a body whose first line does not begin with "KMCONTENT" gives an empty
// Manifest with accepted false. A file line whose CRC-32 is wider than 32 bits or whose size
// has a '-' sign or overflows is malformed and skipped, like one without its two numbers.
Manifest ParseManifest(const std::string& body);

// A path the launcher never writes: empty, rooted, with a drive colon, with a ".." part, or
// with a NUL byte (the file calls would see only the part before it).
bool IsUnsafeManifestPath(const std::string& path);

// The path as Windows resolves it, "/"-separated: "." and empty parts dropped, trailing dots
// and blanks of every name cut ("a/./b. " gives "a/b"). Letter case is kept.
std::string ResolvedWindowsPath(const std::string& path);

// True when Windows would open a player file under this (safe) path although the path is not
// spelled as one: "." parts and trailing dots and blanks of a name are dropped by Windows, so
// "./coinit.tmp" and "KMLauncher.log." are the player's files.
bool ResolvesToPlayerFile(const std::string& path);
