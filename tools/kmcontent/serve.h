// serve: the content server of one release tree, plus the account server. Runs until
// SIGINT or SIGTERM; every answered request is one line of the request log. SIGHUP reopens
// the log and reloads the TLS certificate and key.
#pragma once
#include "core/base.h"

struct ServeOptions {
  std::string releaseDir;
  std::string host = "127.0.0.1";
  int port = 25858;                     // 0: any free port (the one taken is printed)
  std::string accountsPath = "accounts.db";  // a file, or a postgresql:// URI
  bool accounts = true;                 // false: no account server, /register is 404
  std::string logPath;                  // empty: standard output
  unsigned threads = 0;                 // event threads; 0: one per CPU (two at least)
  unsigned maxConnections = 1000;
  unsigned perClientConnections = 64;   // connections from one address at once
  unsigned maxBodyBytes = 8192;         // larger request bodies are refused with 413
  unsigned maxHeaderBytes = 16384;      // a larger request head is refused with 431
  unsigned headSeconds = 10;            // the whole request head must arrive within this
  unsigned idleSeconds = 30;            // a connection without any progress is closed
  unsigned minRateBytes = 1024;         // an answer slower than this a second over the window is cut
  unsigned rateWindowSeconds = 60;      // ... measured over this long
  unsigned drainSeconds = 30;           // on SIGTERM, running downloads may finish this long
  unsigned requestsPerConnection = 1000;  // then the answer says Connection: close
  std::string trustedProxy;             // X-Forwarded-For is believed only from these addresses (a, b)
  unsigned registerPerMinute = 20;      // accounts one address may create per minute (burst too)
  unsigned registerAnswerMs = 500;      // every account answer that hashes takes at least this
  unsigned reportPerMinute = 30;        // outcome reports one address may send per minute (burst too)
  double haltAbove = 0;                 // failure share that halts the current release; 0: never
  unsigned haltMinReports = 20;
  std::string haltOutcomes = "certificate,crc,failed";
  std::string tlsCert, tlsKey;          // both set: HTTPS only, with these PEM files
  std::string metricsHost;              // empty: no listener of its own for /metrics
  int metricsPort = 0;
  bool metricsPublic = false;           // /metrics also on the public listen address
};

// Exit code: 0 after a clean stop, 1 when the server could not start.
int RunServe(const ServeOptions& options);
