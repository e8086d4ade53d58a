// The outcome report's text; see outcome_report.h.
#include "update/outcome_report.h"
#include "core/launcher_config.h"
#include "core/text.h"
#include "update/release_channel.h"

namespace {
const char* const kOutcomeNames[] = {"done", "uptodate", "offline", "certificate", "diskspace", "held", "crc",
                                     "failed"};
static_assert(sizeof kOutcomeNames / sizeof kOutcomeNames[0] == static_cast<size_t>(OutcomeClass::Count),
              "one name per outcome class");

const char* const kKeys[] = {"release", "channel", "percent", "outcome", "bytes", "seconds"};

bool ParseNumber(const std::string& digits, uint64_t limit, uint64_t& value) {
  if (digits.empty() || digits.size() > 19 || (digits[0] == '0' && digits.size() > 1)) return false;
  value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value <= limit;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

const char* OutcomeName(OutcomeClass outcome) { return kOutcomeNames[static_cast<int>(outcome)]; }

bool OutcomeFromName(const std::string& name, OutcomeClass& outcome) {
  for (int i = 0; i < static_cast<int>(OutcomeClass::Count); i++) {
    if (name == kOutcomeNames[i]) {
      outcome = static_cast<OutcomeClass>(i);
      return true;
    }
  }
  return false;
}

std::string FormatOutcomeReport(const OutcomeReport& report) {
  return Fmt("release=%s&channel=%s&percent=%u&outcome=%s&bytes=%llu&seconds=%llu", report.release.c_str(),
             report.channel.c_str(), report.percent, OutcomeName(report.outcome),
             static_cast<unsigned long long>(report.bytes), static_cast<unsigned long long>(report.seconds));
}

bool ParseOutcomeReport(const std::string& body, OutcomeReport& report) {
  if (body.size() > kMaxOutcomeReport) return false;
  std::string values[6];
  size_t pos = 0;
  for (int i = 0; i < 6; i++) {
    std::string key = std::string(kKeys[i]) + "=";
    if (body.compare(pos, key.size(), key) != 0) return false;
    pos += key.size();
    size_t end = body.find('&', pos);
    if ((end == std::string::npos) != (i == 5)) return false;
    values[i] = body.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? body.size() : end + 1;
  }
  OutcomeReport read;
  uint64_t percent = 0;
  read.release = values[0];
  read.channel = values[1];
  bool ok = IsKeptReleaseName(read.release) && (read.channel == "live" || IsChannelName(read.channel)) &&
            ParseNumber(values[2], 100, percent) && OutcomeFromName(values[3], read.outcome) &&
            ParseNumber(values[4], UINT64_MAX / 10, read.bytes) && ParseNumber(values[5], UINT64_MAX / 10, read.seconds);
  if (!ok) return false;
  read.percent = static_cast<unsigned>(percent);
  report = read;
  return true;
}

OutcomeClass ClassifyPassEnd(Phase phase, const std::string& headline, bool crcFailure, uint64_t fetched) {
  if (phase == Ready) return fetched > 0 ? OutcomeClass::Done : OutcomeClass::UpToDate;
  if (phase == Offline) {
    if (Contains(headline, "certificate") || Contains(headline, "secure connection")) return OutcomeClass::Certificate;
    // A release the launcher refuses (signature, channel, older) is the operator's failure.
    if (Contains(headline, "verify")) return OutcomeClass::Failed;
    return OutcomeClass::Offline;
  }
  if (Contains(headline, "disk space")) return OutcomeClass::DiskSpace;
  if (Contains(headline, "in use")) return OutcomeClass::Held;
  return crcFailure ? OutcomeClass::Crc : OutcomeClass::Failed;
}
