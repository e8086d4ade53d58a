// POST "/register" on the content server through the shared WinINet handle; see
// register_request_win.h. A refused certificate gives a refusal that names why; every other
// network failure gives an empty answer, which the answer rules turn into the "could not reach
// the server" refusal. The HTTP status is not looked at: the
// body is the answer.
#include "ui/register_request_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/server_address.h"
#include "update/certificate_problem.h"
#include "ui/account_form.h"
#include "ui/account_window_win.h"

namespace {
constexpr const char* kFormHeader = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;

std::string ReadBody(HINTERNET request) {
  std::string answer;
  char chunk[1024];
  DWORD got = 0;
  while (InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) answer.append(chunk, got);
  return answer;
}

// Where the form goes: a plain address as it always did, an http:// or https:// one to its
// host and port (TLS with the certificate checked); none for an address of no known form.
bool FormTarget(std::string& host, unsigned short& port, DWORD& flags) {
  ServerAddress server = ParseServerAddress(g_server);
  flags = kRequestFlags;
  if (server.form == ServerForm::Invalid) return false;
  if (server.form == ServerForm::Plain) {
    SplitServerAddress(g_server, host, port);
    return true;
  }
  host = server.host;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  port = server.port;
  if (server.form == ServerForm::Https) flags |= INTERNET_FLAG_SECURE;
  return true;
}

// The refusal the window shows for a certificate problem, named as the log names it; empty
// when the failure was not about a certificate.
std::string CertificateRefusal(const std::string& host) {
  DWORD error = GetLastError();
  CertificateProblem problem = CertificateProblemOf(error);
  if (!problem.reason) return std::string();
  LogLine("Certificate of %s refused: %s (error %lu)", host.c_str(), problem.reason, static_cast<unsigned long>(error));
  return std::string("ERR The server's certificate was refused: ") + problem.reason + ".";
}

std::string PostForm(const std::string& body) {
  std::string host;
  unsigned short port = 0;
  DWORD flags = 0;
  if (!FormTarget(host, port, flags)) return std::string();
  HINTERNET connection =
      InternetConnectA(g_net, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection) return std::string();
  std::string answer;
  HINTERNET request = HttpOpenRequestA(connection, "POST", "/register", nullptr, nullptr, nullptr, flags, 0);
  if (request) {
    if (HttpSendRequestA(request, kFormHeader, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                         static_cast<DWORD>(body.size()))) {
      answer = ReadBody(request);
    } else {
      answer = CertificateRefusal(host);
    }
    InternetCloseHandle(request);
  }
  InternetCloseHandle(connection);
  return answer;
}
}  // namespace

DWORD WINAPI RegisterThread(void* parameter) {
  RegisterRequest* request = static_cast<RegisterRequest*>(parameter);
  std::string answer = NormalizeAccountAnswer(PostForm(request->body));
  HWND window = request->window;
  delete request;
  // A window closed meanwhile drops the answer; a reopened one did not ask for it.
  if (g_accWnd.load() != window) return 0;
  std::string* owned = new std::string(answer);
  if (!PostMessageA(window, kMsgAccountReply, 0, reinterpret_cast<LPARAM>(owned))) delete owned;
  return 0;
}
