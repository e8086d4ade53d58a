// Counting outcome reports; see report_book.h.
#include "tools/kmcontent/report_book.h"

void ReportBook::Count(const OutcomeReport& report) {
  std::lock_guard<std::mutex> hold(lock_);
  counts_[std::make_tuple(report.release, report.channel, static_cast<int>(report.outcome))]++;
}

void ReportBook::Refuse(const char* reason) {
  std::lock_guard<std::mutex> hold(lock_);
  refused_[reason]++;
}

std::string ReportBook::MetricsText() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::string text =
      "# HELP kmcontent_reports_total Outcome reports from launchers, by release, channel and outcome.\n"
      "# TYPE kmcontent_reports_total counter\n";
  for (const auto& entry : counts_) {
    text += "kmcontent_reports_total{release=\"" + std::get<0>(entry.first) + "\",channel=\"" +
            std::get<1>(entry.first) + "\",outcome=\"" + OutcomeName(static_cast<OutcomeClass>(std::get<2>(entry.first))) +
            "\"} " + std::to_string(entry.second) + "\n";
  }
  text += "# HELP kmcontent_reports_refused_total Outcome reports not counted, by reason.\n"
          "# TYPE kmcontent_reports_refused_total counter\n";
  for (const char* reason : {"rate_limited", "invalid", "unknown_release"}) {
    auto found = refused_.find(reason);
    text += std::string("kmcontent_reports_refused_total{reason=\"") + reason + "\"} " +
            std::to_string(found == refused_.end() ? 0 : found->second) + "\n";
  }
  return text;
}
