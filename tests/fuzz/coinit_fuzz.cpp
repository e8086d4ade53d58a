// Fuzzes the coinit.tmp reader. Field splitting never leaves the text; content whose five
// fields are whole (each ended by its CR LF; an empty field may end the text) splits into
// fields and values that, written back the way the settings window writes them, read back
// the same; and setting the game server keeps its plain values (only for inputs whose
// selector byte is 0: it decrypts and encrypts a field). A file cut inside its fields has
// no such guarantee; the launcher never writes one (every write is ".new" and one move).
#include "gameconfig/coinit.h"
#include <cstdlib>

namespace {

void CheckFields(const std::string& text, int extraLines) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    std::string field = CoinitField(text, pos, extraLines);
    if (pos <= start || pos > text.size()) abort();
    if (text.compare(start, field.size(), field) != 0) abort();
  }
}

bool FieldsAreWhole(const std::string& content) {
  size_t pos = 0;
  for (int i = 0; i < kCoinitFieldCount; i++) {
    size_t start = pos;
    std::string field = CoinitField(content, pos, 1);
    if (!field.empty() && content.compare(start, field.size() + 2, field + "\r\n") != 0) return false;
  }
  return true;
}

void CheckRoundTrip(const std::string& content, std::string plain[kCoinitPlainCount]) {
  std::string encrypted;
  ParseCoinit(content, encrypted, plain);
  for (int i = 0; i < kCoinitPlainCount; i++) {
    if (plain[i].empty()) abort();
  }
  std::string again;
  std::string reread[kCoinitPlainCount];
  ParseCoinit(CoinitContent(encrypted, plain), again, reread);
  if (again != encrypted) abort();
  for (int i = 0; i < kCoinitPlainCount; i++) {
    if (reread[i] != plain[i]) abort();
  }
}

void CheckGameServer(const std::string& content, const std::string plain[kCoinitPlainCount]) {
  std::string newContent;
  std::string old;
  if (SetGameServerField(content, "game.example:7000", newContent, old) != GameServerEdit::Replaced) return;
  std::string encrypted;
  std::string reread[kCoinitPlainCount];
  ParseCoinit(newContent, encrypted, reread);
  for (int i = 0; i < kCoinitPlainCount; i++) {
    if (reread[i] != plain[i]) abort();
  }
  if (SetGameServerField(newContent, "game.example:7000", newContent, old) != GameServerEdit::AlreadySet) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckFields(content, 0);
  CheckFields(content, 1);
  if (!FieldsAreWhole(content)) return 0;
  std::string plain[kCoinitPlainCount];
  CheckRoundTrip(content, plain);
  if (data[0] == 0) CheckGameServer(content, plain);
  return 0;
}
