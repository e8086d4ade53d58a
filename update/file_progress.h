// Where a file being fetched stands in the update pass, and how its progress reaches the
// window: through a publish function the pass gives, so download and patch code need not
// know the status record.
#pragma once
#include "core/base.h"

// Shows a progress detail line and the pass's fraction done.
using PublishProgressFn = void (*)(const std::string& detail, double fraction);

struct DownloadProgress {
  uint64_t bytesDone;   // bytes of the files already in place in this pass
  uint64_t bytesTotal;  // bytes of the whole pass
  int position;         // this file's number among the files being updated, from 1
  int count;            // the number of files being updated
  PublishProgressFn publish = nullptr;  // null for a download run ahead of the pass

  // "File 3 of 7: data/a.pak  -  " followed by what.
  std::string Line(const std::string& path, const std::string& what) const;
  // The pass's fraction done with have bytes of this file.
  double Fraction(uint64_t have) const;
  void Publish(const std::string& path, const std::string& what, uint64_t have) const;
};

// "1.5 MB of 12.0 MB".
std::string AmountDone(uint64_t have, uint64_t size);

// The progress of a download run ahead: publishes nothing.
inline DownloadProgress QuietProgress() { return DownloadProgress{0, 0, 0, 0, nullptr}; }
