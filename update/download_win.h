// Resumable download of one manifest file into its part file beside its final place,
// verified against the manifest's size and CRC-32. Moving it into place is the pass's job.
#pragma once
#include "core/base.h"
#include "update/download_result.h"
#include "update/file_progress.h"
#include "update/http_win.h"
#include "update/manifest.h"
#include <atomic>

// cancel, when given and set, stops the download like g_quit does (kDownloadStopped).
// secondUrl, when not empty, is the same file at a second source, which shares a file
// fetched over several connections (see split_download_win.h).
DownloadResult DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                            const DownloadProgress& progress, const std::atomic<bool>* cancel = nullptr,
                            const std::string& secondUrl = std::string());

// DownloadFile with its request already made without a range, on a connection of the
// caller's, for a file whose part file the caller has just found missing: status and body
// are the answer. Its log lines and results are DownloadFile's.
// With kDownloadOk, openPart is the part file still open for MovePartIntoPlace (or
// INVALID_HANDLE_VALUE); the caller owns it.
DownloadResult DownloadFromAnswer(const RemoteFile& file, const std::string& partPath, DWORD status,
                                  AnswerBody& body, const std::atomic<bool>* cancel, HANDLE& openPart);
