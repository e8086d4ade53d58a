// Counters and their exposition text; see serve_metrics.h.
#include "tools/kmcontent/serve_metrics.h"

namespace {

const char* const kStatusClasses[6] = {"none", "1xx", "2xx", "3xx", "4xx", "5xx"};
const char* const kRefusals[] = {"per_client_limit", "head_deadline", "head_not_accepted", "body_too_large",
                                 "answer_too_slow"};
const char* const kRegistrations[] = {"created", "taken", "invalid", "rate_limited", "busy", "failed"};
static_assert(sizeof kRefusals / sizeof *kRefusals == static_cast<size_t>(Refusal::Count), "a name per reason");
static_assert(sizeof kRegistrations / sizeof *kRegistrations == static_cast<size_t>(Registration::Count),
              "a name per outcome");

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& labels, uint64_t value) {
  out += name;
  if (!labels.empty()) out += "{" + labels + "}";
  out += " " + std::to_string(value) + "\n";
}

}  // namespace

void ServeMetrics::CountRequest(int status, uint64_t bytes) {
  int kind = status >= 100 && status < 600 ? status / 100 : 0;
  requests[kind].fetch_add(1, std::memory_order_relaxed);
  bodyBytes[kind].fetch_add(bytes, std::memory_order_relaxed);
}

std::string FormatMetrics(const ServeMetrics& m, const std::string& releaseVersion) {
  std::string out;
  Family(out, "kmcontent_requests_total", "counter", "Requests answered or cut off, by status class.");
  for (int i = 0; i < 6; i++) Sample(out, "kmcontent_requests_total", std::string("code=\"") + kStatusClasses[i] + "\"", m.requests[i]);
  Family(out, "kmcontent_response_body_bytes_total", "counter", "Body bytes sent, by status class.");
  for (int i = 0; i < 6; i++) {
    Sample(out, "kmcontent_response_body_bytes_total", std::string("code=\"") + kStatusClasses[i] + "\"", m.bodyBytes[i]);
  }
  Family(out, "kmcontent_open_connections", "gauge", "Client connections open now.");
  int64_t open = m.openConnections.load();
  Sample(out, "kmcontent_open_connections", "", open > 0 ? static_cast<uint64_t>(open) : 0);
  Family(out, "kmcontent_connections_total", "counter", "Client connections accepted.");
  Sample(out, "kmcontent_connections_total", "", m.connections);
  Family(out, "kmcontent_refusals_total", "counter", "Connections or requests refused, by reason.");
  for (size_t i = 0; i < sizeof kRefusals / sizeof *kRefusals; i++) {
    Sample(out, "kmcontent_refusals_total", std::string("reason=\"") + kRefusals[i] + "\"", m.refusals[i]);
  }
  Family(out, "kmcontent_registrations_total", "counter", "Account registrations, by outcome.");
  for (size_t i = 0; i < sizeof kRegistrations / sizeof *kRegistrations; i++) {
    Sample(out, "kmcontent_registrations_total", std::string("outcome=\"") + kRegistrations[i] + "\"",
           m.registrations[i]);
  }
  Family(out, "kmcontent_account_store_errors_total", "counter", "Account store operations that failed.");
  Sample(out, "kmcontent_account_store_errors_total", "", m.storeErrors);
  Family(out, "kmcontent_release_version", "gauge", "Version of the release served at /manifest (0: none).");
  Sample(out, "kmcontent_release_version", "", releaseVersion.empty() ? 0 : std::stoull(releaseVersion));
  return out;
}

std::string ManifestVersion(const std::string& head) {
  size_t at = head.find("\nversion ");
  if (at == std::string::npos) return std::string();
  size_t begin = at + 9, end = begin;
  while (end < head.size() && end - begin < 18 && head[end] >= '0' && head[end] <= '9') end++;
  bool lineEnds = end < head.size() && (head[end] == '\n' || head[end] == '\r');
  return end > begin && lineEnds ? head.substr(begin, end - begin) : std::string();
}
