// Resumable download; see download_win.h. The part file's rules (a prefix of the file, with
// its CRC-32 over exactly its bytes) are part_file_win.h's; here are the request, the answer's
// status and the streaming of its body.
#include "update/download_win.h"
#include "core/log.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/body_loop_win.h"
#include "update/packed_download_win.h"
#include "update/packed_form.h"
#include "update/part_file_win.h"
#include "update/split_download_win.h"
#include <algorithm>
#include <optional>

namespace {
// Longer transfers write and hash on a second thread while the next pieces arrive (see
// body_loop_win.cpp).
constexpr uint64_t kOverlapFrom = 1u << 20;

// One attempt at one file.
struct Attempt {
  const RemoteFile& file;
  PartFile& part;
  const DownloadProgress& progress;
  const std::atomic<bool>* cancel;
  bool keepOpen = false;  // a complete part stays open for a rename through its handle
  std::string url{};      // for the more connections of a split download
  std::string secondUrl{};  // the file at a second source that may share a split
  bool split = false;     // fetched over several connections where the line allows
  bool packed = false;    // through the file's packed form
  HINTERNET* request = nullptr;  // the request Receive streams, when a split may close it early
  uint64_t answerMs = 0;         // how long its answer's headers took

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

// Streams the body into the part file, over more connections too for a split download;
// returns false when it stopped on a failure.
bool Transfer(AnswerBody& body, Attempt& attempt) {
  PartFile& part = attempt.part;
  bool overlap = attempt.file.size - part.Size() > kOverlapFrom;
  DWORD startTick = GetTickCount();
  uint64_t haveAtStart = part.Size();
  auto report = [&attempt, haveAtStart, startTick](uint64_t have) {
    if (attempt.progress.publish) PublishTransferProgress(attempt, have, haveAtStart, startTick, GetTickCount());
  };
  if (attempt.split) {
    const std::string& partPath = part.Path();
    SplitFetch fetch{attempt.file, part, attempt.url, partPath.substr(0, partPath.size() - 5),
                     [&attempt] { return attempt.Stopping(); }, report,
                     [&attempt] {
                       // The stretch has ended: the server need not send the rest.
                       if (attempt.request && *attempt.request) InternetCloseHandle(*attempt.request);
                       if (attempt.request) *attempt.request = nullptr;
                     }};
    fetch.answerMs = attempt.answerMs;
    fetch.secondUrl = attempt.secondUrl;
    FetchOverConnections(fetch, body, overlap);
    return part.Size() == attempt.file.size;
  }
  BodyTarget target;
  target.write = [&part](const unsigned char* data, size_t size) { return part.Append(data, size); };
  target.stopping = [&attempt] { return attempt.Stopping(); };
  uint64_t size = attempt.file.size;
  target.end = [size] { return size; };
  target.report = report;
  uint64_t received = 0;
  BodyEnd end = ReceiveBody(body, part.Size(), target, overlap, received);
  return end == BodyEnd::Reached || end == BodyEnd::Ended;
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
  ULONGLONG asked = GetTickCount64();
  HINTERNET request = OpenUrl(url, range, status);
  attempt.answerMs = GetTickCount64() - asked;
  if (!request) {
    LogLine("Cannot connect to download %s", attempt.file.path.c_str());
    return kDownloadFailed;
  }
  InternetBody body(request);
  attempt.request = &request;
  std::optional<DownloadResult> result = Receive(attempt, status, body);
  attempt.request = nullptr;
  if (request) InternetCloseHandle(request);
  return result;
}

// Why a file's packed form is not used: none at the URL, or one that gave wrong bytes.
enum class PackedRefusal { None, NotServed, Damaged };

// Fetches the rest of the part file through the packed form at url; refusal is set when
// the file itself must be fetched instead.
std::optional<DownloadResult> FetchPacked(Attempt& attempt, const std::string& url, PackedRefusal& refusal) {
  PartFile& part = attempt.part;
  if (!part.OpenForWriting()) return part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
  DWORD startTick = GetTickCount();
  uint64_t haveAtStart = part.Size();
  PackedTransfer transfer{attempt.file, part, url, [&attempt] { return attempt.Stopping(); },
                          [&attempt, haveAtStart, startTick](uint64_t have) {
                            if (attempt.progress.publish) {
                              PublishTransferProgress(attempt, have, haveAtStart, startTick, GetTickCount());
                            }
                          }};
  transfer.overlap = attempt.file.size - part.Size() > kOverlapFrom;
  const std::string& partPath = part.Path();
  PackedEnd end = attempt.split ? FetchPackedOverConnections(transfer, partPath.substr(0, partPath.size() - 5))
                                : FetchPackedForm(transfer);
  part.Close();
  switch (end) {
    case PackedEnd::Complete: return std::nullopt;
    case PackedEnd::Stopped: return kDownloadStopped;
    case PackedEnd::Damaged:
      LogLine("The packed form of %s is damaged (%s); downloading the file itself", attempt.file.path.c_str(),
              transfer.why.c_str());
      refusal = PackedRefusal::Damaged;
      return kDownloadFailed;
    case PackedEnd::NotServed: refusal = PackedRefusal::NotServed; return kDownloadFailed;
    case PackedEnd::Failed: break;
  }
  if (attempt.Stopping()) return kDownloadStopped;
  LogLine("Download of %s stopped at %llu of %llu bytes (packed)%s", attempt.file.path.c_str(),
          static_cast<unsigned long long>(part.Size()), static_cast<unsigned long long>(attempt.file.size),
          part.DiskFull() ? " - the disk is full" : "");
  return part.DiskFull() ? kDownloadDiskFull : kDownloadFailed;
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
  PartFile::Check check = part.VerifyOrDelete();
  // Some server on the way answered a range with other bytes: the next attempt starts again
  // on one connection, which asks for the whole file. After a packed form the file itself
  // comes next, which may split as well.
  if (check != PartFile::Check::Ok && attempt.split && !attempt.packed) {
    const std::string& partPath = part.Path();
    UseOneConnection(file, partPath.substr(0, partPath.size() - 5));
  }
  if (check == PartFile::Check::Ok && attempt.split) {
    const std::string& partPath = part.Path();
    RemoveSideFiles(partPath.substr(0, partPath.size() - 5));  // left by a kill after a join
  }
  switch (check) {
    case PartFile::Check::Ok: return kDownloadOk;
    case PartFile::Check::BadSha256: return kDownloadBadCrc;
    case PartFile::Check::Gone: return kDownloadFailed;
    case PartFile::Check::BadCrc: break;
  }
  LogLine("CRC mismatch on %s (got %08lX, expected %08lX) - deleting the download", file.path.c_str(),
          static_cast<unsigned long>(part.Crc()), static_cast<unsigned long>(file.crc));
  return kDownloadBadCrc;
}

// The download through the file's packed form; nothing when the file itself must be fetched
// (its packed form is damaged: never used again in this run, or missing at this source; after
// a damaged one the part file starts again, since it may hold wrong bytes, while one that was
// not served wrote nothing and the part file resumes as it is).
std::optional<DownloadResult> DownloadPackedForm(const RemoteFile& file, const std::string& url,
                                                 const std::string& partPath, const DownloadProgress& progress,
                                                 const std::atomic<bool>* cancel) {
  PartFile part(file, partPath, cancel);
  CreateParentFolders(partPath);
  if (!part.Resume()) return kDownloadStopped;
  Attempt attempt{file, part, progress, cancel};
  std::string localPath = partPath.substr(0, partPath.size() - 5);
  attempt.split = SplitsDownload(file, localPath);
  attempt.packed = true;
  PackedRefusal refusal = PackedRefusal::None;
  std::string packedUrl = url + kPackedSuffix;
  DownloadResult result = Download(attempt, [&](Attempt& a) { return FetchPacked(a, packedUrl, refusal); });
  if (result == kDownloadBadCrc && !attempt.Stopping()) {
    LogLine("The packed form of %s is damaged (the file it gives is wrong); downloading the file itself",
            file.path.c_str());
    refusal = PackedRefusal::Damaged;
  }
  if (refusal != PackedRefusal::None || result == kDownloadOk) {
    NotePackedServed(file, url, refusal != PackedRefusal::NotServed);
  }
  if (refusal == PackedRefusal::None) return result;
  if (refusal == PackedRefusal::Damaged) {
    RefusePackedForm(file);
    part.Restart();
    RemoveSideFiles(localPath);  // they may hold what the damaged packed form gave
  }
  return std::nullopt;
}

}  // namespace

DownloadResult DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                            const DownloadProgress& progress, const std::atomic<bool>* cancel,
                            const std::string& secondUrl) {
  if (UsesPackedForm(file) && SourceMayServePacked(file, url)) {
    std::optional<DownloadResult> packed = DownloadPackedForm(file, url, partPath, progress, cancel);
    if (packed) return *packed;
  }
  PartFile part(file, partPath, cancel);
  CreateParentFolders(partPath);
  if (!part.Resume()) return kDownloadStopped;
  Attempt attempt{file, part, progress, cancel};
  attempt.url = url;
  attempt.secondUrl = secondUrl;
  attempt.split = SplitsDownload(file, partPath.substr(0, partPath.size() - 5));
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
