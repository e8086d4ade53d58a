// POST /report: a launcher's outcome report at the end of a pass. The body is read whole (at
// most a few hundred bytes), checked strictly, and counted when it names a release the tree
// holds; each client address may send --report-rate reports a minute (a token bucket), the
// rest are answered 429 and counted as refused. The answer carries nothing: launchers ignore it.
#pragma once
#include "tools/kmcontent/release_halt.h"
#include "tools/kmcontent/report_book.h"
#include <memory>
#include "tools/kmcontent/serve_request.h"
#include "tools/kmcontent/token_bucket.h"

struct ReportDesk {
  ReportBook book;
  TokenBuckets buckets;
  std::string releaseDir;
  std::unique_ptr<ReleaseHalt> halt;
  explicit ReportDesk(unsigned perMinute) : buckets(perMinute, perMinute) {}
};

// Every call of the access handler for POST /report (body pieces, then the end).
MHD_Result AnswerReport(ReportDesk* desk, MHD_Connection* connection, ServeRequest* request, const char* uploadData,
                        size_t* uploadSize);
