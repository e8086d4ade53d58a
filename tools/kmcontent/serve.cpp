// The server: cpp-httplib with a thread pool of its own size (a download holds its thread
// for as long as it runs, so 50 concurrent downloads need 50 threads; the library's default
// is the number of CPUs), the file routes, POST /register, and the request log.
// Signals are taken by one thread with sigwait, which then stops the server. SIGPIPE stays
// ignored (the library's constructor does it too): a client that disconnects mid-download
// must only end its own connection.
#include "tools/kmcontent/serve.h"
#include "tools/kmcontent/accounts.h"
#include "tools/kmcontent/request_log.h"
#include "tools/kmcontent/request_note.h"
#include "tools/kmcontent/serve_files.h"
#include <csignal>
#include <httplib.h>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>

namespace {

std::mutex g_logLock;
FILE* g_log = stdout;

void WriteLogLine(const std::string& line) {
  std::lock_guard<std::mutex> hold(g_logLock);
  fwrite(line.data(), 1, line.size(), g_log);
  fflush(g_log);
}

void LogRequest(const httplib::Request& req, const httplib::Response& res) {
  RequestNote& note = CurrentRequestNote();
  RequestLogEntry entry;
  entry.when = time(nullptr);
  entry.remote = req.remote_addr + ":" + std::to_string(req.remote_port);
  entry.method = req.method;
  entry.target = req.target;
  entry.status = res.status;
  entry.bytes = note.streamed ? note.bytes : (req.method == "HEAD" ? 0 : res.body.size());
  if (note.started) {
    entry.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - note.start).count();
  }
  entry.note = note.note;
  std::string range = res.get_header_value("Content-Range");  // "bytes 0-99/1000"
  if (!range.empty()) {
    std::string bytes = "range " + range.substr(range.find(' ') + 1);
    entry.note = entry.note.empty() ? bytes : bytes + " " + entry.note;
  }
  note = RequestNote();
  WriteLogLine(FormatRequestLogLine(entry));
}

httplib::Server::HandlerResponse StartRequest(const httplib::Request&, httplib::Response&) {
  RequestNote& note = CurrentRequestNote();
  note = RequestNote();
  note.start = std::chrono::steady_clock::now();
  note.started = true;
  return httplib::Server::HandlerResponse::Unhandled;
}

void AddAccountRoute(httplib::Server& server, AccountStore* store) {
  server.Post("/register", [store](const httplib::Request& req, httplib::Response& res) {
    std::string answer = RegisterAccount(store, req.body);
    if (answer.compare(0, 2, "OK") == 0) CurrentRequestNote().note = "account created";
    res.set_content(answer + "\r\n", "text/plain; charset=utf-8");
  });
}

void Configure(httplib::Server& server, const ServeOptions& options, AccountStore* store) {
  unsigned threads = options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_payload_max_length(options.maxBodyBytes);
  server.set_keep_alive_max_count(100);  // the launcher fetches file after file on one connection
  server.set_write_timeout(30, 0);       // a slow player's connection, not a dead one
  server.set_pre_routing_handler(StartRequest);
  server.set_logger(LogRequest);
  AddFileRoutes(server, options.releaseDir);
  AddAccountRoute(server, store);
}

// Blocks the stop signals in every thread created after it, then waits for one.
void StartSignalThread(httplib::Server& server) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::thread([&server, stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
  }).detach();
}

bool Bind(httplib::Server& server, const ServeOptions& options, int& port) {
  if (options.port == 0) {
    port = server.bind_to_any_port(options.host);
    return port > 0;
  }
  port = options.port;
  return server.bind_to_port(options.host, options.port);
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

}  // namespace

RequestNote& CurrentRequestNote() {
  thread_local RequestNote note;
  return note;
}

int RunServe(const ServeOptions& options) {
  if (!CheckRelease(options.releaseDir)) return 1;
  if (!options.logPath.empty()) {
    g_log = fopen(options.logPath.c_str(), "a");
    if (g_log == nullptr) {
      fprintf(stderr, "kmcontent serve: cannot open the log %s: %s\n", options.logPath.c_str(), strerror(errno));
      return 1;
    }
  }
  std::string error;
  AccountStore* store = OpenAccountStore(options.accountsPath, error);
  if (store == nullptr) {
    fprintf(stderr, "kmcontent serve: cannot open the account database %s\n", error.c_str());
    return 1;
  }
  httplib::Server server;
  Configure(server, options, store);
  StartSignalThread(server);
  int port = 0;
  if (!Bind(server, options, port)) {
    fprintf(stderr, "kmcontent serve: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    CloseAccountStore(store);
    return 1;
  }
  bool v6 = options.host.find(':') != std::string::npos;
  printf("kmcontent: serving %s on http://%s%s%s:%d/ (accounts in %s)\n", options.releaseDir.c_str(),
         v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "", port, options.accountsPath.c_str());
  fflush(stdout);
  server.listen_after_bind();
  CloseAccountStore(store);
  return 0;
}
