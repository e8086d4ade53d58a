// Which bytes of a file one GET answers, decided from the request's Range header and the
// file's size. One range of bytes is served as 206; a header this server does not serve
// (another unit, several ranges, bad syntax) is ignored and the whole file goes out as 200,
// which HTTP allows and the launcher handles (it restarts the file from byte 0).
#pragma once
#include "core/base.h"

enum class RangeAnswer {
  Whole,          // 200, the whole file
  Partial,        // 206, first .. first + length - 1
  Unsatisfiable,  // 416, the range starts at or after the end of the file
};

struct RangePlan {
  RangeAnswer answer = RangeAnswer::Whole;
  uint64_t first = 0;
  uint64_t length = 0;  // bytes of the body
};

// header is the Range value without its name ("bytes=100-"); empty when there is none.
RangePlan PlanRange(const std::string& header, uint64_t fileSize);

// The Content-Range value of a 206 ("bytes 0-99/1000") or of a 416 ("bytes */1000").
std::string ContentRangeValue(const RangePlan& plan, uint64_t fileSize);
