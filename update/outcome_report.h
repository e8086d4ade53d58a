// The report a launcher sends at the end of each pass, so the operator learns how a release
// fares on players' machines: which release and channel, the rollout percentage the install
// saw, the outcome class, bytes to fetch and seconds taken. Never a name, a path or an
// address; the body is one line of key=value pairs joined by '&', every value from a small
// alphabet, so it needs no escaping and serve can read it strictly.
//
//     release=v12&channel=live&percent=30&outcome=done&bytes=1048576&seconds=12
#pragma once
#include "core/base.h"
#include "core/phase.h"

enum class OutcomeClass { Done, UpToDate, Offline, Certificate, DiskSpace, Held, Crc, Failed, Count };

const char* OutcomeName(OutcomeClass outcome);  // "done", "uptodate", ... "failed"
bool OutcomeFromName(const std::string& name, OutcomeClass& outcome);

struct OutcomeReport {
  std::string release;  // a kept release's name, e.g. "v12"
  std::string channel;  // "live" or a channel name
  unsigned percent = 100;
  OutcomeClass outcome = OutcomeClass::Failed;
  uint64_t bytes = 0;
  uint64_t seconds = 0;
};

constexpr size_t kMaxOutcomeReport = 256;

std::string FormatOutcomeReport(const OutcomeReport& report);
// False for anything but the form FormatOutcomeReport writes (every key once, in order,
// values valid), so a report counted is a report a launcher could have sent.
bool ParseOutcomeReport(const std::string& body, OutcomeReport& report);

// The class of a pass that ended in phase with this headline (the texts the pass publishes);
// crcFailure: the last download failed its CRC-32 or SHA-256; fetched: bytes the pass had to
// fetch.
OutcomeClass ClassifyPassEnd(Phase phase, const std::string& headline, bool crcFailure, uint64_t fetched);
