// The server: libmicrohttpd with a few event threads (epoll), each serving many connections;
// file bodies go out with sendfile, account creation runs on worker threads while its
// connection is parked, so a download or a slow client never holds up anyone else's request.
// Connections are kept alive (pipelined requests answered in order) up to a number of
// requests each. The library guards the edges (connections in all, idle time-out, the size
// of a request head); an accept check holds each address but a trusted proxy to its share of
// connections, and a watch thread adds a deadline for the whole head, on a kept connection
// counted from the end of the answer before. With --tls-cert the library speaks TLS through
// GnuTLS. Signals are taken by the main thread with sigwait: SIGHUP reopens the log and
// reloads the TLS credentials, SIGINT/SIGTERM stop accepting and let running answers finish
// up to a deadline.
#include "tools/kmcontent/serve.h"
#include "core/text.h"
#include "tools/kmcontent/access_log.h"
#include "tools/kmcontent/account_backend.h"
#include "tools/kmcontent/accounts.h"
#include "tools/kmcontent/address_limit.h"
#include "tools/kmcontent/client_address.h"
#include "tools/kmcontent/connection_watch.h"
#include "tools/kmcontent/request_path.h"
#include "tools/kmcontent/serve_reports.h"
#include "tools/kmcontent/listen_socket.h"
#include "tools/kmcontent/metrics_endpoint.h"
#include "tools/kmcontent/request_log.h"
#include "tools/kmcontent/serve_files.h"
#include "tools/kmcontent/serve_register.h"
#include "tools/kmcontent/tls_credentials.h"
#include <algorithm>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Server {
  ServeOptions options;
  RegisterService* accounts = nullptr;
  AccountStore* store = nullptr;
  ConnectionWatch watch;
  ServeMetrics metrics;
  MetricsSource metricsSource{&metrics, std::string()};
  std::unique_ptr<AddressLimit> perAddress;
  MetricsGuard metricsGuard;           // the metrics listener's own limit and watch
  std::unique_ptr<ReportDesk> reports;
  int metricsPort = 0;                 // the one taken
  std::atomic<bool> draining{false};   // answers say Connection: close
  std::atomic<bool> stopping{false};
};

WatchedConnection* WatchOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<WatchedConnection*>(info->socket_context);
}

int SocketOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info == nullptr ? -1 : info->connect_fd;
}

std::string PeerAddress(MHD_Connection* connection, int& port) {
  port = 0;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "?";
  return SocketAddressText(info->client_addr, port);
}

// Before the library takes a connection: the per-address limit.
MHD_Result AcceptConnection(void* cls, const struct sockaddr* address, socklen_t) {
  auto* server = static_cast<Server*>(cls);
  int port = 0;
  if (server->perAddress->Admit(SocketAddressText(address, port))) return MHD_YES;
  server->metrics.Refuse(Refusal::PerClient);
  return MHD_NO;
}

void NotifyConnection(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code) {
  auto* server = static_cast<Server*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    WatchedConnection* watched = server->watch.Add(SocketOf(connection));
    int port = 0;
    watched->address = PeerAddress(connection, port);
    *socketContext = watched;
    server->metrics.connections++;
    server->metrics.openConnections++;
  } else if (*socketContext != nullptr) {
    auto* watched = static_cast<WatchedConnection*>(*socketContext);
    server->perAddress->Release(watched->address);
    server->watch.Remove(watched);
    *socketContext = nullptr;
    server->metrics.openConnections--;
  }
}

void* RequestLineArrived(void* cls, const char* uri, MHD_Connection* connection) {
  auto* server = static_cast<Server*>(cls);
  auto* request = new ServeRequest;
  request->start = Clock::now();
  request->target = uri;
  if (WatchedConnection* watched = WatchOf(connection)) server->watch.RequestLineArrived(watched);
  return request;
}

