// Progress lines of a file being fetched; see file_progress.h.
#include "update/file_progress.h"
#include "core/text.h"

std::string DownloadProgress::Line(const std::string& path, const std::string& what) const {
  return Fmt("File %d of %d: %s  -  %s", position, count, path.c_str(), what.c_str());
}

double DownloadProgress::Fraction(uint64_t have) const {
  return bytesTotal ? double(bytesDone + have) / bytesTotal : 0.0;
}

void DownloadProgress::Publish(const std::string& path, const std::string& what, uint64_t have) const {
  if (publish) publish(Line(path, what), Fraction(have));
}

std::string AmountDone(uint64_t have, uint64_t size) { return Megabytes(have) + " of " + Megabytes(size); }
