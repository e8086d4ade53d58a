// Validators and conditional headers; see validators.h.
#include "tools/kmcontent/validators.h"

namespace {

std::string Trimmed(const std::string& text, size_t begin, size_t end) {
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) begin++;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string EntityTag(const FileStamp& stamp) {
  char text[96];
  snprintf(text, sizeof text, "\"%llx-%llx-%llx.%lx\"", static_cast<unsigned long long>(stamp.inode),
           static_cast<unsigned long long>(stamp.size), static_cast<unsigned long long>(stamp.modifiedSeconds),
           static_cast<unsigned long>(stamp.modifiedNanos));
  return text;
}

std::string HttpDate(time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm utc;
  gmtime_r(&when, &utc);
  char text[40];
  snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
           kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

bool IfRangeAllowsRange(const std::string& ifRange, const std::string& etag, const std::string& lastModified) {
  std::string value = Trimmed(ifRange, 0, ifRange.size());
  if (value.empty()) return ifRange.empty();
  if (value[0] == '"') return value == etag;
  return value == lastModified;
}

bool IfNoneMatchHits(const std::string& ifNoneMatch, const std::string& etag) {
  size_t begin = 0;
  while (begin <= ifNoneMatch.size()) {
    size_t comma = ifNoneMatch.find(',', begin);
    if (comma == std::string::npos) comma = ifNoneMatch.size();
    std::string tag = Trimmed(ifNoneMatch, begin, comma);
    if (tag == "*") return true;
    if (tag.compare(0, 2, "W/") == 0) tag = tag.substr(2);
    if (!tag.empty() && tag == etag) return true;
    begin = comma + 1;
  }
  return false;
}
