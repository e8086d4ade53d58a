// Fuzzes the startcfg.aut line reader. Any file reads into fifteen non-empty values; what
// the writer makes of it is CR LF text of at least 31 lines that, saved once more,
// stays the same.
#include "gameconfig/startcfg.h"
#include <cstdlib>

namespace {

std::string Resave(const std::string& bytes) {
  std::vector<std::string> lines = SplitCfgLines(bytes);
  std::string values[kCfgValueCount];
  CfgValuesFromLines(lines, values);
  for (const std::string& value : values) {
    if (value.empty() || value.find('\n') != std::string::npos) abort();
  }
  if (!lines.empty() && lines[0] != kCfgMarker) abort();
  return CfgContent(lines, values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string once = Resave(bytes);
  if (once.size() < 2 || once.compare(once.size() - 2, 2, "\r\n") != 0) abort();
  if (SplitCfgLines(once).size() < 31) abort();
  if (Resave(Resave(once)) != Resave(once)) abort();
  return 0;
}
