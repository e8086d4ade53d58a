// serve's command line; see serve_options.h.
#include "tools/kmcontent/serve_options.h"
#include "tools/kmcontent/account_backend.h"
#include "tools/kmcontent/release_halt.h"
#include <libpq-fe.h>

const std::vector<OptionDef> kServeOptionDefs = {
    {"release", true},      {"listen", true},        {"accounts", true},        {"no-accounts", false},
    {"log", true},          {"threads", true},       {"max-connections", true}, {"per-client", true},
    {"max-body", true},     {"max-header", true},    {"head-timeout", true},    {"idle-timeout", true},
    {"drain", true},        {"trusted-proxy", true}, {"register-rate", true},   {"max-requests", true},
    {"tls-cert", true},     {"tls-key", true},       {"metrics-listen", true},  {"metrics-public", false},
    {"min-rate", true},     {"rate-window", true},
    {"report-rate", true},  {"halt-above", true},    {"min-reports", true},     {"halt-outcomes", true},
    {"help", false}};

const char kServeHelp[] =
    "kmcontent serve: serve a release tree over HTTP and create accounts.\n"
    "\n"
    "  --release RELEASE      the tree written by publish\n"
    "  --listen ADDR          host:port to listen on (default 127.0.0.1:25858; port 0: any free)\n"
    "  --accounts FILE|URI    SQLite account database (default accounts.db; created if missing),\n"
    "                         or postgresql://... to keep accounts in PostgreSQL (no password in\n"
    "                         it: libpq reads it from PGPASSFILE, ~/.pgpass or PGPASSWORD)\n"
    "  --no-accounts          no account server: POST /register is 404\n"
    "  --log FILE             append the request log here (default: standard output; SIGHUP reopens)\n"
    "  --threads N            event threads (default: one per CPU)\n"
    "  --max-connections N    connections at once (default 1000)\n"
    "  --per-client N         connections from one address at once (default 64; not for a trusted proxy)\n"
    "  --max-requests N       requests on one kept-alive connection (default 1000)\n"
    "  --max-body BYTES       largest request body accepted (default 8192; larger: 413)\n"
    "  --max-header BYTES     largest request head accepted (default 16384; larger: 431)\n"
    "  --head-timeout SECONDS a request head and body must arrive whole within this (default 10)\n"
    "  --idle-timeout SECONDS a connection without progress is closed (default 30)\n"
    "  --min-rate BYTES       an answer the client takes more slowly than this a second, over\n"
    "                         --rate-window SECONDS (default 60), is closed (default 1024)\n"
    "  --drain SECONDS        on SIGTERM, running downloads may finish this long (default 30)\n"
    "  --trusted-proxy ADDR   believe X-Forwarded-For from these addresses only (a,b)\n"
    "  --register-rate N      accounts one address may create per minute (default 20)\n"
    "  --tls-cert FILE        serve HTTPS only, with this PEM certificate chain (SIGHUP reloads it)\n"
    "  --tls-key FILE         and this PEM private key\n"
    "  --metrics-listen ADDR  host:port answering GET /metrics (Prometheus text), for monitoring only\n"
    "  --metrics-public       answer GET /metrics on --listen too\n"
    "  --report-rate N        launchers' outcome reports one address may send per minute (default 30)\n"
    "  --halt-above SHARE     halt the current release (answer /manifest with the release before)\n"
    "                         when this share (0 to 1) of its reports fail, after --min-reports N\n"
    "                         (default 20); failing: --halt-outcomes (default certificate,crc,failed)\n"
    "\n"
    "Answers GET/HEAD /manifest, /files/<path>, /releases/<release>/files/<path> (byte ranges),\n"
    "/releases/<release>/manifest, the same under /channels/<channel>/, /healthz, POST /register\n"
    "and POST /report (launchers' outcome reports, counted in /metrics). Stops on SIGINT or SIGTERM.\n";

