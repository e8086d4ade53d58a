// GET /metrics over HTTP: on a listener of its own (--metrics-listen, for the monitoring
// network only) and, when the operator asks for it, on the public one.
#pragma once
#include "tools/kmcontent/serve_metrics.h"
#include "tools/kmcontent/serve_request.h"

class ReportBook;
class ReleaseHalt;

struct MetricsSource {
  const ServeMetrics* metrics;
  std::string releaseDir;  // its manifest gives the version served
  const ReportBook* reports = nullptr;  // launchers' outcome reports
  ReleaseHalt* halt = nullptr;
};

MHD_Result AnswerMetrics(MHD_Connection* connection, ServeRequest* request, const MetricsSource& source);

// A small server answering only GET /metrics on listenFd (which it then owns); null when it
// cannot start.
MHD_Daemon* StartMetricsDaemon(int listenFd, const MetricsSource* source);
