// Accounts in PostgreSQL, for several servers sharing one account database. One connection
// under a mutex (statements are short; hashing happens outside), re-established when the
// database went away. The UNIQUE constraint on name_key decides races between servers:
// a unique violation (SQLSTATE 23505) is a taken name. Commits are synchronous (the
// server's default), so an account answered OK is on the database's disk.
#include "tools/kmcontent/account_backend.h"
#include "tools/kmcontent/postgres_statement.h"
#include <ctime>
#include <mutex>

namespace {

const char kSchema[] = "CREATE TABLE IF NOT EXISTS accounts (id BIGSERIAL PRIMARY KEY," KM_ACCOUNTS_COLUMNS;
const char kUniqueViolation[] = "23505";
const char kDuplicateTable[] = "42P07";

std::string SqlState(PGresult* result) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  return state != nullptr ? state : "";
}

class PostgresAccounts : public AccountBackend {
 public:
  ~PostgresAccounts() override { PQfinish(connection_); }

  bool Open(const std::string& uri, std::string& error) {
    connection_ = PQconnectdb(uri.c_str());
    if (PQstatus(connection_) != CONNECTION_OK) {
      error = PQerrorMessage(connection_);
      while (!error.empty() && error.back() == '\n') error.pop_back();
      return false;
    }
    // Two servers starting at once may both create the table; one of them then finds it made.
    for (int attempt = 0; attempt < 2; attempt++) {
      PGresult* result = PQexec(connection_, kSchema);
      bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      std::string state = SqlState(result);
      if (!ok) error = PQresultErrorMessage(result);
      PQclear(result);
      if (ok) return true;
      if (state != kUniqueViolation && state != kDuplicateTable) return false;
    }
    return false;
  }

  bool NameExists(const std::string& key) override {
    std::lock_guard<std::mutex> hold(lock_);
    PGresult* result = Run("SELECT 1 FROM accounts WHERE name_key = $1", {key});
    bool exists = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0;
    PQclear(result);
    return exists;
  }

  InsertResult Insert(const std::string& name, const std::string& key, const std::string& hash,
                      const std::string& email) override {
    std::lock_guard<std::mutex> hold(lock_);
    PGresult* result = Run("INSERT INTO accounts (name, name_key, password_hash, email, created_at) "
                           "VALUES ($1, $2, $3, $4, $5)",
                           {name, key, hash, email, std::to_string(time(nullptr))});
    InsertResult answer = InsertResult::Created;
    if (PQresultStatus(result) != PGRES_COMMAND_OK) {
      answer = SqlState(result) == kUniqueViolation ? InsertResult::Taken : InsertResult::Failed;
      if (answer == InsertResult::Failed) fprintf(stderr, "accounts: insert failed: %s", PQresultErrorMessage(result));
    }
    PQclear(result);
    return answer;
  }

  bool Reachable() override {
    std::lock_guard<std::mutex> hold(lock_);
    PGresult* result = Run("SELECT count(*) FROM accounts WHERE false", {});
    bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    return ok;
  }

 private:
  PGresult* Run(const char* sql, const std::vector<std::string>& values) {
    return RunStatement(connection_, sql, values);
  }

  PGconn* connection_ = nullptr;
  std::mutex lock_;
};

}  // namespace

bool IsPostgresUri(const std::string& location) {
  return location.compare(0, 13, "postgresql://") == 0 || location.compare(0, 11, "postgres://") == 0;
}

AccountBackend* OpenPostgresAccounts(const std::string& uri, std::string& error) {
  auto* accounts = new PostgresAccounts;
  if (accounts->Open(uri, error)) return accounts;
  delete accounts;
  return nullptr;
}
