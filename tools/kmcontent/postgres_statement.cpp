// See postgres_statement.h.
#include "tools/kmcontent/postgres_statement.h"

PGresult* RunStatement(PGconn* connection, const char* sql, const std::vector<std::string>& values) {
  std::vector<const char*> params;
  for (const std::string& value : values) params.push_back(value.c_str());
  for (int attempt = 0;; attempt++) {
    PGresult* result =
        PQexecParams(connection, sql, static_cast<int>(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
    if (PQstatus(connection) == CONNECTION_OK || attempt > 0) return result;
    PQclear(result);
    PQreset(connection);
  }
}
