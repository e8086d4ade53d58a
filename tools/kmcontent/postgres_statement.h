// One SQL statement on a PostgreSQL connection shared by the account store and the halt store.
#pragma once
#include <libpq-fe.h>
#include <string>
#include <vector>

// Runs sql with text parameters; a lost connection is re-established once. The caller clears
// the result.
PGresult* RunStatement(PGconn* connection, const char* sql, const std::vector<std::string>& values);