void FirstCall(Server* server, MHD_Connection* connection, ServeRequest* request, const char* method) {
  request->handled = true;
  request->method = method;
  int port = 0;
  std::string peer = PeerAddress(connection, port);
  request->client = ClientAddress(peer, HeaderValue(connection, "X-Forwarded-For"), server->options.trustedProxy);
  bool v6 = request->client.find(':') != std::string::npos;
  request->remote = (v6 ? "[" + request->client + "]" : request->client) +
                    (request->client == peer ? ":" + std::to_string(port) : std::string());
  request->ackedAtStart = BytesAcked(SocketOf(connection));
  WatchedConnection* watched = WatchOf(connection);
  request->closeAfter = watched != nullptr && watched->requests >= server->options.requestsPerConnection;
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

MHD_Result AnswerHealth(Server* server, MHD_Connection* connection, ServeRequest* request) {
  struct stat info;
  if (stat((server->options.releaseDir + "/manifest").c_str(), &info) != 0) {
    return QueueText(connection, request, MHD_HTTP_SERVICE_UNAVAILABLE, "no release\n", "unhealthy: no manifest");
  }
  if (server->store != nullptr && !AccountStoreReachable(server->store)) {
    return QueueText(connection, request, MHD_HTTP_SERVICE_UNAVAILABLE, "no account store\n",
                     "unhealthy: account store");
  }
  return QueueText(connection, request, MHD_HTTP_OK, "ok\n");
}

MHD_Result Route(Server* server, MHD_Connection* connection, ServeRequest* request, const char* uploadData,
                 size_t* uploadSize) {
  std::string path = PathOf(request->target);
  bool read = request->method == "GET" || request->method == "HEAD";
  if (path == "/register" && request->method == "POST" && server->accounts != nullptr) {
    return AnswerRegister(server->accounts, connection, request, uploadData, uploadSize);
  }
  if (path == "/report" && request->method == "POST") {
    return AnswerReport(server->reports.get(), connection, request, uploadData, uploadSize);
  }
  *uploadSize = 0;  // no other route takes a body
  if (!read) return QueueText(connection, request, MHD_HTTP_NOT_FOUND, "Not found\n");
  std::string releaseDir = server->options.releaseDir;
  std::string target = request->target;
  std::string channel;
  if (SplitChannelTarget(request->target, channel, target)) {
    releaseDir += "/channels/" + channel;
    path = PathOf(target);
  }
  bool live = channel.empty();
  if (path == "/manifest") {
    return AnswerManifest(connection, request, live ? server->reports->halt->ManifestFolder() : releaseDir);
  }
  if (path == "/healthz" && live) return AnswerHealth(server, connection, request);
  if (path == "/metrics" && live && server->options.metricsPublic) {
    return AnswerMetrics(connection, request, server->metricsSource);
  }
  if (StartsWith(path, "/files/") || StartsWith(path, "/releases/")) {
    return AnswerReleaseFile(connection, request, releaseDir, target);
  }
  return QueueText(connection, request, MHD_HTTP_NOT_FOUND, "Not found\n");
}

// Whether the request says a body follows.
bool DeclaresBody(MHD_Connection* connection) {
  std::string length = HeaderValue(connection, "Content-Length");
  return (!length.empty() && length != "0") || !HeaderValue(connection, "Transfer-Encoding").empty();
}

// A declared body over the limit is refused before any of it is read.
bool BodyTooLarge(Server* server, MHD_Connection* connection) {
  std::string length = HeaderValue(connection, "Content-Length");
  uint64_t bytes = 0;
  for (char c : length) {
    if (c < '0' || c > '9' || bytes > server->options.maxBodyBytes) break;
    bytes = bytes * 10 + static_cast<uint64_t>(c - '0');
  }
  return bytes > server->options.maxBodyBytes;
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char*, const char* method, const char*,
                  const char* uploadData, size_t* uploadSize, void** context) {
  auto* server = static_cast<Server*>(cls);
  auto* request = static_cast<ServeRequest*>(*context);
  if (request == nullptr) return MHD_NO;
  if (!request->handled) {
    FirstCall(server, connection, request, method);
    if (BodyTooLarge(server, connection)) {
      server->metrics.Refuse(Refusal::BodyTooLarge);
      return QueueText(connection, request, MHD_HTTP_CONTENT_TOO_LARGE, "Request too large\n", "refused: body too large");
    }
    // The library keeps a connection only when the answer is queued after the first call, and
    // takes an answer during a body only at its end; a body no route reads is answered at once.
    if (request->method != "POST" && !DeclaresBody(connection)) return MHD_YES;
  }
  if (server->draining) request->closeAfter = true;
  MHD_Result result = Route(server, connection, request, uploadData, uploadSize);
  // The deadline covers the head and a body: it ends once the request is answered or parked.
  if (!request->received && (request->status != 0 || request->registerState != 0)) {
    request->received = true;
    if (WatchedConnection* watched = WatchOf(connection)) server->watch.HeadComplete(watched);
  }
  return result;
}

void RequestCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode code) {
  auto* server = static_cast<Server*>(cls);
  auto* request = static_cast<ServeRequest*>(*context);
  *context = nullptr;
  if (request == nullptr) return;
  RequestLogEntry entry;
  entry.when = time(nullptr);
  int port = 0;
  entry.remote = request->remote.empty() ? PeerAddress(connection, port) + ":" + std::to_string(port) : request->remote;
  entry.method = request->method.empty() ? "-" : request->method;
  entry.target = request->target;
  entry.status = request->status;
  entry.seconds = std::chrono::duration<double>(Clock::now() - request->start).count();
  entry.note = request->handled ? request->note : "refused: request head not accepted";
  bool complete = code == MHD_REQUEST_TERMINATED_COMPLETED_OK;
  entry.bytes = request->bodyLength;
  if (!complete && request->handled) {
    // Cut off: count what the peer acknowledged beyond the head, never more than the body.
    uint64_t now = BytesAcked(SocketOf(connection));
    uint64_t acked = now > request->ackedAtStart ? now - request->ackedAtStart : 0;
    entry.bytes = acked > request->headBytes ? std::min(acked - request->headBytes, request->bodyLength) : 0;
    entry.note = entry.note.empty() ? "aborted" : entry.note + " aborted";
  }
  server->metrics.CountRequest(entry.status, entry.bytes);
  if (!request->handled) server->metrics.Refuse(Refusal::HeadNotAccepted);
  WriteAccessLog(FormatRequestLogLine(entry));  // after counting: a request in the log is in the counters
  if (request->handled) {
    if (WatchedConnection* watched = WatchOf(connection)) server->watch.AnswerComplete(watched);
  }
  delete request;
}

