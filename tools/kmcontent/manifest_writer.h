// The manifest publish writes: "KMCONTENT", the release's header lines, then one
// "CRC size path" line per file. Also the checks of the header values, so nothing goes out
// that the launcher would refuse, cut or misread.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

struct ReleaseInfo {
  std::string version;  // decimal, as given on the command line
  std::string name;
  std::vector<std::string> notes;
  std::string mirror;
  std::string gameServer;
  std::string channel;      // empty: the live channel (no channel line)
  std::string rolloutLine;  // a whole "rollout ..." line with its LF, or empty
};

// The launcher keeps a game server address of at most this many characters (coinit.tmp).
constexpr size_t kMaxGameServerChars = 64;

// One message per value the launcher would refuse or mishandle; empty when all are fine.
std::vector<std::string> ReleaseInfoProblems(const ReleaseInfo& info);

// The lines of a notes file (LF or CR LF; a final line end adds no empty line).
std::vector<std::string> SplitNotesText(const std::string& text);

// The manifest text, LF line ends; files in the order given, paths with "/" separators,
// then a "map" line for each file published with a block map and a "packed" line for each
// file published with a packed form.
std::string FormatManifest(const ReleaseInfo& info, const std::vector<RemoteFile>& files);
