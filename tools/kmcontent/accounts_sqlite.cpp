// Accounts in one SQLite file (WAL mode, full sync: an account answered OK survives a crash
// of the machine). One connection serves all threads under a mutex; statements are short.
// The file and its -wal and -shm companions hold hashes and e-mail addresses, so they are
// readable by the server's user only (SQLite gives the companions the database's mode).
#include "tools/kmcontent/account_backend.h"
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kSchema[] = "CREATE TABLE IF NOT EXISTS accounts (id INTEGER PRIMARY KEY," KM_ACCOUNTS_COLUMNS;

bool Execute(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message != nullptr ? message : "unknown error";
  sqlite3_free(message);
  return false;
}

// Creates the database file owner-only, and takes group and other access away from one an
// earlier version created readable (with its companions, when they are there).
bool MakePrivate(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = path + ": " + strerror(errno);
    return false;
  }
  close(fd);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::string name = path + suffix;
    struct stat info;
    if (stat(name.c_str(), &info) == 0 && (info.st_mode & 077) != 0) chmod(name.c_str(), info.st_mode & 0700);
  }
  return true;
}

class SqliteAccounts : public AccountBackend {
 public:
  ~SqliteAccounts() override { sqlite3_close(db_); }

  bool Open(const std::string& path, std::string& error) {
    if (!MakePrivate(path, error)) return false;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    bool ok = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) == SQLITE_OK;
    if (!ok) error = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open";
    if (ok) sqlite3_busy_timeout(db_, 5000);
    ok = ok && Execute(db_, "PRAGMA journal_mode=WAL", error) && Execute(db_, "PRAGMA synchronous=FULL", error) &&
         Execute(db_, kSchema, error);
    if (!ok) error = path + ": " + error;
    return ok;
  }

  bool NameExists(const std::string& key) override {
    std::lock_guard<std::mutex> hold(lock_);
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT 1 FROM accounts WHERE name_key = ?1", -1, &query, nullptr) != SQLITE_OK) {
      return false;
    }
    sqlite3_bind_text(query, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    bool exists = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_finalize(query);
    return exists;
  }

  InsertResult Insert(const std::string& name, const std::string& key, const std::string& hash,
                      const std::string& email) override {
    std::lock_guard<std::mutex> hold(lock_);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "INSERT INTO accounts (name, name_key, password_hash, email, created_at) "
                           "VALUES (?1, ?2, ?3, ?4, ?5)",
                           -1, &insert, nullptr) != SQLITE_OK) {
      fprintf(stderr, "accounts: %s\n", sqlite3_errmsg(db_));
      return InsertResult::Failed;
    }
    const std::string* texts[] = {&name, &key, &hash, &email};
    for (int i = 0; i < 4; i++) {
      sqlite3_bind_text(insert, i + 1, texts[i]->data(), static_cast<int>(texts[i]->size()), SQLITE_TRANSIENT);
    }
    sqlite3_bind_int64(insert, 5, static_cast<sqlite3_int64>(time(nullptr)));
    int rc = sqlite3_step(insert);
    int extended = sqlite3_extended_errcode(db_);
    sqlite3_finalize(insert);
    if (rc == SQLITE_DONE) return InsertResult::Created;
    if (extended == SQLITE_CONSTRAINT_UNIQUE) return InsertResult::Taken;
    fprintf(stderr, "accounts: insert failed: %s\n", sqlite3_errstr(extended));
    return InsertResult::Failed;
  }

  bool Reachable() override {
    std::lock_guard<std::mutex> hold(lock_);
    std::string error;
    return Execute(db_, "SELECT count(*) FROM accounts WHERE 0", error);
  }

 private:
  sqlite3* db_ = nullptr;
  std::mutex lock_;
};

}  // namespace

AccountBackend* OpenSqliteAccounts(const std::string& path, std::string& error) {
  auto* accounts = new SqliteAccounts;
  if (accounts->Open(path, error)) return accounts;
  delete accounts;
  return nullptr;
}