std::atomic<bool> g_started{false};

// The library's reasons for not starting; once running, what it reports is about single
// connections (a closed socket, a refused head), which the request log already shows.
void LogLibraryError(void*, const char* format, va_list args) {
  if (g_started) return;
  fputs("kmcontent serve: ", stderr);
  vfprintf(stderr, format, args);
}

unsigned EventThreads(const ServeOptions& options) {
  if (options.threads != 0) return options.threads;
  return std::max(2u, std::thread::hardware_concurrency());
}

bool UsesTls(const ServeOptions& options) { return !options.tlsCert.empty(); }

// The library passes the pointer on to GnuTLS untyped; this line keeps the type checked.
gnutls_certificate_retrieve_function2* const kCertificateCallback = CurrentTlsCredentials;

MHD_Daemon* StartDaemon(Server& server, int listenFd) {
  const ServeOptions& o = server.options;
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  MHD_OptionItem plain[] = {{MHD_OPTION_END, 0, nullptr}};
  MHD_OptionItem tls[] = {
      {MHD_OPTION_HTTPS_CERT_CALLBACK, 0, reinterpret_cast<void*>(kCertificateCallback)},
      {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)},
      {MHD_OPTION_END, 0, nullptr}};
  if (UsesTls(o)) flags |= MHD_USE_TLS;
  return MHD_start_daemon(
      flags, 0, AcceptConnection, &server, Handle, &server, MHD_OPTION_EXTERNAL_LOGGER, LogLibraryError, nullptr,
      MHD_OPTION_ARRAY, UsesTls(o) ? tls : plain, MHD_OPTION_LISTEN_SOCKET, listenFd,
      MHD_OPTION_THREAD_POOL_SIZE, EventThreads(o), MHD_OPTION_CONNECTION_LIMIT, o.maxConnections,
      MHD_OPTION_CONNECTION_TIMEOUT, o.idleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(o.maxHeaderBytes),
      MHD_OPTION_CONNECTION_MEMORY_INCREMENT, static_cast<size_t>(1024), MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u,
      MHD_OPTION_URI_LOG_CALLBACK, RequestLineArrived, &server, MHD_OPTION_NOTIFY_COMPLETED, RequestCompleted,
      &server, MHD_OPTION_NOTIFY_CONNECTION, NotifyConnection, &server, MHD_OPTION_END);
}

