// Pipelined GET requests; see http_pipeline_win.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include "update/http_pipeline_win.h"
#include "core/worker_flags.h"
#include <algorithm>

namespace {
// The same limits as g_net's connect and receive time-outs.
constexpr DWORD kSilenceLimitMs = 15000;
// How often a wait looks at the cancel flag.
constexpr long kWaitSliceMs = 100;
// One read takes in dozens of small answers.
constexpr size_t kBufferSize = 256 * 1024;
// A body left unread beyond this costs more to skip than a new connection.
constexpr uint64_t kMaxSkippedBody = 1u << 20;
const SOCKET kNoSocket = INVALID_SOCKET;
}  // namespace

HttpPipeline::HttpPipeline(const std::atomic<bool>& cancel)
    : cancel_(cancel), socket_(static_cast<uintptr_t>(kNoSocket)), buffer_(kBufferSize) {
  WSADATA data;
  winsock_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

HttpPipeline::~HttpPipeline() {
  Close();
  if (winsock_) WSACleanup();
}

void HttpPipeline::Close() {
  if (static_cast<SOCKET>(socket_) != kNoSocket) closesocket(static_cast<SOCKET>(socket_));
  socket_ = static_cast<uintptr_t>(kNoSocket);
  authority_.clear();
  begin_ = end_ = 0;
  unanswered_ = 0;
  bodyLeft_ = 0;
  closesAfterBody_ = false;
}

// Waits in short slices until the socket can be read (or written), for at most the silence
// limit. False on cancel, time-out or error.
bool HttpPipeline::WaitUntil(bool forWriting) {
  SOCKET s = static_cast<SOCKET>(socket_);
  DWORD start = GetTickCount();
  // A closing launcher waits for no server.
  while (!cancel_.load() && !QuitRequested()) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval slice = {0, kWaitSliceMs * 1000};
    int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &slice);
    if (count < 0 || FD_ISSET(s, &failed)) return false;
    if (count > 0) return true;
    if (GetTickCount() - start >= kSilenceLimitMs) return false;
  }
  return false;
}

bool HttpPipeline::Connect(const std::string& authority) {
  Close();
  if (!winsock_) return false;
  std::string host, port;
  SplitAuthority(authority, host, port);
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  for (addrinfo* address = found; address && !cancel_.load(); address = address->ai_next) {
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == kNoSocket) continue;
    u_long nonBlocking = 1;
    BOOL noDelay = TRUE;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    socket_ = static_cast<uintptr_t>(s);
    bool connected = connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK && WaitUntil(true)) {
      int error = 0;
      int length = sizeof error;
      connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
    }
    if (connected) break;
    Close();
  }
  freeaddrinfo(found);
  if (static_cast<SOCKET>(socket_) == kNoSocket) return false;
  authority_ = authority;
  return true;
}

bool HttpPipeline::SendAll(const std::string& text) {
  SOCKET s = static_cast<SOCKET>(socket_);
  for (size_t done = 0; done < text.size();) {
    int sent = send(s, text.data() + done, static_cast<int>(text.size() - done), 0);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
    } else if (sent < 0 && WSAGetLastError() == WSAEWOULDBLOCK && WaitUntil(true)) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool HttpPipeline::Send(const std::string& authority, const std::vector<std::string>& targets) {
  // Bytes beyond the last answer were never asked for: such a connection is not used again.
  bool reusable = static_cast<SOCKET>(socket_) != kNoSocket && authority == authority_ && unanswered_ == 0 &&
                  begin_ == end_;
  if (!reusable && !Connect(authority)) return false;
  std::string requests;
  for (const std::string& target : targets) requests += GetRequest(authority, target);
  bool kept = reusable;
  if (!SendAll(requests)) {
    // A kept connection the server has just closed: once more on a new one.
    if (!reusable || !Connect(authority) || !SendAll(requests)) {
      Close();
      return false;
    }
    kept = false;
  }
  unanswered_ = targets.size();
  reused_ = kept;
  heardSinceSend_ = false;
  return true;
}

// Appends what the socket has to the buffer, waiting for it. False at the end of the
// stream, on failure, on silence and on cancel.
bool HttpPipeline::Fill() {
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == buffer_.size()) {
    std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
    end_ -= begin_;
    begin_ = 0;
  }
  SOCKET s = static_cast<SOCKET>(socket_);
  for (;;) {
    DWORD room = CappedReadSize(static_cast<DWORD>(buffer_.size() - end_));
    int got = recv(s, buffer_.data() + end_, static_cast<int>(room), 0);
    if (got > 0) {
      Downloaded(static_cast<uint64_t>(got));
      end_ += static_cast<size_t>(got);
      heardSinceSend_ = true;
      return true;
    }
    if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !WaitUntil(false)) return false;
  }
}

bool HttpPipeline::NextHead(ResponseHead& head) {
  if (static_cast<SOCKET>(socket_) == kNoSocket || unanswered_ == 0 || bodyLeft_ > 0) return false;
  for (;;) {
    size_t headLength = 0;
    HeadRead read = ReadResponseHead(buffer_.data() + begin_, end_ - begin_, head, headLength);
    if (read == HeadRead::Complete) {
      begin_ += headLength;
      bodyLeft_ = head.bodyLength;
      closesAfterBody_ = head.closes;
      unanswered_--;
      return true;
    }
    if (read == HeadRead::Unusable || !Fill()) {
      Close();
      return false;
    }
  }
}

bool HttpPipeline::Read(unsigned char* buffer, DWORD size, DWORD& got) {
  got = 0;
  if (bodyLeft_ == 0) return true;
  if (begin_ == end_ && !Fill()) {
    Close();
    return false;
  }
  size_t count = std::min<uint64_t>({static_cast<uint64_t>(size), end_ - begin_, bodyLeft_});
  memcpy(buffer, buffer_.data() + begin_, count);
  begin_ += count;
  bodyLeft_ -= count;
  got = static_cast<DWORD>(count);
  return true;
}

bool HttpPipeline::EndAnswer() {
  if (static_cast<SOCKET>(socket_) == kNoSocket) return false;
  if (bodyLeft_ > kMaxSkippedBody) {
    Close();
    return false;
  }
  while (bodyLeft_ > 0) {
    unsigned char skipped[16384];
    DWORD got = 0;
    if (!Read(skipped, sizeof skipped, got)) return false;
  }
  if (closesAfterBody_) {
    Close();
    return false;
  }
  return true;
}
