// A rollout that halts itself (serve --halt-above SHARE --min-reports N): when the share of
// failing outcome reports for the live channel's current release crosses SHARE after at
// least N reports, /manifest answers the previous release's manifest (as published, so a
// signed one needs no new signature) until the operator acts on the release: a `kmcontent
// rollout` (any percentage, the same one too), a rollback or a publish changes the current
// manifest, which ends the halt and starts counting afresh. One instance counts alone, in
// memory; a restarted serve starts counting again.
#pragma once
#include "core/base.h"
#include "update/outcome_report.h"
#include <mutex>

struct HaltRule {
  double above = 0;         // 0: no halts
  unsigned minReports = 20;
  unsigned failing = 0;     // bit per OutcomeClass
};

// The default failing classes: certificate, crc, failed.
unsigned DefaultFailingOutcomes();
// "crc,failed" to a mask; false for an unknown class or an empty list.
bool ParseFailingOutcomes(const std::string& list, unsigned& mask);

class ReleaseHalt {
 public:
  ReleaseHalt(const HaltRule& rule, const std::string& releaseDir) : rule_(rule), releaseDir_(releaseDir) {}

  // A counted report; only the live channel's current release counts.
  void Count(const OutcomeReport& report);
  // The folder whose manifest /manifest answers: the tree, or the previous release's folder.
  std::string ManifestFolder();
  std::string MetricsText();

 private:
  // The current release's name and its manifest's identity; resets the counts when changed.
  void Refresh();

  HaltRule rule_;
  std::string releaseDir_;
  std::mutex lock_;
  std::string current_;    // release name
  std::string identity_;   // inode, size and time of its manifest
  uint64_t total_ = 0, failing_ = 0;
  std::string haltedTo_;   // the release answered instead, while halted
};
