// Where accounts are kept: an SQLite file on this machine, or a PostgreSQL database shared
// by several servers. Both hold the same table and obey the same rule: the name in lower
// case is unique, so the database itself decides between two requests racing for a name.
// Implementations are safe to call from many threads.
#pragma once
#include "core/base.h"

enum class InsertResult { Created, Taken, Failed };

class AccountBackend {
 public:
  virtual ~AccountBackend() = default;
  // False also when the look-up fails: then the insert decides.
  virtual bool NameExists(const std::string& nameKey) = 0;
  virtual InsertResult Insert(const std::string& name, const std::string& nameKey, const std::string& hash,
                              const std::string& email) = 0;
  virtual bool Reachable() = 0;
};

// The table both keep (PostgreSQL spells the id column its own way).
#define KM_ACCOUNTS_COLUMNS                                                                          \
  " name TEXT NOT NULL,"                                                                             \
  " name_key TEXT NOT NULL UNIQUE," /* the name in lower case: one account per name */              \
  " password_hash TEXT NOT NULL,"   /* crypto_pwhash_str: Argon2id with its salt */                  \
  " email TEXT NOT NULL DEFAULT '',"                                                                 \
  " created_at BIGINT NOT NULL)"

// Null with a message when the store cannot be opened.
AccountBackend* OpenSqliteAccounts(const std::string& path, std::string& error);
AccountBackend* OpenPostgresAccounts(const std::string& uri, std::string& error);

bool IsPostgresUri(const std::string& location);
