// /metrics; see metrics_endpoint.h.
#include "tools/kmcontent/metrics_endpoint.h"
#include "tools/kmcontent/release_halt.h"
#include "tools/kmcontent/report_book.h"
#include <fstream>

namespace {

std::string ServedVersion(const std::string& releaseDir) {
  std::ifstream manifest(releaseDir + "/manifest", std::ios::binary);
  char head[512] = {};
  manifest.read(head, sizeof head - 1);
  return ManifestVersion(std::string(head, static_cast<size_t>(manifest.gcount())));
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t* uploadSize, void** context) {
  static int seen;
  if (*context == nullptr) {  // answered on the second call, so the connection may be kept
    *context = &seen;
    return MHD_YES;
  }
  *uploadSize = 0;
  ServeRequest request;
  request.method = method;
  if (strcmp(url, "/metrics") != 0 || (request.method != "GET" && request.method != "HEAD")) {
    return QueueText(connection, &request, MHD_HTTP_NOT_FOUND, "Not found\n");
  }
  return AnswerMetrics(connection, &request, *static_cast<const MetricsSource*>(cls));
}

}  // namespace

MHD_Result AnswerMetrics(MHD_Connection* connection, ServeRequest* request, const MetricsSource& source) {
  std::string text = FormatMetrics(*source.metrics, ServedVersion(source.releaseDir));
  if (source.reports != nullptr) text += source.reports->MetricsText();
  if (source.halt != nullptr) text += source.halt->MetricsText();
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response != nullptr) {
    MHD_add_response_header(response, "Content-Type", "text/plain; version=0.0.4; charset=utf-8");
    MHD_add_response_header(response, "Cache-Control", "no-store");
  }
  return QueueAnswer(connection, request, MHD_HTTP_OK, response, text.size());
}

MHD_Daemon* StartMetricsDaemon(int listenFd, const MetricsSource* source) {
  return MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
                          Handle, const_cast<MetricsSource*>(source), MHD_OPTION_LISTEN_SOCKET, listenFd,
                          MHD_OPTION_CONNECTION_LIMIT, 16u, MHD_OPTION_CONNECTION_TIMEOUT, 10u,
                          MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(16384), MHD_OPTION_END);
}
