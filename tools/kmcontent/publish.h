// publish: a game build folder in, a release tree out: RELEASE/manifest and RELEASE/files/
// with a copy of every file, each hashed with CRC-32 while it is copied. Everything is
// written into a folder beside RELEASE and swapped in at the end, so a failed or refused
// run leaves the previous release exactly as it was, and a server reading RELEASE sees
// either the old release or the new one. Earlier releases stay reachable under their own
// names for a while (release_layout.h).
#pragma once
#include "core/base.h"
#include "tools/kmcontent/manifest_writer.h"
#include <functional>

// Smaller files are fetched whole: their map's round trip and the scan would cost about as
// much as the bytes saved.
constexpr uint64_t kDefaultBlockMapsFrom = 4u << 20;

struct PublishOptions {
  std::string buildDir;
  std::string outDir;
  ReleaseInfo info;       // notes are read from notesFile when it is given
  std::string notesFile;
  unsigned jobs = 0;      // copying threads; 0 = one per CPU
  bool dryRun = false;    // check and hash only; nothing is written
  unsigned keep = 2;      // earlier releases kept beside the current one, for updates in flight
  uint64_t blockMapsFrom = kDefaultBlockMapsFrom;  // files this large get a block map; 0: none
  bool packed = true;     // packed forms beside the files where they save enough (packed_writer.h)
  std::string signKeyFile;  // private release key: add SHA-256 and signature lines
  std::string channel;      // publish into RELEASE/channels/<channel> (empty: live)
  int percent = -1;         // 0-100: a staged rollout of the new release; -1: everyone at once
  bool preload = false;     // put the release in place and announce it, without making it live
};

struct PublishProgress {
  size_t filesDone = 0;
  size_t filesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
};

struct PublishResult {
  bool ok = false;
  std::vector<std::string> problems;  // why nothing was published
  size_t files = 0;
  uint64_t bytes = 0;
  double seconds = 0;                 // copying and hashing
  std::string manifest;               // the manifest text (also of a dry run)
  std::string releaseName;            // under RELEASE/releases/
  uint64_t serial = 0;                // one above every serial the tree gave before
  std::vector<std::string> staleStaging;  // staging folders of interrupted runs, deleted
  std::vector<std::string> removed;   // earlier releases deleted after the grace period
  bool preloaded = false;             // in place and announced, not current
  size_t linked = 0;                  // files shared with the release before (hard links)
  uint64_t linkedBytes = 0;
};

// Called about five times a second while files are copied, and once at the end.
using PublishProgressFn = std::function<void(const PublishProgress&)>;

PublishResult Publish(const PublishOptions& options, const PublishProgressFn& progress);
