// HTTP GET through the process's one WinINet handle: never from or into a cache, never any
// user interface, keep-alive allowed, 15 s connect and receive time-outs (set on g_net).
#pragma once
#include "core/base.h"
#include "core/download_cap_win.h"
#include <windows.h>
#include <wininet.h>

// Opens g_net with those time-outs and room for the connections the downloads run on.
void OpenInternet();

// Opens a GET request; a url without "http://" or "https://" is a path on g_server. status
// receives the HTTP status (0 when none could be read). Null when no request could be opened;
// a certificate refused on the way is logged with its reason and host.
HINTERNET OpenUrl(const std::string& url, const std::string& headers, DWORD& status);

// The system error of this thread's last OpenUrl that gave no request (0 after one that did).
DWORD LastOpenError();

// The whole body of a 200 answer; false (body untouched) for no answer or another status.
// A body cut short (a failed read, or fewer bytes than its Content-Length) or over 256 MiB
// is false too, with the partial body: a cut manifest must not pass for a smaller release.
bool HttpGetText(const std::string& url, std::string& body);

// The absolute URL OpenUrl requests for url; paths go to g_server (see server_address.h; an
// address that is none of its forms gives a URL no request can be made of).
std::string FullUrl(const std::string& url);

// True when g_net connects to servers directly: no proxy and no proxy discovery configured.
bool ConnectsDirectly();

// The body of an answer whose head has been read.
class AnswerBody {
 public:
  virtual ~AnswerBody() = default;
  // Reads up to size bytes; got is 0 at the end of the body. False when the read failed.
  virtual bool Read(unsigned char* buffer, DWORD size, DWORD& got) = 0;
};

// The body of a WinINet request.
class InternetBody : public AnswerBody {
 public:
  explicit InternetBody(HINTERNET request) : request_(request) {}
  bool Read(unsigned char* buffer, DWORD size, DWORD& got) override {
    if (!InternetReadFile(request_, buffer, CappedReadSize(size), &got)) return false;
    Downloaded(got);
    return true;
  }

 private:
  HINTERNET request_;
};
