// Resumable download of one manifest file into its ".part" file beside its final place,
// verified against the manifest's size and CRC-32. Moving it into place is the pass's job.
#pragma once
#include "core/base.h"
#include "update/http_win.h"
#include "update/manifest.h"
#include <atomic>

enum DownloadResult {
  kDownloadOk = 0,         // complete, CRC-32 right: ready to be moved into place
  kDownloadFailed = 1,     // no connection, bad status, write error, short body: part file kept
  kDownloadBadCrc = 2,     // complete but wrong: part file deleted
  kDownloadStopped = 3,    // the launcher is closing: part file kept
};

// Where this file stands in the pass, for the progress display only.
struct DownloadProgress {
  uint64_t bytesDone;   // bytes of the files already in place in this pass
  uint64_t bytesTotal;  // bytes of the whole pass
  int position;         // this file's number among the files being updated, from 1
  int count;            // the number of files being updated
  bool shown = true;    // false for a download run ahead of the pass: it publishes nothing
};

// cancel, when given and set, stops the download like g_quit does (result 3).
int DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                 const DownloadProgress& progress, const std::atomic<bool>* cancel = nullptr);

// DownloadFile with its request already made without a range, on a connection of the
// caller's, for a file whose part file the caller has just found missing: status and body
// are the answer. Its log lines and results are DownloadFile's.
// With kDownloadOk, openPart is the part file still open for MovePartIntoPlace (or
// INVALID_HANDLE_VALUE); the caller owns it.
int DownloadFromAnswer(const RemoteFile& file, const std::string& partPath, DWORD status, AnswerBody& body,
                       const std::atomic<bool>* cancel, HANDLE& openPart);

// Moves a verified part file into place, replacing what is there, through openPart when it is
// open (which stays open), else by name. False with the system error number in GetLastError.
bool MovePartIntoPlace(const std::string& partPath, const std::string& localPath, HANDLE openPart);

// Publishes the progress of a file with have bytes received.
void PublishDownloadProgress(const RemoteFile& file, const DownloadProgress& progress, uint64_t have);

// Where a file is fetched from: the mirror, and the content server.
std::string MirrorFileUrl(const RemoteFile& file);
std::string ServerFileUrl(const RemoteFile& file);
