// POST /register on the event-driven server. Hashing a password takes a tenth of a second
// or more, so the request is parked (the connection suspended) while a worker thread creates
// the account, and the event thread goes on serving everyone else. Each client address may
// create only a few accounts a minute (token bucket), and every answer that reaches the
// account store takes the same minimum time, so the time does not tell whether a name is taken.
#pragma once
#include "tools/kmcontent/serve.h"
#include "tools/kmcontent/serve_metrics.h"
#include "tools/kmcontent/serve_request.h"

struct AccountStore;
struct RegisterService;

// Outcomes are counted in metrics.
RegisterService* StartRegisterService(AccountStore* store, const ServeOptions& options, ServeMetrics* metrics);
// Waits for the accounts being created, then ends the workers.
void StopRegisterService(RegisterService* service);

// Every call of the access handler for POST /register (body pieces, then the end).
MHD_Result AnswerRegister(RegisterService* service, MHD_Connection* connection, ServeRequest* request,
                          const char* uploadData, size_t* uploadSize);
