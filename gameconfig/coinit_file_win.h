// coinit.tmp on disk, in the game folder: reading it for the settings window, writing it
// whole through ".new", and setting the game server address after an update pass.
//
// Two threads rewrite the file: the update worker (ApplyGameServer) and the window thread
// (opening the settings window, and its Save). Each read-write-move runs under the coinit
// lock, so one writer never moves its ".new" over the other's half-done work. The lock is
// recursive: the settings Save holds a CoinitLock across its ReadCoinit ... WriteCoinit.
#pragma once
#include "core/base.h"
#include "gameconfig/coinit.h"

void EnterCoinitLock();
void LeaveCoinitLock();

// Holds the coinit lock for its lifetime.
class CoinitLock {
 public:
  CoinitLock() { EnterCoinitLock(); }
  ~CoinitLock() { LeaveCoinitLock(); }
  CoinitLock(const CoinitLock&) = delete;
  CoinitLock& operator=(const CoinitLock&) = delete;
};

// g_exeDir + "coinit.tmp".
std::string CoinitPath();

// Reads the encrypted part (ten CR LF-terminated lines) and the five plain values. False
// only when the file cannot be opened; the outputs are then unchanged. An empty file gives
// five empty fields and the defaults.
bool ReadCoinit(std::string& encrypted, std::string plain[kCoinitPlainCount]);

// Replaces coinit.tmp whole with the content. False on failure, after logging
// "Cannot write %s" (the ".new" path) or "Cannot replace coinit.tmp (error %lu)".
bool WriteCoinit(const std::string& content);

// Makes field 5 hold the game server address (g_manifestGameServer), creating the file
// when it is missing or empty; leaves it alone for a content server on this PC. Reports
// only through the log.
void ApplyGameServer(const std::string& gameServer);
