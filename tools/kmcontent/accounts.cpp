// The account store; see accounts.h. One SQLite connection serves all threads under a
// mutex; statements are short, so the lock is held only for a look-up or an insert, never
// while a password is hashed. Hashing is slow and memory-hungry by design (Argon2id,
// libsodium's interactive limits: 64 MiB each), so only a few run at once and the rest
// wait. A taken name is hashed too, so the answer's time does not tell it from a free one.
// The database and its -wal and -shm companions hold hashes and e-mail addresses, so they
// are readable by the server's user only (SQLite gives the companions the database's mode).
#include "tools/kmcontent/accounts.h"
#include "tools/kmcontent/account_rules.h"
#include "tools/kmcontent/percent.h"
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <mutex>
#include <sodium.h>
#include <sqlite3.h>
#include <thread>

struct AccountStore {
  sqlite3* db = nullptr;
  std::mutex dbLock;
  std::mutex hashLock;
  std::condition_variable hashFree;
  unsigned hashing = 0;
  unsigned maxHashing = 2;
};

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL,"
    " name_key TEXT NOT NULL UNIQUE,"  // the name in lower case: one account per name
    " password_hash TEXT NOT NULL,"    // crypto_pwhash_str: Argon2id with its salt
    " email TEXT NOT NULL DEFAULT '',"
    " created_at INTEGER NOT NULL)";

const char kTaken[] = "ERR That user name is already taken. Please choose another.";
const char kStoreFailed[] = "ERR The server could not create the account. Try again in a moment.";

// Holds one of the few hashing slots while it lives.
class HashSlot {
 public:
  explicit HashSlot(AccountStore* store) : store_(store) {
    std::unique_lock<std::mutex> hold(store_->hashLock);
    store_->hashFree.wait(hold, [this] { return store_->hashing < store_->maxHashing; });
    store_->hashing++;
  }
  ~HashSlot() {
    std::lock_guard<std::mutex> hold(store_->hashLock);
    store_->hashing--;
    store_->hashFree.notify_one();
  }

 private:
  AccountStore* store_;
};

bool NameExists(AccountStore* store, const std::string& key) {
  std::lock_guard<std::mutex> hold(store->dbLock);
  sqlite3_stmt* query = nullptr;
  // On a failed look-up the insert decides.
  if (sqlite3_prepare_v2(store->db, "SELECT 1 FROM accounts WHERE name_key = ?1", -1, &query,
                         nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_bind_text(query, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  bool exists = sqlite3_step(query) == SQLITE_ROW;
  sqlite3_finalize(query);
  return exists;
}

enum class InsertResult { Created, Taken, Failed };

InsertResult InsertAccount(AccountStore* store, const std::string& name, const std::string& hash,
                           const std::string& email) {
  std::lock_guard<std::mutex> hold(store->dbLock);
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(store->db,
                         "INSERT INTO accounts (name, name_key, password_hash, email, created_at) "
                         "VALUES (?1, ?2, ?3, ?4, ?5)",
                         -1, &insert, nullptr) != SQLITE_OK) {
    fprintf(stderr, "accounts: %s\n", sqlite3_errmsg(store->db));
    return InsertResult::Failed;
  }
  std::string key = UserNameKey(name);
  sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 2, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 3, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 4, email.data(), static_cast<int>(email.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert, 5, static_cast<sqlite3_int64>(time(nullptr)));
  int rc = sqlite3_step(insert);
  int extended = sqlite3_extended_errcode(store->db);
  sqlite3_finalize(insert);
  if (rc == SQLITE_DONE) return InsertResult::Created;
  if (extended == SQLITE_CONSTRAINT_UNIQUE) return InsertResult::Taken;
  fprintf(stderr, "accounts: insert failed: %s\n", sqlite3_errstr(extended));
  return InsertResult::Failed;
}

bool HashPassword(AccountStore* store, const std::string& password, std::string& hash) {
  char text[crypto_pwhash_STRBYTES];
  HashSlot slot(store);
  if (crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return false;  // out of memory
  }
  hash = text;
  return true;
}

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

}  // namespace

AccountStore* OpenAccountStore(const std::string& path, std::string& error) {
  if (sodium_init() < 0) {
    error = "libsodium cannot start";
    return nullptr;
  }
  if (!MakePrivate(path, error)) return nullptr;
  auto* store = new AccountStore;
  store->maxHashing = std::max(2u, std::thread::hardware_concurrency());
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  bool ok = sqlite3_open_v2(path.c_str(), &store->db, flags, nullptr) == SQLITE_OK;
  if (!ok) error = store->db != nullptr ? sqlite3_errmsg(store->db) : "cannot open";
  if (ok) sqlite3_busy_timeout(store->db, 5000);
  // WAL with full sync: an account that was answered OK survives a crash of the machine.
  ok = ok && Execute(store->db, "PRAGMA journal_mode=WAL", error) &&
       Execute(store->db, "PRAGMA synchronous=FULL", error) && Execute(store->db, kSchema, error);
  if (!ok) {
    error = path + ": " + error;
    CloseAccountStore(store);
    return nullptr;
  }
  return store;
}

void CloseAccountStore(AccountStore* store) {
  if (store == nullptr) return;
  sqlite3_close(store->db);
  delete store;
}

std::string RegisterAccount(AccountStore* store, const std::string& formBody) {
  FormFields fields;
  if (!ParseForm(formBody, fields)) return "ERR The request was not understood.";
  std::string name = FormValue(fields, "user");
  std::string password = FormValue(fields, "pass");
  std::string email = FormValue(fields, "email");
  for (const std::string& problem : {UserNameProblem(name), PasswordProblem(password), EmailProblem(email)}) {
    if (!problem.empty()) return "ERR " + problem;
  }
  bool taken = NameExists(store, UserNameKey(name));
  std::string hash;
  if (!HashPassword(store, password, hash)) return kStoreFailed;
  if (taken) return kTaken;
  switch (InsertAccount(store, name, hash, email)) {
    case InsertResult::Created:
      return "OK Account " + name + " created.";
    case InsertResult::Taken:
      return kTaken;
    case InsertResult::Failed:
      break;
  }
  return kStoreFailed;
}

bool AccountStoreReachable(AccountStore* store) {
  std::lock_guard<std::mutex> hold(store->dbLock);
  sqlite3_stmt* query = nullptr;
  bool ok = sqlite3_prepare_v2(store->db, "SELECT count(*) FROM accounts WHERE 0", -1, &query, nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW;
  sqlite3_finalize(query);
  return ok;
}

std::string AccountStoreDescription(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}