// Cuts late heads and too slow answers, also on the metrics listener, four times a second
// until the server stops.
void WatchHeads(Server* server) {
  const ServeOptions& o = server->options;
  auto deadline = std::chrono::seconds(o.headSeconds);
  auto window = std::chrono::seconds(o.rateWindowSeconds);
  while (!server->stopping) {
    size_t late = server->watch.CutLate(deadline) + server->metricsGuard.watch.CutLate(deadline);
    server->metrics.refusals[static_cast<int>(Refusal::HeadLate)] += late;
    server->metrics.refusals[static_cast<int>(Refusal::AnswerSlow)] += server->watch.CutSlow(o.minRateBytes, window);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

sigset_t BlockServeSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return signals;
}

// SIGHUP: a rotated log, a renewed certificate. A certificate that cannot be read keeps the
// one in use, so a mistake in a renewal never takes the server down.
void Reload(const ServeOptions& options) {
  ReopenAccessLog();
  if (!UsesTls(options)) return;
  std::string error;
  if (!LoadTlsCredentials(options.tlsCert, options.tlsKey, error)) {
    fprintf(stderr, "kmcontent serve: TLS credentials not reloaded, the old ones stay: %s\n", error.c_str());
  }
}

void WaitForStop(const ServeOptions& options, const sigset_t& signals) {
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received != SIGHUP) return;
    Reload(options);
  }
}

// No new connections; answers under way may finish until the deadline or a second signal.
void Drain(Server& server, MHD_Daemon* daemon, const sigset_t& signals) {
  server.draining = true;
  MHD_socket listener = MHD_quiesce_daemon(daemon);
  if (listener != MHD_INVALID_SOCKET) close(listener);
  auto end = Clock::now() + std::chrono::seconds(server.options.drainSeconds);
  struct timespec tick = {0, 100 * 1000 * 1000};
  while (server.watch.Busy() > 0 && Clock::now() < end) {
    int received = sigtimedwait(&signals, nullptr, &tick);
    if (received == SIGINT || received == SIGTERM) break;
    if (received == SIGHUP) Reload(server.options);
  }
}

// Many connections each hold a socket and an open file.
void RaiseFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool CheckRelease(const std::string& release) {
  struct stat info;
  if (stat(release.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    fprintf(stderr, "kmcontent serve: %s is not a folder\n", release.c_str());
    return false;
  }
  if (stat((release + "/manifest").c_str(), &info) != 0) {
    fprintf(stderr, "kmcontent serve: warning: %s has no manifest yet (run kmcontent publish)\n", release.c_str());
  }
  return true;
}

bool LoadTls(const ServeOptions& options) {
  if (!UsesTls(options)) return true;
  std::string error;
  if (LoadTlsCredentials(options.tlsCert, options.tlsKey, error)) return true;
  fprintf(stderr, "kmcontent serve: %s\n", error.c_str());
  return false;
}

bool OpenStores(Server& server) {
  const ServeOptions& options = server.options;
  if (!options.logPath.empty() && !OpenAccessLog(options.logPath)) {
    fprintf(stderr, "kmcontent serve: cannot open the log %s: %s\n", options.logPath.c_str(), strerror(errno));
    return false;
  }
  if (!options.accounts) return true;
  std::string error;
  server.store = OpenAccountStore(options.accountsPath, error);
  if (server.store == nullptr) {
    fprintf(stderr, "kmcontent serve: cannot open the account database %s\n", error.c_str());
    return false;
  }
  server.accounts = StartRegisterService(server.store, options, &server.metrics);
  return true;
}

void CloseStores(Server& server) {
  StopRegisterService(server.accounts);
  CloseAccountStore(server.store);
}

void PrintStarted(const Server& server, int port) {
  const ServeOptions& options = server.options;
  bool v6 = options.host.find(':') != std::string::npos;
  std::string accounts = options.accounts ? "accounts in " + AccountStoreDescription(options.accountsPath) : "no accounts";
  printf("kmcontent: serving %s on %s://%s%s%s:%d/ (%s)\n", options.releaseDir.c_str(),
         UsesTls(options) ? "https" : "http", v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "", port,
         accounts.c_str());
  if (server.metricsPort != 0) {
    printf("kmcontent: metrics on http://%s:%d/metrics\n", options.metricsHost.c_str(), server.metricsPort);
  }
  fflush(stdout);
}

// The listener of /metrics, when one is asked for; false when it cannot start.
bool StartMetrics(Server& server, MHD_Daemon*& daemon) {
  const ServeOptions& options = server.options;
  daemon = nullptr;
  if (options.metricsHost.empty()) return true;
  std::string error;
  int port = 0;
  int fd = OpenListenSocket(options.metricsHost, options.metricsPort, port, error);
  server.metricsGuard.perAddress.reset(new AddressLimit(MetricsPerAddress(options.perClientConnections), {}));
  if (fd >= 0) daemon = StartMetricsDaemon(fd, &server.metricsSource, &server.metricsGuard);
  if (daemon != nullptr) {
    server.metricsPort = port;
    return true;
  }
  if (fd >= 0) close(fd);
  fprintf(stderr, "kmcontent serve: cannot serve metrics on %s:%d: %s\n", options.metricsHost.c_str(),
          options.metricsPort, error.empty() ? "the HTTP server could not start" : error.c_str());
  return false;
}

}  // namespace

