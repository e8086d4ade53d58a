// A rollout that halts itself (serve --halt-above SHARE --min-reports N): when the share of
// failing outcome reports for the live channel's current release crosses SHARE after at
// least N reports, /manifest answers the previous release's manifest (as published, so a
// signed one needs no new signature) until the operator acts on the release: a `kmcontent
// rollout` (any percentage, the same one too), a rollback or a publish changes the current
// manifest, which ends the halt and starts counting afresh.
//
// Without a store one instance counts alone, in memory (a restarted serve starts counting
// again). With one (PostgreSQL, shared by several instances) the counts and the halt are the
// store's, keyed by the release name, the SHA-256 of its manifest and the manifest's time
// (copies of the tree keep file times: rsync -a), so every instance
// serving the same release counts into one total and answers the same manifest: reports are
// written and the halt read by a thread of the halt's own every few hundred milliseconds,
// never by the threads that serve.
#pragma once
#include "core/base.h"
#include "update/outcome_report.h"
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class HaltStore {
 public:
  virtual ~HaltStore() = default;
  // Adds one report to key; false when the store failed.
  virtual bool Add(const std::string& key, bool failing) = 0;
  // Records the halt of key (the first instance to record one wins).
  virtual bool Halt(const std::string& key, const std::string& to) = 0;
  // The store's counts and halt (empty: none) of key.
  virtual bool Read(const std::string& key, uint64_t& total, uint64_t& failing, std::string& haltedTo) = 0;
};

// Null, with the reason, when the database cannot be reached or its tables made.
HaltStore* OpenPostgresHaltStore(const std::string& uri, std::string& error);

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
  // Counts and halts shared through the store from now on.
  void Share(std::unique_ptr<HaltStore> store);
  ~ReleaseHalt();

  // A counted report; only the live channel's current release counts.
  void Count(const OutcomeReport& report);
  // The folder whose manifest /manifest answers: the tree, or the previous release's folder.
  std::string ManifestFolder();
  std::string MetricsText();

 private:
  // The current release's name and its manifest's identity; resets the counts when changed.
  void Refresh();
  // Halts when the counts say so; false when there is nothing kept to go back to.
  bool OverThreshold(uint64_t total, uint64_t failing) const;
  std::string PreviousOfCurrent();
  void SyncWithStore();
  void SyncLoop();

  HaltRule rule_;
  std::string releaseDir_;
  std::mutex lock_;
  std::string current_;    // release name
  std::string identity_;   // inode, size and time of its manifest
  uint64_t total_ = 0, failing_ = 0;
  std::string haltedTo_;   // the release answered instead, while halted
  std::string sharedKey_;  // release name and manifest digest, the store's key

  std::unique_ptr<HaltStore> store_;
  std::vector<std::pair<std::string, bool>> pending_;  // reports not yet in the store
  std::thread syncer_;
  std::condition_variable wake_;
  bool stopping_ = false;
};
