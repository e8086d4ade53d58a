// Resumable download; see download_win.h. The part file's rules (a prefix of the file, with
// its CRC-32 over exactly its bytes) are part_file_win.h's; here are the request, the answer's
// status and the streaming of its body.
#include "update/download_win.h"
#include "update/release_choice_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/percent_encode.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/chunk_pipeline.h"
#include "update/part_file_win.h"
#include <algorithm>
#include <optional>

namespace {
constexpr DWORD kTransferBuffer = 262144;
// Longer transfers write and hash on a second thread while the next pieces arrive, read in
// larger pieces: under Wine every network read costs a round trip to the Wine server.
// Chosen with bench/download_vs_curl.py; the ring stays a few MiB whatever the file size.
constexpr uint64_t kOverlapFrom = 1u << 20;
constexpr DWORD kOverlapPiece = 1u << 20;
constexpr size_t kOverlapBuffers = 4;

// One attempt at one file.
struct Attempt {
  const RemoteFile& file;
  PartFile& part;
  const DownloadProgress& progress;
  const std::atomic<bool>* cancel;
  bool keepOpen = false;  // a complete part stays open for a rename through its handle

  bool Stopping() const { return QuitRequested() || (cancel && cancel->load()); }
};

void PublishTransferProgress(const Attempt& attempt, uint64_t have, uint64_t haveAtStart, DWORD startTick,
                             DWORD now) {
  double seconds = static_cast<DWORD>(now - startTick) / 1000.0;
  double speed = seconds > 0.5 ? (have - haveAtStart) / seconds : 0.0;
  std::string what = AmountDone(have, attempt.file.size);
  if (speed > 0) what += Fmt("  (%.1f MB/s)", speed / 1048576.0);
  attempt.progress.Publish(attempt.file.path, what, have);
}

// Streams the body into the part file; returns false when it stopped on a failure. Long
// bodies are written and hashed on a second thread while the next pieces arrive.
bool Transfer(AnswerBody& body, Attempt& attempt) {
  PartFile& part = attempt.part;
  uint64_t remaining = attempt.file.size - part.Size();
  bool overlap = remaining > kOverlapFrom;
  // A small file's buffer is its size: one byte more still shows a body longer than the file.
  size_t buffer = overlap ? kOverlapPiece : static_cast<size_t>(std::min<uint64_t>(kTransferBuffer, remaining + 1));
  ChunkPipeline pipeline(kOverlapBuffers, buffer,
                         [&part](const unsigned char* data, size_t size) { return part.Append(data, size); },
                         overlap);
  DWORD startTick = GetTickCount();
  DWORD lastReport = 0;
  bool reported = false;
  uint64_t haveAtStart = part.Size();
  uint64_t received = part.Size();
  bool complete = true;
  while (received < attempt.file.size) {
    unsigned char* buffer = attempt.Stopping() ? nullptr : pipeline.NextBuffer();
    DWORD got = 0;
    if (!buffer || !body.Read(buffer, static_cast<DWORD>(pipeline.BufferSize()), got)) {
      complete = false;
      break;
    }
    if (got == 0) break;
    pipeline.Submit(got);
    received += got;
    DWORD now = GetTickCount();
    if (attempt.progress.publish && (!reported || static_cast<DWORD>(now - lastReport) > 100)) {
      PublishTransferProgress(attempt, received, haveAtStart, startTick, now);
      lastReport = now;
      reported = true;
    }
  }
  return pipeline.Finish() && complete;
}

// Takes in an answer to a request for the rest of the file from the part file's size on;
// nothing when the part file is complete and goes on to its check.
std::optional<DownloadResult> Receive(Attempt& attempt, DWORD status, AnswerBody& body) {
  const RemoteFile& file = attempt.file;
  PartFile& part = attempt.part;
  if (part.Size() > 0 && status == 200) {
    part.Restart();  // the server ignored the range and sends the whole file
  } else if (status != 206 && !(status == 200 && part.Size() == 0)) {
    LogLine("Server answered %lu for %s", static_cast<unsigned long>(status), file.path.c_str());
    return kDownloadFailed;
  }
  if (!part.OpenForWriting(attempt.keepOpen)) return part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  bool complete = Transfer(body, attempt);
  if (!attempt.keepOpen || !complete || attempt.Stopping() || part.Size() != file.size) part.Close();
  if (attempt.Stopping()) return kDownloadStopped;
  if (!complete || part.Size() != file.size) {
    LogLine("Download of %s stopped at %llu of %llu bytes%s", file.path.c_str(),
            static_cast<unsigned long long>(part.Size()), static_cast<unsigned long long>(file.size),
            part.DiskFull() ? " - the disk is full" : "");
    return part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  }
  return std::nullopt;
}

// Requests the rest of the file from the part file's size on and takes in the answer.
std::optional<DownloadResult> Fetch(Attempt& attempt, const std::string& url) {
  uint64_t have = attempt.part.Size();
  std::string range = have > 0 ? Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(have)) : "";
  DWORD status = 0;
  HINTERNET request = OpenUrl(url, range, status);
  if (!request) {
    LogLine("Cannot connect to download %s", attempt.file.path.c_str());
    return kDownloadFailed;
  }
  InternetBody body(request);
  std::optional<DownloadResult> result = Receive(attempt, status, body);
  InternetCloseHandle(request);
  return result;
}

// One attempt after the part file has been taken up: fetch the rest (given the attempt; a
// result ends the attempt), then the check.
template <typename FetchRest>
DownloadResult Download(Attempt& attempt, const FetchRest& fetchRest) {
  const RemoteFile& file = attempt.file;
  PartFile& part = attempt.part;
  if (file.size == 0 && !part.CreateEmpty()) return part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  part.HashSha256WhileWriting();
  if (part.Size() < file.size) {
    std::optional<DownloadResult> result = fetchRest(attempt);
    if (result) return *result;
  }
  switch (part.VerifyOrDelete()) {
    case PartFile::Check::Ok: return kDownloadOk;
    case PartFile::Check::BadSha256: return kDownloadBadCrc;
    case PartFile::Check::Gone: return kDownloadFailed;
    case PartFile::Check::BadCrc: break;
  }
  LogLine("CRC mismatch on %s (got %08lX, expected %08lX) - deleting the download", file.path.c_str(),
          static_cast<unsigned long>(part.Crc()), static_cast<unsigned long>(file.crc));
  return kDownloadBadCrc;
}
}  // namespace

DownloadResult DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                            const DownloadProgress& progress, const std::atomic<bool>* cancel) {
  PartFile part(file, partPath, cancel);
  CreateParentFolders(partPath);
  if (!part.Resume()) return kDownloadStopped;
  Attempt attempt{file, part, progress, cancel};
  return Download(attempt, [&url](Attempt& a) { return Fetch(a, url); });
}

DownloadResult DownloadFromAnswer(const RemoteFile& file, const std::string& partPath, DWORD status,
                                  AnswerBody& body, const std::atomic<bool>* cancel, HANDLE& openPart) {
  PartFile part(file, partPath, cancel);
  CreateParentFolders(partPath);
  part.StartEmpty();
  DownloadProgress quiet = QuietProgress();
  Attempt attempt{file, part, quiet, cancel};
  attempt.keepOpen = true;
  DownloadResult result = Download(attempt, [status, &body](Attempt& a) { return Receive(a, status, body); });
  openPart = part.TakeHandle();
  return result;
}

std::string FileUrl(const RemoteFile& file, Source source) {
  return (source == Source::Mirror ? g_mirror + "/" : ContentFilesPath()) + UrlEncodePath(file.path);
}
