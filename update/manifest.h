// The content server's manifest: its grammar and parse. The parse is pure: body text in,
// the release's values, its file list and a verdict out; the update pass publishes them.
#pragma once
#include "core/base.h"
#include "update/manifest_path.h"
#include <array>

struct RemoteFile {
  std::string path;  // relative to the game folder, as written ("/" or "\")
  uint64_t size = 0;
  uint32_t crc = 0;
  bool hasBlockMap = false;  // a "map" line announced "<path>.kmmap" (block_map.h)
  bool hasPacked = false;    // a "packed" line announced "<path>.kmpack" (packed_form.h)
  bool hasSha256 = false;             // only from a signed manifest, see release_signature.h
  std::array<uint8_t, 32> sha256{};
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
  uint64_t serial = 0;                    // signed manifests only (release_signature.h)
  uint32_t releaseTag = 0;                // signed manifests only: the signed bytes, in brief
};

// "map <path>" announces a block map beside the file of that path. The grammar above reads
// such a line as a file line without numbers ('m' is no hex digit) and skips it, so launchers
// that do not patch files read a manifest with maps exactly as one without.
constexpr char kBlockMapLinePrefix[] = "map ";
constexpr char kBlockMapSuffix[] = ".kmmap";

// Never fails: a body whose first line does not begin with "KMCONTENT", or whose file
// sizes add up to more than 64 bits hold, gives an empty Manifest with accepted false. A file line whose CRC-32 is wider than 32 bits or whose size
// has a '-' sign or overflows is malformed and skipped, like one without its two numbers.
Manifest ParseManifest(const std::string& body);
