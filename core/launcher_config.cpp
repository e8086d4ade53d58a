// KMLauncher.cfg byte logic; see launcher_config.h.
#include "core/launcher_config.h"
#include "core/text.h"

// Operators bake their public content server into their build (cmake -DKM_DEFAULT_SERVER=...);
// without one the launcher looks on this PC, where the demo and a test server run.
#ifndef KM_DEFAULT_SERVER
#define KM_DEFAULT_SERVER "127.0.0.1:25858"
#endif
const char* const kDefaultServer = KM_DEFAULT_SERVER;
const char* const kTunnelHostSuffix = ".ngrok-free.app";

namespace {
// fgets with a 512-byte buffer returns at most 511 characters, a line break included.
constexpr size_t kLinePieceMax = 511;
}  // namespace

void ApplyConfigLine(std::string line, std::string& server) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  size_t equals = line.find('=');
  if (equals == std::string::npos) return;
  if (Lower(line.substr(0, equals)) != "server") return;
  std::string value = line.substr(equals + 1);
  if (!value.empty()) server = value;
}

std::string ServerFromConfigText(const std::string& text, const std::string& current) {
  std::string server = current;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && end - pos < kLinePieceMax) {
      if (text[end++] == '\n') break;
    }
    ApplyConfigLine(text.substr(pos, end - pos), server);
    pos = end;
  }
  return server;
}

bool IsTunnelledServer(const std::string& server) {
  return Lower(server).find(kTunnelHostSuffix) != std::string::npos;
}

std::string LauncherConfigText(ConfigTemplate which, const std::string& server) {
  std::string text = "; Kelmorra launcher\n";
  text += "; Content server (address:port) the launcher updates from.\n";
  if (which == ConfigTemplate::Startup) {
    text += "; On the server PC itself use Server=127.0.0.1:25858\n";
  }
  text += "Server=" + server + "\n";
  return text;
}
