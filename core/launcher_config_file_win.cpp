// KMLauncher.cfg on disk; the byte rules live in launcher_config.cpp.
#include "core/launcher_config_file_win.h"
#include "core/download_cap_win.h"
#include "core/globals_win.h"
#include "core/log.h"

namespace {
// Text mode turns CR LF into LF, as the rules expect.
bool ReadTextFile(const std::string& path, std::string& text) {
  FILE* file = fopen(path.c_str(), "r");
  if (!file) return false;
  char chunk[4096];
  for (;;) {
    size_t got = fread(chunk, 1, sizeof chunk, file);
    if (got == 0) break;
    text.append(chunk, got);
  }
  fclose(file);
  return true;
}

void ApplySpeedCap(const std::string& value) {
  if (value.empty()) return;
  uint32_t cap = 0;
  if (!ParseSpeedCap(value, cap)) {
    LogLine("Ignoring MaxDownloadKBps=%s in KMLauncher.cfg: not a whole number of KB/s up to %u", value.c_str(),
            static_cast<unsigned>(kMaxSpeedCap));
    return;
  }
  SetDownloadCap(cap);
  if (cap > 0) LogLine("Downloads limited to %u KB/s", static_cast<unsigned>(cap));
}

// A name that cannot be a channel leaves the launcher on the live channel rather than
// asking the server for a path it made up.
void ApplyChannel(const std::string& value) {
  if (value.empty()) return;
  if (!IsChannelName(value)) {
    LogLine("Ignoring Channel=%s in KMLauncher.cfg: 1 to %u of a-z, 0-9, - and _ (following the live channel)",
            value.c_str(), static_cast<unsigned>(kMaxChannelName));
    return;
  }
  g_channel = value;
  LogLine("Following the release channel %s", value.c_str());
}
}  // namespace

std::string g_channel;
bool g_reportOutcomes = true;

void WriteLauncherConfig(const std::string& path, ConfigTemplate which, const std::string& server) {
  std::string old;
  ReadTextFile(path, old);
  FILE* file = fopen(path.c_str(), "w");
  if (!file) return;
  fputs(RewrittenConfigText(which, server, old).c_str(), file);
  fclose(file);
}

void LoadLauncherConfig(const std::string& path, bool installMode) {
  std::string text;
  if (!ReadTextFile(path, text)) {
    if (!installMode) WriteLauncherConfig(path, ConfigTemplate::Startup, g_server);
    return;
  }
  g_server = ServerFromConfigText(text, g_server);
  ApplySpeedCap(ConfigValueFromText(text, "maxdownloadkbps"));
  ApplyChannel(ConfigValueFromText(text, "channel"));
  g_reportOutcomes = ReportsWanted(ConfigValueFromText(text, "report"));
  if (IsTunnelledServer(g_server)) {
    g_server = kDefaultServer;
    WriteLauncherConfig(path, ConfigTemplate::Startup, g_server);
  }
}

bool SaveSpeedCap(const std::string& path, uint32_t kilobytesPerSecond) {
  std::string text;
  if (!ReadTextFile(path, text)) text = LauncherConfigText(ConfigTemplate::Startup, g_server);
  FILE* file = fopen(path.c_str(), "w");
  if (!file) return false;
  std::string changed = WithSpeedCap(text, kilobytesPerSecond);
  bool written = fwrite(changed.data(), 1, changed.size(), file) == changed.size();
  return fclose(file) == 0 && written;
}
