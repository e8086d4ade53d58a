// serve's counters for operators' monitoring, written out in Prometheus' text format at
// /metrics: requests and body bytes by status class, open connections, refusals by reason,
// account registrations by outcome, account-store errors, and the release version served.
// Every counter is a relaxed atomic, so counting costs the event threads nothing they wait on.
#pragma once
#include "core/base.h"
#include <atomic>

enum class Refusal { PerClient, HeadLate, HeadNotAccepted, BodyTooLarge, AnswerSlow, Count };
enum class Registration { Created, Taken, Invalid, RateLimited, Busy, Failed, Count };

struct ServeMetrics {
  std::atomic<uint64_t> requests[6] = {};  // by status class: [0] no status, [1] 1xx ... [5] 5xx
  std::atomic<uint64_t> bodyBytes[6] = {};
  std::atomic<int64_t> openConnections{0};
  std::atomic<uint64_t> connections{0};    // accepted since start
  std::atomic<uint64_t> refusals[static_cast<int>(Refusal::Count)] = {};
  std::atomic<uint64_t> registrations[static_cast<int>(Registration::Count)] = {};
  std::atomic<uint64_t> storeErrors{0};

  void CountRequest(int status, uint64_t bytes);
  void Refuse(Refusal reason) { refusals[static_cast<int>(reason)].fetch_add(1, std::memory_order_relaxed); }
  void Register(Registration outcome) {
    registrations[static_cast<int>(outcome)].fetch_add(1, std::memory_order_relaxed);
  }
};

// The exposition text; releaseVersion is the manifest's version line, or empty.
std::string FormatMetrics(const ServeMetrics& metrics, const std::string& releaseVersion);

// The "version N" line of a manifest's header, or empty when it has none.
std::string ManifestVersion(const std::string& manifestHead);
