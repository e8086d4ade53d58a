// Fuzzes the packed form reader as the launcher feeds it: the input's first two bytes give
// the file's size in blocks and the piece size, the rest is the packed form. Whatever the
// bytes, the inflater never hands on more than the file's size, never more than a block at
// once, and a packed form it calls complete gave exactly the file's size.
#include "update/packed_form.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint64_t rawSize = uint64_t(data[0] % 5) * kPackedBlockSize + data[0] * 37u;
  size_t piece = 1 + data[1] * 61u;
  data += 2;
  size -= 2;
  uint64_t given = 0;
  BlockInflater inflater(rawSize, [&given](const uint8_t*, size_t bytes) {
    if (bytes > kPackedBlockSize) abort();
    given += bytes;
    return true;
  });
  for (size_t at = 0; at < size; at += piece) {
    if (!inflater.Feed(data + at, std::min(piece, size - at))) break;
  }
  if (given > rawSize || (inflater.Complete() && given != rawSize)) abort();
  return 0;
}
