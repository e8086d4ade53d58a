// Resumable download; see download_win.h. The part file always holds a prefix of the file
// as received so far, and the running CRC-32 always covers exactly the bytes in it, so a
// later attempt (in this pass, the next pass or the next run) resumes with a Range request.
#include "update/download_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/release_trust_win.h"
#include "update/sha256_background.h"
#include <memory>

namespace {
constexpr DWORD kTransferBuffer = 262144;
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

// What an earlier attempt left: its length in have and its CRC-32 in crc. A part file
// longer than the file, or one that cannot be read back, cannot be trusted. False when the
// launcher started closing while the part file was read back.
bool ResumeExistingPart(const std::string& partPath, uint64_t expectedSize, uint64_t& have, uint32_t& crc) {
  have = 0;
  crc = kCrc32Start;
  uint64_t size = 0, mtime = 0;
  if (!FileInfo(partPath, size, mtime) || size > expectedSize) {
    DeleteFileA(partPath.c_str());
    return true;
  }
  if (size == 0) return true;
  HANDLE part = CreateFileA(partPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (part == INVALID_HANDLE_VALUE) {
    DeleteFileA(partPath.c_str());
    return true;
  }
  uint32_t running = 0;
  bool complete = HashOpenFile(part, running);
  CloseHandle(part);
  if (!complete) return false;
  have = size;
  crc = running;
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

void PublishDownloadProgress(const RemoteFile& file, const DownloadProgress& progress, uint64_t have,
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

// Streams the body into the part file; returns false when the loop stopped on a failure.
bool Transfer(HINTERNET request, HANDLE part, const RemoteFile& file, const DownloadProgress& progress,
              uint64_t& have, uint32_t& crc, StreamSha& sha) {
  std::vector<unsigned char> buffer(kTransferBuffer);
  DWORD startTick = GetTickCount();
  DWORD lastReport = 0;
  bool reported = false;
  uint64_t haveAtStart = have;
  while (have < file.size) {
    if (QuitRequested()) return false;
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), kTransferBuffer, &got)) return false;
    if (got == 0) return true;
    DWORD written = 0;
    if (!WriteFile(part, buffer.data(), got, &written, nullptr) || written != got) return false;
    crc = Crc32Update(crc, buffer.data(), got);
    if (sha.hash) sha.hash->Add(buffer.data(), got);
    have += got;
    DWORD now = GetTickCount();
    if (!reported || static_cast<DWORD>(now - lastReport) > 100) {
      PublishDownloadProgress(file, progress, have, haveAtStart, startTick, now);
      lastReport = now;
      reported = true;
    }
  }
  return true;
}

// Fetches the rest of the file from byte have on; returns a result code, or -1 to go on to
// the check.
int Fetch(const RemoteFile& file, const std::string& url, const std::string& partPath,
          const DownloadProgress& progress, uint64_t& have, uint32_t& crc, StreamSha& sha) {
  std::string range = have > 0 ? Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(have)) : "";
  DWORD status = 0;
  HINTERNET request = OpenUrl(url, range, status);
  if (!request) {
    LogLine("Cannot connect to download %s", file.path.c_str());
    return kDownloadFailed;
  }
  if (have > 0 && status == 200) {
    // The server ignored the range and sends the whole file.
    DeleteFileA(partPath.c_str());
    have = 0;
    crc = kCrc32Start;
    RestartSha(sha);
  } else if (status != 206 && !(status == 200 && have == 0)) {
    LogLine("Server answered %lu for %s", static_cast<unsigned long>(status), file.path.c_str());
    InternetCloseHandle(request);
    return kDownloadFailed;
  }
  HANDLE part = CreateFileA(partPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (part == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    InternetCloseHandle(request);
    LogLine("Cannot write %s (error %lu)", partPath.c_str(), error);
    return kDownloadFailed;
  }
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(have);
  SetFilePointerEx(part, position, nullptr, FILE_BEGIN);
  SetEndOfFile(part);
  bool complete = Transfer(request, part, file, progress, have, crc, sha);
  CloseHandle(part);
  InternetCloseHandle(request);
  if (QuitRequested()) return kDownloadStopped;
  if (!complete || have != file.size) {
    LogLine("Download of %s stopped at %llu of %llu bytes", file.path.c_str(),
            static_cast<unsigned long long>(have), static_cast<unsigned long long>(file.size));
    return kDownloadFailed;
  }
  return -1;
}
}  // namespace

int DownloadFile(const RemoteFile& file, const std::string& url, const std::string& partPath,
                 const DownloadProgress& progress) {
  CreateParentFolders(partPath);
  uint64_t have = 0;
  uint32_t crc = kCrc32Start;
  if (!ResumeExistingPart(partPath, file.size, have, crc)) return kDownloadStopped;
  if (file.size == 0 && !CreateEmptyPart(partPath)) return kDownloadFailed;
  StreamSha sha;
  if (file.hasSha256) sha.hash = std::make_unique<BackgroundSha256>();
  sha.whole = have == 0;
  if (have < file.size) {
    int result = Fetch(file, url, partPath, progress, have, crc, sha);
    if (result >= 0) return result;
  }
  uint32_t got = ~crc;
  if (got == file.crc) {
    if (Sha256Matches(file, partPath, sha)) return kDownloadOk;
    DeleteFileA(partPath.c_str());
    return kDownloadBadCrc;
  }
  LogLine("CRC mismatch on %s (got %08lX, expected %08lX) - deleting the download", file.path.c_str(),
          static_cast<unsigned long>(got), static_cast<unsigned long>(file.crc));
  DeleteFileA(partPath.c_str());
  return kDownloadBadCrc;
}