namespace {

struct CountOption {
  const char* name;
  unsigned limit;
  unsigned ServeOptions::*field;
  unsigned least;
};

const CountOption kCounts[] = {
    {"threads", 256, &ServeOptions::threads, 1},
    {"max-connections", 100000, &ServeOptions::maxConnections, 1},
    {"per-client", 100000, &ServeOptions::perClientConnections, 1},
    {"max-body", 1 << 24, &ServeOptions::maxBodyBytes, 1},
    {"max-header", 1 << 20, &ServeOptions::maxHeaderBytes, 1024},
    {"head-timeout", 3600, &ServeOptions::headSeconds, 1},
    {"idle-timeout", 3600, &ServeOptions::idleSeconds, 1},
    {"min-rate", 1 << 30, &ServeOptions::minRateBytes, 1},
    {"rate-window", 3600, &ServeOptions::rateWindowSeconds, 1},
    {"drain", 3600, &ServeOptions::drainSeconds, 1},
    {"register-rate", 100000, &ServeOptions::registerPerMinute, 1},
    {"report-rate", 100000, &ServeOptions::reportPerMinute, 1},
    {"min-reports", 1000000, &ServeOptions::haltMinReports, 1},
    {"max-requests", 1000000, &ServeOptions::requestsPerConnection, 1},
};

std::string Value(const OptionValues& values, const char* name) {
  auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

// Whether libpq would find a password inside the connection string itself.
bool HoldsPassword(const std::string& uri) {
  char* message = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &message);
  PQfreemem(message);
  bool found = false;
  for (PQconninfoOption* option = parsed; option != nullptr && option->keyword != nullptr; option++) {
    found = found || (strcmp(option->keyword, "password") == 0 && option->val != nullptr && option->val[0] != '\0');
  }
  PQconninfoFree(parsed);
  return found;
}

bool TakeTls(const OptionValues& values, ServeOptions& options, std::string& error) {
  options.tlsCert = Value(values, "tls-cert");
  options.tlsKey = Value(values, "tls-key");
  if (options.tlsCert.empty() != options.tlsKey.empty()) return error = "--tls-cert and --tls-key go together", false;
  return true;
}

bool TakeMetrics(const OptionValues& values, ServeOptions& options, std::string& error) {
  options.metricsPublic = values.count("metrics-public") != 0;
  if (values.count("metrics-listen") == 0) return true;
  if (!ParseListenAddress(Value(values, "metrics-listen"), options.metricsHost, options.metricsPort)) {
    return error = "--metrics-listen must be host:port, e.g. 127.0.0.1:9358", false;
  }
  return true;
}

bool TakeHalt(const OptionValues& values, ServeOptions& options, std::string& error) {
  if (values.count("halt-outcomes") != 0) options.haltOutcomes = Value(values, "halt-outcomes");
  unsigned mask = 0;
  if (!ParseFailingOutcomes(options.haltOutcomes, mask)) {
    return error = "--halt-outcomes must list outcome classes: done, uptodate, offline, certificate, diskspace, "
                   "held, crc, failed (e.g. crc,failed)", false;
  }
  if (values.count("halt-above") == 0) return true;
  std::string text = Value(values, "halt-above");
  char* end = nullptr;
  double share = strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(share > 0 && share < 1)) {
    return error = "--halt-above must be a share between 0 and 1, e.g. 0.05 for 5 %", false;
  }
  options.haltAbove = share;
  return true;
}

}  // namespace

bool ServeOptionsFromValues(const OptionValues& values, ServeOptions& options, std::string& error) {
  if (values.count("release") == 0) return error = "--release is required", false;
  options.releaseDir = Value(values, "release");
  if (values.count("listen") != 0 && !ParseListenAddress(Value(values, "listen"), options.host, options.port)) {
    return error = "--listen must be host:port, e.g. 127.0.0.1:25858 or [::1]:25858", false;
  }
  if (values.count("accounts") != 0 && values.count("no-accounts") != 0) {
    return error = "--accounts and --no-accounts exclude each other", false;
  }
  if (values.count("accounts") != 0) options.accountsPath = Value(values, "accounts");
  if (IsPostgresUri(options.accountsPath) && HoldsPassword(options.accountsPath)) {
    error = "--accounts must not hold the database password: every local user can read a command line.\n"
            "Put the password in a password file (~/.pgpass, or the file PGPASSFILE or passfile= names,\n"
            "mode 0600), or in PGPASSWORD in the server's environment (systemd: EnvironmentFile=)";
    return false;
  }
  options.accounts = values.count("no-accounts") == 0;
  options.logPath = Value(values, "log");
  options.trustedProxy = Value(values, "trusted-proxy");
  if (!TakeTls(values, options, error) || !TakeMetrics(values, options, error) || !TakeHalt(values, options, error)) {
    return false;
  }
  for (const CountOption& count : kCounts) {
    if (values.count(count.name) == 0) continue;
    unsigned value = 0;
    if (!ParseCount(Value(values, count.name), count.limit, value) || value < count.least) {
      error = std::string("--") + count.name + " must be a number from " + std::to_string(count.least) + " to " +
              std::to_string(count.limit);
      return false;
    }
    options.*count.field = value;
  }
  return true;
}
