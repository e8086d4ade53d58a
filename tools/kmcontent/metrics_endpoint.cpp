// /metrics; see metrics_endpoint.h.
#include "tools/kmcontent/metrics_endpoint.h"
#include "tools/kmcontent/listen_socket.h"
#include "tools/kmcontent/release_halt.h"
#include "tools/kmcontent/report_book.h"
#include <algorithm>
#include <fstream>

namespace {

constexpr unsigned kMetricsSlots = 64;

std::string ServedVersion(const std::string& releaseDir) {
  std::ifstream manifest(releaseDir + "/manifest", std::ios::binary);
  char head[512] = {};
  manifest.read(head, sizeof head - 1);
  return ManifestVersion(std::string(head, static_cast<size_t>(manifest.gcount())));
}

WatchedConnection* WatchOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<WatchedConnection*>(info->socket_context);
}

struct MetricsRequest {
  bool first = true;
};

MHD_Result Admit(void* cls, const struct sockaddr* address, socklen_t) {
  int port = 0;
  return static_cast<MetricsGuard*>(cls)->perAddress->Admit(SocketAddressText(address, port)) ? MHD_YES : MHD_NO;
}

void Notify(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code) {
  auto* guard = static_cast<MetricsGuard*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    WatchedConnection* watched = guard->watch.Add(fd == nullptr ? -1 : fd->connect_fd);
    int port = 0;
    watched->address = peer == nullptr || peer->client_addr == nullptr ? "?" : SocketAddressText(peer->client_addr, port);
    *socketContext = watched;
  } else if (*socketContext != nullptr) {
    auto* watched = static_cast<WatchedConnection*>(*socketContext);
    guard->perAddress->Release(watched->address);
    guard->watch.Remove(watched);
    *socketContext = nullptr;
  }
}

void* RequestLine(void* cls, const char*, MHD_Connection* connection) {
  if (WatchedConnection* watched = WatchOf(connection)) static_cast<MetricsGuard*>(cls)->watch.RequestLineArrived(watched);
  return new MetricsRequest;
}

void Completed(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
  delete static_cast<MetricsRequest*>(*context);
  *context = nullptr;
  if (WatchedConnection* watched = WatchOf(connection)) static_cast<MetricsGuard*>(cls)->watch.AnswerComplete(watched);
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t* uploadSize, void** context) {
  auto* guard = static_cast<MetricsGuard*>(cls);
  auto* pending = static_cast<MetricsRequest*>(*context);
  if (pending == nullptr) return MHD_NO;
  if (pending->first) {  // answered on the second call, so the connection may be kept
    pending->first = false;
    return MHD_YES;
  }
  *uploadSize = 0;
  if (WatchedConnection* watched = WatchOf(connection)) guard->watch.HeadComplete(watched);
  ServeRequest request;
  request.method = method;
  if (strcmp(url, "/metrics") != 0 || (request.method != "GET" && request.method != "HEAD")) {
    return QueueText(connection, &request, MHD_HTTP_NOT_FOUND, "Not found\n");
  }
  return AnswerMetrics(connection, &request, *guard->source);
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

unsigned MetricsPerAddress(unsigned perClient) { return std::min(perClient, kMetricsSlots / 4); }

MHD_Daemon* StartMetricsDaemon(int listenFd, const MetricsSource* source, MetricsGuard* guard) {
  guard->source = source;
  return MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG, 0, Admit, guard, Handle,
                          guard, MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_CONNECTION_LIMIT, kMetricsSlots,
                          MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                          static_cast<size_t>(16384), MHD_OPTION_URI_LOG_CALLBACK, RequestLine, guard,
                          MHD_OPTION_NOTIFY_COMPLETED, Completed, guard, MHD_OPTION_NOTIFY_CONNECTION, Notify, guard,
                          MHD_OPTION_END);
}
