// What one attempt at fetching a file gave, for the pass's rules (source_policy.h) and the
// code that fetches (download_win.h, delta_update_win.h).
#pragma once

enum DownloadResult {
  kDownloadOk = 0,         // complete, CRC-32 right: ready to be moved into place
  kDownloadFailed = 1,     // no connection, bad status, write error, short body: part file kept
  kDownloadBadCrc = 2,     // complete but wrong: part file deleted
  kDownloadStopped = 3,    // the launcher is closing: part file kept
  kResumeByDownloading = 4,  // not patched whole: the part file holds a correct prefix (perhaps
                             // none) that the ordinary download resumes
  kDownloadDiskFull = 5,     // the disk is full: part file kept; no retry can succeed
};
