// Fuzzes the content server's readers of request heads: the Range plan never leaves the
// file, a refused or whole answer covers the file exactly, If-Range and If-None-Match only
// compare, the client address is the peer or a plain address taken from the header, and a
// target accepted as a file path is one the path rule accepts.
#include "tools/kmcontent/client_address.h"
#include "tools/kmcontent/range.h"
#include "tools/kmcontent/request_path.h"
#include "tools/kmcontent/validators.h"
#include <cstdlib>

namespace {

void CheckRange(const std::string& header, uint64_t size) {
  RangePlan plan = PlanRange(header, size);
  switch (plan.answer) {
    case RangeAnswer::Whole:
      if (plan.first != 0 || plan.length != size) abort();
      break;
    case RangeAnswer::Partial:
      if (plan.length == 0 || plan.first >= size || plan.length > size - plan.first) abort();
      if (ContentRangeValue(plan, size).compare(0, 6, "bytes ") != 0) abort();
      break;
    case RangeAnswer::Unsatisfiable:
      if (ContentRangeValue(plan, size) != "bytes */" + std::to_string(size)) abort();
      break;
  }
}

void CheckAddress(const std::string& forwarded) {
  std::string client = ClientAddress("10.0.0.1", forwarded, "10.0.0.1");
  if (client == "10.0.0.1") return;
  if (client.empty() || forwarded.find(client) == std::string::npos) abort();
  if (client.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos) abort();
  if (ClientAddress("10.0.0.2", forwarded, "10.0.0.1") != "10.0.0.2") abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  uint64_t fileSize = size > 0 ? (static_cast<uint64_t>(data[0]) << (data[0] % 48)) : 0;
  CheckRange(text, fileSize);
  CheckRange(text, 0);
  CheckAddress(text);
  const std::string tag = "\"1-2-3.4\"";
  if (IfRangeAllowsRange(text, tag, "x") && !text.empty() && text.find(tag) == std::string::npos &&
      text.find('x') == std::string::npos) {
    abort();
  }
  IfNoneMatchHits(text, tag);
  std::string path;
  if (FilePathFromTarget(text, path) && !IsServablePath(path)) abort();
  return 0;
}
