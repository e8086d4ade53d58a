// HTTP access; see http_win.h.
#include "update/http_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/server_address.h"
#include "update/certificate_problem.h"
#include "update/line_scan.h"

namespace {
// No cookies: the content server and mirrors use none, and looking them up in the cookie
// store costs several milliseconds a request under Wine, more than a small file's transfer.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES;  // 0x844C0300

// A manifest of a million files is under 100 MB; a longer answer is a broken or hostile
// server, and reading it on would only exhaust the player's memory.
constexpr size_t kMaxTextBody = 256u << 20;

// False when a read failed or the body outgrew kMaxTextBody.
bool ReadWholeBody(HINTERNET request, std::string& body) {
  char chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request, chunk, CappedReadSize(sizeof chunk), &got)) return false;
    Downloaded(got);
    if (got == 0) return true;
    if (body.size() + got > kMaxTextBody) return false;
    body.append(chunk, got);
  }
}

// The Content-Length header as a number; false when the answer has none (chunked or
// ended by closing the connection).
bool AnnouncedLength(HINTERNET request, uint64_t& length) {
  char text[32] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  size_t pos = 0;
  return ScanDecimal64(text, pos, length);
}

// The error of the last request this thread could not open.
thread_local DWORD t_lastOpenError = 0;

// "host[:port]" of an absolute URL.
std::string AuthorityOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find('/', start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

void OpenInternet() {
  g_net = InternetOpenA("KMLauncher/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  DWORD timeout = 15000;
  InternetSetOptionA(g_net, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(g_net, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  // Downloads run ahead on several connections to one server or proxy (fetch_ahead_win.h):
  // through a proxy or to an https server up to 12 for small files, 4 for mid-size ones and 8
  // for a big file the pass shares, all to one server. Windows would hold back any beyond
  // this limit, and the line would seem slower than it is to the connections that wait.
  DWORD connections = 32;
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
}

DWORD LastOpenError() { return t_lastOpenError; }

std::string FullUrl(const std::string& url) {
  if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) return url;
  return ParseServerAddress(g_server).base + url;
}

bool ConnectsDirectly() {
  INTERNET_PER_CONN_OPTIONA option = {};
  option.dwOption = INTERNET_PER_CONN_FLAGS;
  INTERNET_PER_CONN_OPTION_LISTA list = {};
  list.dwSize = sizeof list;
  list.dwOptionCount = 1;
  list.pOptions = &option;
  DWORD size = sizeof list;
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return false;
  return option.Value.dwValue == PROXY_TYPE_DIRECT;
}

HINTERNET OpenUrl(const std::string& url, const std::string& headers, DWORD& status) {
  const char* extra = headers.empty() ? nullptr : headers.c_str();
  DWORD extraLength = headers.empty() ? 0 : static_cast<DWORD>(-1);
  std::string full = FullUrl(url);
  HINTERNET request = InternetOpenUrlA(g_net, full.c_str(), extra, extraLength, kRequestFlags, 0);
  t_lastOpenError = request ? 0 : GetLastError();
  CertificateProblem problem = CertificateProblemOf(t_lastOpenError);
  if (problem.reason) {
    LogLine("Certificate of %s refused: %s (error %lu)", AuthorityOf(full).c_str(), problem.reason,
            static_cast<unsigned long>(t_lastOpenError));
  }
  status = 0;
  if (request) {
    DWORD size = sizeof status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  }
  return request;
}

bool HttpGetText(const std::string& url, std::string& body) {
  DWORD status = 0;
  HINTERNET request = OpenUrl(url, std::string(), status);
  if (!request) return false;
  if (status != 200) {
    InternetCloseHandle(request);
    return false;
  }
  body.clear();
  bool whole = ReadWholeBody(request, body);
  uint64_t announced = 0;
  if (whole && AnnouncedLength(request, announced) && body.size() != announced) whole = false;
  InternetCloseHandle(request);
  return whole;
}
