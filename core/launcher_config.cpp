// KMLauncher.cfg byte logic; see launcher_config.h.
#include "core/launcher_config.h"
#include "core/text.h"
#include <algorithm>

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

constexpr const char* kSpeedCapKey = "maxdownloadkbps";

// Sets value from one line when the line sets key (lower case) to something non-empty.
void ApplyKeyLine(std::string line, const char* key, std::string& value) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  size_t equals = line.find('=');
  if (equals == std::string::npos) return;
  if (Lower(line.substr(0, equals)) != key) return;
  std::string found = line.substr(equals + 1);
  if (!found.empty()) value = found;
}

// The text in the pieces the launcher's 512-byte line buffer reads it in.
std::vector<std::string> LinePieces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && end - pos < kLinePieceMax) {
      if (text[end++] == '\n') break;
    }
    pieces.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return pieces;
}
}  // namespace

void ApplyConfigLine(std::string line, std::string& server) { ApplyKeyLine(std::move(line), "server", server); }

std::string ServerFromConfigText(const std::string& text, const std::string& current) {
  std::string server = current;
  for (const std::string& piece : LinePieces(text)) ApplyConfigLine(piece, server);
  return server;
}

std::string ConfigValueFromText(const std::string& text, const char* key) {
  std::string value;
  for (const std::string& piece : LinePieces(text)) ApplyKeyLine(piece, key, value);
  return value;
}

bool ParseSpeedCap(const std::string& value, uint32_t& kilobytesPerSecond) {
  if (value.empty() || value.size() > 10) return false;
  uint64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > kMaxSpeedCap) return false;
  kilobytesPerSecond = static_cast<uint32_t>(number);
  return true;
}

namespace {
// The text's physical lines, each with its line feed (the last one may have none).
std::vector<std::string> PhysicalLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

bool SetsServer(const std::string& line) {
  std::string server;
  for (const std::string& piece : LinePieces(line)) ApplyConfigLine(piece, server);
  return !server.empty();
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}
}  // namespace

std::string WithSpeedCap(const std::string& text, uint32_t kilobytesPerSecond) {
  std::string kept;
  for (const std::string& line : PhysicalLines(text)) {
    std::string setting;
    ApplyKeyLine(line.substr(0, kLinePieceMax), kSpeedCapKey, setting);
    if (setting.empty()) kept += line;
  }
  if (!kept.empty() && kept.back() != '\n') kept += '\n';
  // The reader takes the last value: one at the very end wins over any the lines above hide.
  return kept + "MaxDownloadKBps=" + std::to_string(kilobytesPerSecond) + "\n";
}

bool IsChannelName(const std::string& name) {
  if (name.empty() || name.size() > kMaxChannelName || name == "live") return false;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!plain) return false;
  }
  return true;
}

bool ReportsWanted(const std::string& value) { return value != "0"; }

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

std::string RewrittenConfigText(ConfigTemplate which, const std::string& server, const std::string& oldText) {
  std::string text = LauncherConfigText(which, server);
  std::vector<std::string> own = PhysicalLines(LauncherConfigText(ConfigTemplate::Startup, server));
  for (std::string& line : own) line = WithoutLineEnd(line);
  for (const std::string& line : PhysicalLines(oldText)) {
    if (SetsServer(line)) continue;
    if (std::find(own.begin(), own.end(), WithoutLineEnd(line)) != own.end()) continue;
    text += line;
    if (text.back() != '\n') text += '\n';
  }
  return text;
}
