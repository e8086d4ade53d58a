// Fuzzes the content server address of KMLauncher.cfg: any text is either refused with a
// reason, or gives a base URL that starts with its scheme and names a port within range.
#include "core/server_address.h"
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ServerAddress address = ParseServerAddress(text);
  if (address.form == ServerForm::Invalid) {
    if (!address.problem || !address.problem[0] || !address.base.empty()) abort();
    return 0;
  }
  if (address.host.empty() || address.port == 0) abort();
  const std::string scheme = address.form == ServerForm::Https ? "https://" : "http://";
  if (address.base.compare(0, scheme.size(), scheme) != 0) abort();
  if (address.base.find_first_of(" \t\r\n/?#@", scheme.size()) != std::string::npos) abort();
  return 0;
}
