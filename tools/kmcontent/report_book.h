// The outcome reports launchers send (update/outcome_report.h), counted by release, channel
// and outcome for /metrics. Only releases the tree holds are counted, so the number of
// series stays bounded whatever clients send; serve also bounds the reports per address.
// Thread-safe.
#pragma once
#include "core/base.h"
#include "update/outcome_report.h"
#include <map>
#include <mutex>
#include <tuple>

class ReportBook {
 public:
  void Count(const OutcomeReport& report);
  void Refuse(const char* reason);  // "rate_limited", "invalid", "unknown_release"

  // kmcontent_reports_total{release,channel,outcome} and kmcontent_reports_refused_total{reason}.
  std::string MetricsText() const;

 private:
  mutable std::mutex lock_;
  std::map<std::tuple<std::string, std::string, int>, uint64_t> counts_;
  std::map<std::string, uint64_t> refused_;
};
