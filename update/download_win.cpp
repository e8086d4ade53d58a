// Resumable download; see download_win.h. The part file always holds a prefix of the file
// as received so far, and the running CRC-32 always covers exactly the bytes in it, so a
// later attempt (in this pass, the next pass or the next run) resumes with a Range request.
#include "update/download_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/percent_encode.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/chunk_pipeline.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/release_trust_win.h"
#include "update/sha256_background.h"
#include <algorithm>
#include <memory>

namespace {
constexpr DWORD kTransferBuffer = 262144;
// Longer transfers write and hash on a second thread while the next pieces arrive, read in
// larger pieces: under Wine every network read costs a round trip to the Wine server.
// Chosen with bench/download_vs_curl.py; the ring stays a few MiB whatever the file size.
constexpr uint64_t kOverlapFrom = 1u << 20;
constexpr DWORD kOverlapPiece = 1u << 20;
constexpr size_t kOverlapBuffers = 4;
// Pieces go to the part file in small writes: a large write makes the system cache take
// large blocks of free memory, which a virtual machine's host may have taken back, and the
// first touch of those costs more than the copy (1 MiB writes ran at a sixth of 16 KiB ones).
constexpr size_t kWriteSlice = 16384;
constexpr double kMegabyte = 1048576.0;

// The SHA-256 of a signed release's file, taken from the same bytes as the CRC-32 while they
// stream in, on a thread of its own. whole is false when the stream began after a resumed
// part; the whole part file is then hashed once more before it is accepted.
struct StreamSha {
  std::unique_ptr<BackgroundSha256> hash;  // only for a file with a SHA-256
  bool whole = false;
};

void RestartSha(StreamSha& sha) {
  if (sha.hash) sha.hash->Restart();
  sha.whole = true;
}

bool Sha256Matches(const RemoteFile& file, const std::string& partPath, StreamSha& sha) {
  if (!file.hasSha256) return true;
  if (!sha.whole) return FileMatchesSha256(partPath, file);
  if (sha.hash->Finish() == file.sha256) return true;
  LogLine("SHA-256 mismatch on %s - deleting the download", file.path.c_str());
  return false;
}

// Creates every folder on the way to the part file (after a drive root such as C:\).
void CreateParentFolders(const std::string& path) {
  for (size_t i = 3; i < path.size(); i++) {
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

// One attempt: the part file and the running CRC-32 always cover exactly the same bytes.
struct Attempt {
  const RemoteFile& file;
  const std::string& partPath;
  const DownloadProgress& progress;
  const std::atomic<bool>* cancel;
  bool keepOpen = false;    // a complete part stays open for a rename through its handle
  bool partAbsent = false;  // the caller has just found no part file
  HANDLE part = INVALID_HANDLE_VALUE;
  uint64_t have = 0;
  uint32_t crc = kCrc32Start;
  StreamSha sha = {};

  bool Stopping() const { return QuitRequested() || (cancel && cancel->load()); }

  void ClosePart() {
    if (part != INVALID_HANDLE_VALUE) CloseHandle(part);
    part = INVALID_HANDLE_VALUE;
  }
};

// What an earlier attempt left: its length in have and its CRC-32 in crc. A part file
// longer than the file, or one that cannot be read back, cannot be trusted. False when the
// launcher started closing while the part file was read back.
bool ResumeExistingPart(Attempt& attempt) {
  attempt.have = 0;
  attempt.crc = kCrc32Start;
  uint64_t size = 0, mtime = 0;
  if (!FileInfo(attempt.partPath, size, mtime)) {
    // A missing part file needs no delete: under Wine every look-up of a missing name reads
    // its whole folder.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) DeleteFileA(attempt.partPath.c_str());
    return true;
  }
  if (size > attempt.file.size) {
    DeleteFileA(attempt.partPath.c_str());
    return true;
  }
  if (size == 0) return true;
  HANDLE part = CreateFileA(attempt.partPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (part == INVALID_HANDLE_VALUE) {
    DeleteFileA(attempt.partPath.c_str());
    return true;
  }
  uint32_t running = 0;
  bool complete = HashOpenFile(part, running);
  CloseHandle(part);
  if (!complete) return false;
  attempt.have = size;
  attempt.crc = running;
  return true;
}

bool CreateEmptyPart(const std::string& partPath) {
  HANDLE file = CreateFileA(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogLine("Cannot write %s (error %lu)", partPath.c_str(), GetLastError());
    return false;
  }
  CloseHandle(file);
  return true;
}

void PublishTransferProgress(const RemoteFile& file, const DownloadProgress& progress, uint64_t have,
                             uint64_t haveAtStart, DWORD startTick, DWORD now) {
  double seconds = static_cast<DWORD>(now - startTick) / 1000.0;
  double speed = seconds > 0.5 ? (have - haveAtStart) / seconds : 0.0;
  std::string detail = Fmt("File %d of %d: %s  -  %s of %s", progress.position, progress.count,
                           file.path.c_str(), Fmt("%.1f MB", have / kMegabyte).c_str(),
                           Fmt("%.1f MB", file.size / kMegabyte).c_str());
  if (speed > 0) detail += Fmt("  (%.1f MB/s)", speed / kMegabyte);
  double fraction = progress.bytesTotal ? double(progress.bytesDone + have) / progress.bytesTotal : 0.0;
  PublishProgress(detail, fraction);
}

// Writes one received piece to the part file and runs the CRC-32 (and a signed file's
// SHA-256) over it; the only place where any of them grows.
bool CommitPiece(Attempt& attempt, const unsigned char* data, size_t size) {
  for (size_t done = 0; done < size; done += kWriteSlice) {
    DWORD slice = static_cast<DWORD>(std::min<size_t>(kWriteSlice, size - done));
    DWORD written = 0;
    if (!WriteFile(attempt.part, data + done, slice, &written, nullptr) || written != slice) return false;
  }
  attempt.crc = Crc32Update(attempt.crc, data, size);
  if (attempt.sha.hash) attempt.sha.hash->Add(data, size);
  attempt.have += size;
  return true;
}

// Streams the body into the part file; returns false when it stopped on a failure. Long
// bodies are written and hashed on a second thread while the next pieces arrive.
bool Transfer(AnswerBody& body, Attempt& attempt) {
  uint64_t remaining = attempt.file.size - attempt.have;
  bool overlap = remaining > kOverlapFrom;
  // A small file's buffer is its size: one byte more still shows a body longer than the file.
  size_t buffer = overlap ? kOverlapPiece : static_cast<size_t>(std::min<uint64_t>(kTransferBuffer, remaining + 1));
  ChunkPipeline pipeline(kOverlapBuffers, buffer,
                         [&attempt](const unsigned char* data, size_t size) { return CommitPiece(attempt, data, size); },
                         overlap);
  DWORD startTick = GetTickCount();
  DWORD lastReport = 0;
  bool reported = false;
  uint64_t haveAtStart = attempt.have;
  uint64_t received = attempt.have;
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
    if (attempt.progress.shown && (!reported || static_cast<DWORD>(now - lastReport) > 100)) {
      PublishTransferProgress(attempt.file, attempt.progress, received, haveAtStart, startTick, now);
      lastReport = now;
      reported = true;
    }
  }
  return pipeline.Finish() && complete;
}

// Opens the part file and cuts it after byte have, so that it holds exactly the bytes the
// CRC-32 covers; a file it has just created needs no cut.
HANDLE OpenPartForWriting(const Attempt& attempt) {
  DWORD access = attempt.keepOpen ? GENERIC_WRITE | DELETE : GENERIC_WRITE;
  HANDLE part = CreateFileA(attempt.partPath.c_str(), access, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (part == INVALID_HANDLE_VALUE || GetLastError() != ERROR_ALREADY_EXISTS) return part;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(attempt.have);
  SetFilePointerEx(part, position, nullptr, FILE_BEGIN);
  SetEndOfFile(part);
  return part;
}

// Takes in an answer to a request for the rest of the file from byte have on; returns a
// result code, or -1 to go on to the check.
int Receive(Attempt& attempt, DWORD status, AnswerBody& body) {
  const RemoteFile& file = attempt.file;
  if (attempt.have > 0 && status == 200) {
    // The server ignored the range and sends the whole file.
    DeleteFileA(attempt.partPath.c_str());
    attempt.have = 0;
    attempt.crc = kCrc32Start;
    RestartSha(attempt.sha);
  } else if (status != 206 && !(status == 200 && attempt.have == 0)) {
    LogLine("Server answered %lu for %s", static_cast<unsigned long>(status), file.path.c_str());
    return kDownloadFailed;
  }
  attempt.part = OpenPartForWriting(attempt);
  if (attempt.part == INVALID_HANDLE_VALUE) {
    LogLine("Cannot write %s (error %lu)", attempt.partPath.c_str(), GetLastError());
    return kDownloadFailed;
  }
  bool complete = Transfer(body, attempt);
  if (!attempt.keepOpen || !complete || attempt.Stopping() || attempt.have != file.size) attempt.ClosePart();
  if (attempt.Stopping()) return kDownloadStopped;
  if (!complete || attempt.have != file.size) {
    LogLine("Download of %s stopped at %llu of %llu bytes", file.path.c_str(),
            static_cast<unsigned long long>(attempt.have), static_cast<unsigned long long>(file.size));
    return kDownloadFailed;
  }
  return -1;
}

// Requests the rest of the file from byte have on and takes in the answer.
int Fetch(Attempt& attempt, const std::string& url) {
  std::string range =
      attempt.have > 0 ? Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(attempt.have)) : "";
  DWORD status = 0;
  HINTERNET request = OpenUrl(url, range, status);
  if (!request) {
    LogLine("Cannot connect to download %s", attempt.file.path.c_str());
    return kDownloadFailed;
  }
  InternetBody body(request);
  int result = Receive(attempt, status, body);
  InternetCloseHandle(request);
  return result;
}

// One attempt: what an earlier one left, then fetch (given the attempt, a result code or -1
// to go on), then the check.
template <typename FetchRest>
int Download(Attempt& attempt, const FetchRest& fetchRest) {
  const RemoteFile& file = attempt.file;
  const std::string& partPath = attempt.partPath;
  CreateParentFolders(partPath);
  if (!attempt.partAbsent && !ResumeExistingPart(attempt)) return kDownloadStopped;
  if (file.size == 0 && !CreateEmptyPart(partPath)) return kDownloadFailed;
  if (file.hasSha256) attempt.sha.hash = std::make_unique<BackgroundSha256>();
  attempt.sha.whole = attempt.have == 0;
  if (attempt.have < file.size) {
    int result = fetchRest(attempt);
    if (result >= 0) return result;
  }
  uint32_t got = ~attempt.crc;
  if (got == file.crc) {
    if (!attempt.sha.whole) attempt.ClosePart();  // the part file is read once more
    if (Sha256Matches(file, partPath, attempt.sha)) return kDownloadOk;
    attempt.ClosePart();
    DeleteFileA(partPath.c_str());
    return kDownloadBadCrc;
  }
  attempt.ClosePart();
  LogLine("CRC mismatch on %s (got %08lX, expected %08lX) - deleting the download", file.path.c_str(),
          static_cast<unsigned long>(got), static_cast<unsigned long>(file.crc));
  DeleteFileA(partPath.c_str());
  return kDownloadBadCrc;
}
}  // namespace

int DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                 const DownloadProgress& progress, const std::atomic<bool>* cancel) {
  Attempt attempt{file, partPath, progress, cancel};
  return Download(attempt, [&url](Attempt& a) { return Fetch(a, url); });
}

int DownloadFromAnswer(const RemoteFile& file, const std::string& partPath, DWORD status, AnswerBody& body,
                       const std::atomic<bool>* cancel, HANDLE& openPart) {
  DownloadProgress quiet{0, 0, 0, 0, false};
  Attempt attempt{file, partPath, quiet, cancel};
  attempt.keepOpen = true;
  attempt.partAbsent = true;
  int result = Download(attempt, [status, &body](Attempt& a) { return Receive(a, status, body); });
  openPart = attempt.part;
  return result;
}

bool MovePartIntoPlace(const std::string& partPath, const std::string& localPath, HANDLE openPart) {
  if (openPart == INVALID_HANDLE_VALUE) {
    return MoveFileExA(partPath.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  // The same rename MoveFileExA makes, without opening the file again. A rename within one
  // folder involves no copy, so there is nothing for a write-through to wait for.
  int length = MultiByteToWideChar(CP_ACP, 0, localPath.c_str(), -1, nullptr, 0);
  if (length <= 1) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>((length - 1) * sizeof(WCHAR));
  MultiByteToWideChar(CP_ACP, 0, localPath.c_str(), -1, rename->FileName, length);
  return SetFileInformationByHandle(openPart, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

void PublishDownloadProgress(const RemoteFile& file, const DownloadProgress& progress, uint64_t have) {
  PublishTransferProgress(file, progress, have, have, 0, 0);
}

std::string MirrorFileUrl(const RemoteFile& file) { return g_mirror + "/" + UrlEncodePath(file.path); }

std::string ServerFileUrl(const RemoteFile& file) { return "/files/" + UrlEncodePath(file.path); }
