// The launcher's own HTTP framing: which URLs it carries itself, and answer heads read from a
// stream of pipelined answers, cut anywhere.
#include "update/http_wire.h"
#include <gtest/gtest.h>

namespace {
HeadRead Read(const std::string& text, ResponseHead& head, size_t& length) {
  return ReadResponseHead(text.data(), text.size(), head, length);
}

HeadRead Read(const std::string& text) {
  ResponseHead head;
  size_t length = 0;
  return Read(text, head, length);
}
}  // namespace

TEST(HttpWire, PlainHttpUrlsOnlyAreSplit) {
  std::string authority, target;
  ASSERT_TRUE(SplitHttpUrl("http://127.0.0.1:8080/files/maps/new%20area.dat", authority, target));
  EXPECT_EQ(authority, "127.0.0.1:8080");
  EXPECT_EQ(target, "/files/maps/new%20area.dat");
  EXPECT_TRUE(SplitHttpUrl("http://[::1]:25858/m/a_b-c~d.pak", authority, target));
  EXPECT_TRUE(SplitHttpUrl("http://cdn.example.com/k/v12/x", authority, target));
  std::string host, port;
  SplitAuthority("[::1]:25858", host, port);
  EXPECT_EQ(host + " " + port, "::1 25858");
  SplitAuthority("cdn.example.com", host, port);
  EXPECT_EQ(host + " " + port, "cdn.example.com 80");

  // Left to WinINet: other schemes, credentials, odd ports, and targets it might rewrite.
  for (const char* url : {"https://h/x", "HTTP://h/x", "http://h", "http://user@h/x", "http://h:0/x", "http://h:99999/x",
                          "http://h:/x", "http://:80/x", "http://[zz]/x", "http://h/a b", "http://h/x?y", "http://h/x#y",
                          "http://h/a/../b", "http://h/./b", "http://h/a/..", "http://h/%zz", "http://h/%4",
                          "http://h/\x01", "http://h/a\\b"}) {
    EXPECT_FALSE(SplitHttpUrl(url, authority, target)) << url;
  }
}

TEST(HttpWire, PipelinedAnswersAreFramedWhereverTheStreamIsCut) {
  const std::string first = "HTTP/1.1 200 OK\r\nServer: x\r\ncontent-length: 5\r\n\r\nhello";
  const std::string second = "HTTP/1.1 404 Not Found\r\nContent-Length:  3 \r\nConnection: keep-alive, Close\r\n\r\nno!";
  const std::string stream = first + second;
  for (size_t cut = 0; cut <= stream.size(); cut++) {
    ResponseHead head;
    size_t length = 0;
    std::string arrived = stream.substr(0, cut);
    HeadRead read = Read(arrived, head, length);
    size_t firstHead = first.size() - 5;
    ASSERT_EQ(read, cut < firstHead ? HeadRead::Incomplete : HeadRead::Complete) << cut;
    if (read != HeadRead::Complete) continue;
    EXPECT_EQ(length, firstHead);
    EXPECT_EQ(head.status, 200u);
    EXPECT_EQ(head.bodyLength, 5u);
    EXPECT_FALSE(head.closes);
  }
  ResponseHead head;
  size_t length = 0;
  ASSERT_EQ(Read(second, head, length), HeadRead::Complete);
  EXPECT_EQ(head.status, 404u);
  EXPECT_EQ(head.bodyLength, 3u);
  EXPECT_TRUE(head.closes);
  EXPECT_EQ(second.substr(length), "no!");

  // HTTP/1.0 closes unless it says keep-alive; bare line feeds are read too; no body for 204.
  ASSERT_EQ(Read("HTTP/1.0 200 OK\nContent-Length: 1\n\nx", head, length), HeadRead::Complete);
  EXPECT_TRUE(head.closes);
  EXPECT_EQ(length, 35u);
  ASSERT_EQ(Read("HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n", head, length),
            HeadRead::Complete);
  EXPECT_FALSE(head.closes);
  ASSERT_EQ(Read("HTTP/1.1 204 No Content\r\n\r\n", head, length), HeadRead::Complete);
  EXPECT_EQ(head.bodyLength, 0u);
}

TEST(HttpWire, AnswersAPipelineCannotFrameAreUnusable) {
  for (const char* text :
       {"HTTP/1.1 200 OK\r\n\r\n",                                               // ends with the connection
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",                 // chunked
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: x\r\n\r\n",  // both
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",     // two lengths
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "HTTP/1.1 100 Continue\r\n\r\n",                                         // interim answer
        "HTTP/1.1 200 OK\r\n folded: line\r\n\r\n", "HTTP/1.1 200 OK\r\nno colon\r\n\r\n",
        "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n", "HTTP/2 200\r\n\r\n", "HTTP/1.1 20 OK\r\n\r\n",
        "HTTP/1.1 2000 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "\r\n"}) {
    EXPECT_EQ(Read(text), HeadRead::Unusable) << text;
  }
  std::string endless = "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxResponseHead, 'a');
  EXPECT_EQ(Read(endless), HeadRead::Unusable);
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nX: " + std::string(kMaxResponseHead / 2, 'a')), HeadRead::Incomplete);
}
