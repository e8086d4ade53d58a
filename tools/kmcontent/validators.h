// Validators of a served file (entity tag, Last-Modified) and the conditional headers that
// use them: If-Range decides whether a Range is honoured, If-None-Match whether a cached
// copy is still good. A resuming client sends If-Range so that it never splices bytes of two
// different files together.
#pragma once
#include "core/base.h"
#include <ctime>

struct FileStamp {
  uint64_t size = 0;
  uint64_t inode = 0;
  int64_t modifiedSeconds = 0;
  long modifiedNanos = 0;
};

// A strong entity tag, quotes included: a file with other bytes under the same path (a
// republished release) always gets another tag.
std::string EntityTag(const FileStamp& stamp);

// An IMF-fixdate: "Tue, 08 Dec 2026 10:00:19 GMT".
std::string HttpDate(time_t when);

// ifRange is the If-Range value (empty: none). A Range is honoured only when the value is
// exactly the current entity tag (a strong comparison, so no W/ tag matches) or exactly the
// current Last-Modified date; otherwise the whole file goes out.
bool IfRangeAllowsRange(const std::string& ifRange, const std::string& etag, const std::string& lastModified);

// Whether an If-None-Match value ("*" or a list of tags, W/ allowed) names etag.
bool IfNoneMatchHits(const std::string& ifNoneMatch, const std::string& etag);
