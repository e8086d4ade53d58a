// Fuzzes the reading of answer heads as the pipelined downloads meet them, cut anywhere, and
// checks what the reader of a stream relies on: a complete head lies within the bytes read and
// reads the same from exactly its own bytes, and no prefix of it is complete.
#include "update/http_wire.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  ResponseHead head;
  size_t length = 0;
  if (ReadResponseHead(text, size, head, length) != HeadRead::Complete) return 0;
  if (length == 0 || length > size || length > kMaxResponseHead) abort();
  if (head.status < 200 || head.status > 999) abort();
  ResponseHead again;
  size_t againLength = 0;
  if (ReadResponseHead(text, length, again, againLength) != HeadRead::Complete || againLength != length ||
      again.status != head.status || again.bodyLength != head.bodyLength || again.closes != head.closes) {
    abort();
  }
  if (ReadResponseHead(text, length - 1, again, againLength) == HeadRead::Complete) abort();
  return 0;
}
