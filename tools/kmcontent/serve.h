// serve: the content server of one release tree, plus the account server. Runs until
// SIGINT or SIGTERM; every answered request is one line of the request log.
#pragma once
#include "core/base.h"

struct ServeOptions {
  std::string releaseDir;
  std::string host = "127.0.0.1";
  int port = 25858;                     // 0: any free port (the one taken is printed)
  std::string accountsPath = "accounts.db";
  std::string logPath;                  // empty: standard output
  unsigned threads = 64;                // connections served at once
  unsigned maxBodyBytes = 8192;         // larger request bodies are refused with 413
};

// Exit code: 0 after a clean stop, 1 when the server could not start.
int RunServe(const ServeOptions& options);
