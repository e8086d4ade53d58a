// The halt's counts in PostgreSQL, shared by every serve instance given the same database;
// see release_halt.h. One connection, used by the halt's own thread only; a lost connection
// is re-established on the next statement.
#include "tools/kmcontent/postgres_statement.h"
#include "tools/kmcontent/release_halt.h"

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS rollout_reports (release_key TEXT PRIMARY KEY, total BIGINT NOT NULL, "
    "failing BIGINT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS rollout_halts (release_key TEXT PRIMARY KEY, halted_to TEXT NOT NULL, "
    "halted_at BIGINT NOT NULL)";

class PostgresHaltStore : public HaltStore {
 public:
  ~PostgresHaltStore() override { PQfinish(connection_); }

  bool Open(const std::string& uri, std::string& error) {
    connection_ = PQconnectdb(uri.c_str());
    if (PQstatus(connection_) != CONNECTION_OK) {
      error = PQerrorMessage(connection_);
      return false;
    }
    // Two instances starting at once may race to create the tables; the second try finds them.
    for (int attempt = 0; attempt < 2; attempt++) {
      PGresult* result = PQexec(connection_, kSchema);
      bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      if (!ok) error = PQresultErrorMessage(result);
      PQclear(result);
      if (ok) return true;
    }
    return false;
  }

  bool Add(const std::string& key, bool failing) override {
    return Command("INSERT INTO rollout_reports VALUES ($1, 1, $2) ON CONFLICT (release_key) DO UPDATE SET "
                   "total = rollout_reports.total + 1, failing = rollout_reports.failing + EXCLUDED.failing",
                   {key, failing ? "1" : "0"});
  }

  bool Halt(const std::string& key, const std::string& to) override {
    return Command("INSERT INTO rollout_halts VALUES ($1, $2, extract(epoch from now())::bigint) "
                   "ON CONFLICT (release_key) DO NOTHING",
                   {key, to});
  }

  bool Read(const std::string& key, uint64_t& total, uint64_t& failing, std::string& haltedTo) override {
    PGresult* result = Run("SELECT r.total, r.failing, h.halted_to FROM (SELECT $1::text AS release_key) k "
                           "LEFT JOIN rollout_reports r USING (release_key) LEFT JOIN rollout_halts h USING (release_key)",
                           {key});
    bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
    if (ok) {
      total = strtoull(PQgetvalue(result, 0, 0), nullptr, 10);
      failing = strtoull(PQgetvalue(result, 0, 1), nullptr, 10);
      haltedTo = PQgetvalue(result, 0, 2);
    }
    PQclear(result);
    return ok;
  }

 private:
  bool Command(const char* sql, const std::vector<std::string>& values) {
    PGresult* result = Run(sql, values);
    bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok) fprintf(stderr, "kmcontent serve: rollout counts: %s", PQresultErrorMessage(result));
    PQclear(result);
    return ok;
  }

  PGresult* Run(const char* sql, const std::vector<std::string>& values) {
    return RunStatement(connection_, sql, values);
  }

  PGconn* connection_ = nullptr;
};

}  // namespace

HaltStore* OpenPostgresHaltStore(const std::string& uri, std::string& error) {
  auto* store = new PostgresHaltStore;
  if (store->Open(uri, error)) return store;
  delete store;
  return nullptr;
}