int RunServe(const ServeOptions& options) {
  if (!CheckRelease(options.releaseDir)) return 1;
  sigset_t signals = BlockServeSignals();  // before any thread starts, so all inherit it
  RaiseFileLimit();
  if (!LoadTls(options)) return 1;
  Server server;
  server.options = options;
  server.metricsSource.releaseDir = options.releaseDir;
  server.reports = std::make_unique<ReportDesk>(options.reportPerMinute);
  server.reports->releaseDir = options.releaseDir;
  HaltRule rule;
  rule.above = options.haltAbove;
  rule.minReports = options.haltMinReports;
  ParseFailingOutcomes(options.haltOutcomes, rule.failing);
  server.reports->halt = std::make_unique<ReleaseHalt>(rule, options.releaseDir);
  if (rule.above > 0 && IsPostgresUri(options.accountsPath) && options.accounts) {
    std::string error;
    HaltStore* store = OpenPostgresHaltStore(options.accountsPath, error);
    if (store == nullptr) {
      fprintf(stderr, "kmcontent serve: cannot keep rollout counts in the account database: %s\n", error.c_str());
      return 1;
    }
    server.reports->halt->Share(std::unique_ptr<HaltStore>(store));
  }
  server.metricsSource.halt = server.reports->halt.get();
  server.metricsSource.reports = &server.reports->book;
  server.perAddress.reset(new AddressLimit(options.perClientConnections, AddressList(options.trustedProxy)));
  std::string error;
  int port = 0;
  int listenFd = OpenListenSocket(options.host, options.port, port, error);
  if (listenFd < 0) {
    fprintf(stderr, "kmcontent serve: cannot listen on %s:%d: %s\n", options.host.c_str(), options.port, error.c_str());
    return 1;
  }
  if (!OpenStores(server)) {
    close(listenFd);
    CloseStores(server);
    return 1;
  }
  MHD_Daemon* daemon = StartDaemon(server, listenFd);
  if (daemon == nullptr) {
    fprintf(stderr, "kmcontent serve: the HTTP server could not start\n");
    close(listenFd);
    CloseStores(server);
    return 1;
  }
  MHD_Daemon* metricsDaemon = nullptr;
  if (!StartMetrics(server, metricsDaemon)) {
    MHD_stop_daemon(daemon);
    CloseStores(server);
    return 1;
  }
  g_started = true;
  std::thread watcher(WatchHeads, &server);
  PrintStarted(server, port);
  WaitForStop(options, signals);
  Drain(server, daemon, signals);
  server.stopping = true;
  watcher.join();
  StopRegisterService(server.accounts);
  server.accounts = nullptr;
  MHD_stop_daemon(daemon);
  if (metricsDaemon != nullptr) MHD_stop_daemon(metricsDaemon);
  CloseAccountStore(server.store);
  return 0;
}
