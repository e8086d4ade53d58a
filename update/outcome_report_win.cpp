// Sending the outcome report; see outcome_report_win.h.
#include "update/outcome_report_win.h"
#include "core/globals_win.h"
#include "core/launcher_config_file_win.h"
#include "core/server_address.h"
#include "update/outcome_report.h"
#include "update/release_choice_win.h"
#include <atomic>

namespace {
constexpr DWORD kReportTimeoutMs = 3000;
constexpr const char* kFormHeader = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_COOKIES;

DWORD g_passStart = 0;
uint64_t g_bytesToFetch = 0;
bool g_crcFailure = false;
std::atomic<bool> g_reportOnItsWay{false};

struct PendingReport {
  std::string host;
  unsigned short port = 0;
  DWORD flags = kRequestFlags;
  std::string body;
};

// The content server's host and port, as the account form reaches it.
bool ReportTarget(PendingReport& report) {
  ServerAddress server = ParseServerAddress(g_server);
  if (server.form == ServerForm::Invalid) return false;
  if (server.form == ServerForm::Plain) {
    // "address[:port]", port 80 without one, as the account form reads it.
    size_t colon = g_server.find(':');
    report.host = g_server.substr(0, colon);
    report.port = colon == std::string::npos ? 80 : static_cast<unsigned short>(atoi(g_server.c_str() + colon + 1));
    return true;
  }
  report.host = server.host;
  if (report.host.size() > 2 && report.host.front() == '[') report.host = report.host.substr(1, report.host.size() - 2);
  report.port = server.port;
  if (server.form == ServerForm::Https) report.flags |= INTERNET_FLAG_SECURE;
  return true;
}

void SetTimeouts(HINTERNET handle) {
  DWORD timeout = kReportTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(handle, option, &timeout, sizeof timeout);
  }
}

// A session of its own, so the report's time-outs are its own and shutdown closing g_net
// never pulls a handle from under it.
void Post(const PendingReport& report) {
  HINTERNET session = InternetOpenA("KMLauncher/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) return;
  SetTimeouts(session);
  HINTERNET connection =
      InternetConnectA(session, report.host.c_str(), report.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request =
      connection ? HttpOpenRequestA(connection, "POST", "/report", nullptr, nullptr, nullptr, report.flags, 0) : nullptr;
  if (request) {
    HttpSendRequestA(request, kFormHeader, static_cast<DWORD>(-1), const_cast<char*>(report.body.data()),
                     static_cast<DWORD>(report.body.size()));
    InternetCloseHandle(request);
  }
  if (connection) InternetCloseHandle(connection);
  InternetCloseHandle(session);
}

DWORD WINAPI ReportThread(void* parameter) {
  PendingReport* report = static_cast<PendingReport*>(parameter);
  Post(*report);
  delete report;
  g_reportOnItsWay = false;
  return 0;
}
}  // namespace

void BeginOutcomeReport() {
  g_passStart = GetTickCount();
  g_bytesToFetch = 0;
  g_crcFailure = false;
}

void NoteBytesToFetch(uint64_t bytes) { g_bytesToFetch = bytes; }

void NoteCrcFailure() { g_crcFailure = true; }

void SendOutcomeReport(Phase phase, const std::string& headline) {
  if (!g_reportOutcomes) return;
  std::string release = ReleaseChosen();
  if (release.empty()) return;  // no release seen: nothing an operator could count it under
  OutcomeReport report;
  report.release = release;
  report.channel = g_channel.empty() ? "live" : g_channel;
  report.percent = RolloutPercentSeen();
  report.outcome = ClassifyPassEnd(phase, headline, g_crcFailure, g_bytesToFetch);
  report.bytes = g_bytesToFetch;
  report.seconds = (GetTickCount() - g_passStart) / 1000;
  auto* pending = new PendingReport;
  pending->body = FormatOutcomeReport(report);
  if (!ReportTarget(*pending) || g_reportOnItsWay.exchange(true)) {
    delete pending;
    return;
  }
  HANDLE thread = CreateThread(nullptr, 0, ReportThread, pending, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    delete pending;
    g_reportOnItsWay = false;
  }
}
