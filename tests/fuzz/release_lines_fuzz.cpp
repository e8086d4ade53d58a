// Fuzzes what a hostile content server or client controls in rollouts: the channel and
// rollout lines of a manifest, and an outcome report's body. Whatever is accepted is
// exactly what the writers would write again, and names no path outside the release tree.
#include "update/outcome_report.h"
#include "update/release_channel.h"
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string channel, reason;
  if (ReadManifestChannel(text, channel, reason) && !channel.empty() &&
      (channel.find('/') != std::string::npos || channel.find('.') != std::string::npos)) {
    abort();
  }
  Rollout rollout;
  if (ReadRollout(text, rollout, reason) && rollout.present) {
    if (rollout.percent > 100 || rollout.previous.find('/') != std::string::npos || rollout.previous == "..") abort();
    if (text.find(RolloutLine(rollout).substr(0, RolloutLine(rollout).size() - 1)) == std::string::npos) abort();
  }
  OutcomeReport report;
  if (ParseOutcomeReport(text, report) && FormatOutcomeReport(report) != text) abort();
  return 0;
}
