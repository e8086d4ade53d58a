// coinit.tmp on disk; see coinit_file_win.h. The byte work is in coinit.cpp.
#include "gameconfig/coinit_file_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/replace_file_win.h"
#include <windows.h>

namespace {

// Built on first use; C++ makes that first use safe from two threads.
CRITICAL_SECTION& CoinitSection() {
  struct Section {
    CRITICAL_SECTION cs;
    Section() { InitializeCriticalSection(&cs); }
  };
  static Section section;
  return section.cs;
}

void CreateCoinit(const std::string& gameServer) {
  std::string content;
  CoinitCreate result = NewCoinitContent(g_server, gameServer, content);
  if (result == CoinitCreate::ServerTooLong) {
    LogLine("Content server address too long for coinit.tmp: %s", g_server.c_str());
    return;
  }
  if (result == CoinitCreate::CannotEncrypt) {
    LogLine("Could not encrypt coinit.tmp");
    return;
  }
  LogLine("Created coinit.tmp with game server %s", gameServer.c_str());
  WriteCoinit(content);
}

void UpdateCoinit(const std::string& content, const std::string& gameServer) {
  std::string newContent;
  std::string oldValue;
  GameServerEdit edit = SetGameServerField(content, gameServer, newContent, oldValue);
  if (edit == GameServerEdit::AlreadySet) return;
  if (edit == GameServerEdit::CannotEncrypt) {
    LogLine("Could not encrypt the game server address");
    return;
  }
  LogLine("Game server address set to %s (was %s)", gameServer.c_str(),
          LoggableFieldValue(oldValue).c_str());
  WriteCoinit(newContent);
}

}  // namespace

void EnterCoinitLock() { EnterCriticalSection(&CoinitSection()); }

void LeaveCoinitLock() { LeaveCriticalSection(&CoinitSection()); }

std::string CoinitPath() { return g_exeDir + kCoinitFileName; }

bool ReadCoinit(std::string& encrypted, std::string plain[kCoinitPlainCount]) {
  CoinitLock lock;
  std::string content;
  if (!ReadWholeFile(CoinitPath(), content)) return false;
  ParseCoinit(content, encrypted, plain);
  return true;
}

bool WriteCoinit(const std::string& content) {
  CoinitLock lock;
  std::string path = CoinitPath();
  DWORD error = 0;
  ReplaceResult result = ReplaceFileWhole(path, content, &error);
  if (result == ReplaceResult::CannotWriteNew) {
    LogLine("Cannot write %s", (path + ".new").c_str());
    return false;
  }
  if (result == ReplaceResult::CannotMove) {
    LogLine("Cannot replace coinit.tmp (error %lu)", static_cast<unsigned long>(error));
    return false;
  }
  return true;
}

void ApplyGameServer(const std::string& gameServer) {
  if (gameServer.empty()) return;
  if (IsLocalContentServer(g_server)) {
    LogLine("Content server is on this PC - leaving the game server address in coinit.tmp alone");
    return;
  }
  if (gameServer.size() > kCoinitMaxFieldChars) {
    LogLine("Game server address too long for coinit.tmp: %s", gameServer.c_str());
    return;
  }
  CoinitLock lock;
  std::string content;
  if (!ReadWholeFile(CoinitPath(), content)) content.clear();
  if (content.empty()) {
    CreateCoinit(gameServer);
  } else {
    UpdateCoinit(content, gameServer);
  }
}
