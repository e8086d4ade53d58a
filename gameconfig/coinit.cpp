// coinit.tmp byte logic; see coinit.h.
#include "gameconfig/coinit.h"
#include "core/text.h"
#include "gameconfig/axcrypt.h"
#include <algorithm>

const char* const kCoinitFileName = "coinit.tmp";
const char* const kCoinitPassphrase = "zmxncbvlaksjdhfgpqowieurytzmxncb";
const char* const kCoinitPlainDefaults[kCoinitPlainCount] = {"0", "1", "1024", "768", "32"};

namespace {

// 512 holds any encrypted field; a decrypted field 5 of 64 characters fits 256 with room.
constexpr size_t kEncryptBuffer = 512;
constexpr size_t kDecryptBuffer = 256;

bool LineEndAt(const std::string& text, size_t pos) {
  return pos + 1 < text.size() && text[pos] == '\r' && text[pos + 1] == '\n';
}

bool IsTrailingJunk(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

bool Encrypt(const std::string& plain, std::string& text) {
  char buffer[kEncryptBuffer];
  if (ax_encrypt(kCoinitPassphrase, plain.c_str(), buffer, sizeof buffer) == 0) return false;
  text = buffer;
  return true;
}

}  // namespace

std::string CoinitField(const std::string& text, size_t& pos, int extraLines) {
  std::string field;
  if (LineEndAt(text, pos)) {
    pos += 2;
    return field;
  }
  int lineEnds = 0;
  while (pos < text.size()) {
    field += text[pos];
    pos++;
    if (!LineEndAt(text, pos)) continue;
    lineEnds++;
    if (lineEnds > extraLines) break;
  }
  pos = std::min(pos + 2, text.size());
  return field;
}

void ParseCoinit(const std::string& content, std::string& encrypted,
                 std::string plain[kCoinitPlainCount]) {
  size_t pos = 0;
  encrypted.clear();
  for (int i = 0; i < kCoinitFieldCount; i++) encrypted += CoinitField(content, pos, 1) + "\r\n";
  for (int i = 0; i < kCoinitPlainCount; i++) {
    std::string value = pos < content.size() ? CoinitField(content, pos, 0) : std::string();
    while (!value.empty() && IsTrailingJunk(value.back())) value.pop_back();
    plain[i] = value.empty() ? kCoinitPlainDefaults[i] : value;
  }
}

std::string CoinitContent(const std::string& encrypted, const std::string plain[kCoinitPlainCount]) {
  std::string content = encrypted;
  for (int i = 0; i < kCoinitPlainCount; i++) content += plain[i] + "\r\n";
  return content;
}

bool IsLocalContentServer(const std::string& server) {
  std::string host = Lower(server);
  // An http:// or https:// address names its host after the scheme.
  size_t scheme = host.find("://");
  if (scheme != std::string::npos) host.erase(0, scheme + 3);
  host = host.substr(0, host.find(':'));
  return host == "localhost" || StartsWith(host, "127.");
}

CoinitCreate NewCoinitContent(const std::string& server, const std::string& gameServer,
                              std::string& content) {
  if (server.size() > kCoinitMaxFieldChars) return CoinitCreate::ServerTooLong;
  const std::string values[kCoinitFieldCount] = {"player", "player", "KELMORRA", server, gameServer};
  std::string fields;
  for (const std::string& value : values) {
    std::string text;
    if (!Encrypt(value, text)) return CoinitCreate::CannotEncrypt;
    fields += text + "\r\n";
  }
  content = fields + "0\r\n1\r\n1024\r\n768\r\n32\r\n";
  return CoinitCreate::Created;
}

GameServerEdit SetGameServerField(const std::string& content, const std::string& gameServer,
                                  std::string& newContent, std::string& oldValue) {
  size_t pos = 0;
  std::string fields[kCoinitFieldCount];
  for (std::string& field : fields) field = CoinitField(content, pos, 1);
  char old[kDecryptBuffer] = {};
  ax_decrypt(kCoinitPassphrase, fields[4].c_str(), old, sizeof old);
  oldValue = old;
  if (oldValue == gameServer) return GameServerEdit::AlreadySet;
  std::string text;
  if (!Encrypt(gameServer, text)) return GameServerEdit::CannotEncrypt;
  newContent.clear();
  for (int i = 0; i < 4; i++) newContent += fields[i] + "\r\n";
  newContent += text + "\r\n";
  if (pos < content.size()) newContent.append(content, pos, std::string::npos);
  return GameServerEdit::Replaced;
}

std::string LoggableFieldValue(const std::string& value) {
  if (value.empty()) return "empty";
  std::string shown = value;
  for (char& c : shown) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return shown;
}
