// GET /metrics over HTTP: on a listener of its own (--metrics-listen, for the monitoring
// network only) and, when the operator asks for it, on the public one.
#pragma once
#include "tools/kmcontent/address_limit.h"
#include "tools/kmcontent/connection_watch.h"
#include "tools/kmcontent/serve_metrics.h"
#include "tools/kmcontent/serve_request.h"
#include <memory>

class ReportBook;
class ReleaseHalt;

struct MetricsSource {
  const ServeMetrics* metrics;
  std::string releaseDir;  // its manifest gives the version served
  const ReportBook* reports = nullptr;  // launchers' outcome reports
  ReleaseHalt* halt = nullptr;
};

MHD_Result AnswerMetrics(MHD_Connection* connection, ServeRequest* request, const MetricsSource& source);

// What keeps one client from blinding monitoring: the main listener's per-address limit and
// its deadline for a whole request head (cut by the server's watch thread).
struct MetricsGuard {
  std::unique_ptr<AddressLimit> perAddress;
  ConnectionWatch watch;
  const MetricsSource* source = nullptr;
};

// The connections one address may hold on the metrics listener: the main listener's limit,
// at most a quarter of its slots, so one client never takes them all.
unsigned MetricsPerAddress(unsigned perClient);

// A small server answering only GET /metrics on listenFd (which it then owns), its connections
// held to guard (which must outlive it); null when it cannot start.
MHD_Daemon* StartMetricsDaemon(int listenFd, const MetricsSource* source, MetricsGuard* guard);
