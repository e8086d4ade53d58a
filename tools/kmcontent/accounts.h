// The account store behind POST /register: an SQLite database file with one row per
// account, the password kept only as libsodium's Argon2id string (salt and parameters
// inside), never in any form it could be read back from. A user name is unique in any
// letter case; the database's UNIQUE constraint decides when two requests race for one.
#pragma once
#include "core/base.h"
#include "tools/kmcontent/serve_metrics.h"

struct AccountStore;

// Opens or creates (readable by this user only) the database; null with a message when it cannot.
AccountStore* OpenAccountStore(const std::string& path, std::string& error);
void CloseAccountStore(AccountStore* store);

// The whole answer to one form body: "OK ..." when the account was created, otherwise
// "ERR " and a message for the player. Safe to call from many threads at once.
std::string RegisterAccount(AccountStore* store, const std::string& formBody);

// What an answer of RegisterAccount says happened, for the counters.
Registration RegistrationOutcome(const std::string& answer);

// Whether the store answers a query (for /healthz).
bool AccountStoreReachable(AccountStore* store);

// How the start-up line names the store: the database file's full path.
std::string AccountStoreDescription(const std::string& path);
