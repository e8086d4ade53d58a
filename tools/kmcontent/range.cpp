// Range header rules (single byte ranges only): "bytes=a-b", "bytes=a-" and the suffix form
// "bytes=-n". A last position past the end is cut to the end; a first position at or past
// the end is unsatisfiable; a range whose last position is before its first is invalid,
// and an invalid header is ignored rather than refused.
#include "tools/kmcontent/range.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits from pos; saturates at the largest value, since a first position beyond any
// file is simply unsatisfiable. False when there is no digit.
bool ReadNumber(const std::string& text, size_t& pos, uint64_t& value) {
  if (pos >= text.size() || !IsDigit(text[pos])) return false;
  value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); pos++) {
    uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return true;
}

void SkipBlanks(const std::string& text, size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) pos++;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; i++) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

RangePlan Partial(uint64_t first, uint64_t last) {
  RangePlan plan;
  plan.answer = RangeAnswer::Partial;
  plan.first = first;
  plan.length = last - first + 1;
  return plan;
}

RangePlan Unsatisfiable() {
  RangePlan plan;
  plan.answer = RangeAnswer::Unsatisfiable;
  return plan;
}

RangePlan Whole(uint64_t fileSize) {
  RangePlan plan;
  plan.length = fileSize;
  return plan;
}

}  // namespace

RangePlan PlanRange(const std::string& header, uint64_t fileSize) {
  if (!StartsWithNoCase(header, "bytes=")) return Whole(fileSize);
  size_t pos = strlen("bytes=");
  SkipBlanks(header, pos);
  uint64_t first = 0;
  uint64_t last = UINT64_MAX;
  bool hasFirst = ReadNumber(header, pos, first);
  if (pos >= header.size() || header[pos] != '-') return Whole(fileSize);
  pos++;
  bool hasLast = ReadNumber(header, pos, last);
  SkipBlanks(header, pos);
  if (pos != header.size() || (!hasFirst && !hasLast)) return Whole(fileSize);  // "," too
  if (!hasFirst) {
    // The last `last` bytes; a suffix of zero bytes, or any suffix of an empty file, has none.
    if (last == 0 || fileSize == 0) return Unsatisfiable();
    uint64_t count = last < fileSize ? last : fileSize;
    return Partial(fileSize - count, fileSize - 1);
  }
  if (hasLast && last < first) return Whole(fileSize);
  if (first >= fileSize) return Unsatisfiable();
  if (last >= fileSize) last = fileSize - 1;
  return Partial(first, last);
}

std::string ContentRangeValue(const RangePlan& plan, uint64_t fileSize) {
  std::string size = std::to_string(fileSize);
  if (plan.answer != RangeAnswer::Partial) return "bytes */" + size;
  return "bytes " + std::to_string(plan.first) + "-" +
         std::to_string(plan.first + plan.length - 1) + "/" + size;
}
