// A big file over several connections; see split_download_win.h.
//
// The thread that called FetchOverConnections coordinates: it joins stretches onto the part
// file, asks the governor how many connections the line is worth, starts them, and publishes
// progress. Each connection runs on a thread of its own and fetches one claimed stretch at
// a time through ReceiveBody. The plan's lock orders everything the threads share; a stretch
// marked busy belongs to the one thread working on it, and so does its file.
#include "update/split_download_win.h"
#include "core/log.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include "update/body_loop_win.h"
#include "update/stretch_plan.h"
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {
// Eight connections fill a line that gives each a quarter of its speed (bench/network_vs_curl.py,
// line); more only add requests. Where a file splits and how long a stretch is: stretch_plan.h.
constexpr unsigned kMaxConnections = 8;
// A server that turns extra connections away (or a line that drops them) leaves the file to
// one connection after a few failures; the attempt gives up only after more failures than the
// connections that can be under way when that happens.
constexpr unsigned kFailuresToShareNoMore = 3;
constexpr unsigned kMaxFailures = 12;
// A connection that failed waits before it asks again, longer after each failure: a server
// that is still finishing the answer a stretch's connection walked away from counts it as
// busy for a moment, and an immediate retry would spend every failure on that moment.
constexpr DWORD kRetryPauseMs = 100;
constexpr unsigned kRetryPauseSteps = 10;  // up to a second: twelve failures span about 8 s
// A first answer this slow comes from a distant server: every connection there pays the
// round trip and slow start, so the file is shared at once rather than after a first sample
// (on loopback or a LAN the answer takes a few milliseconds and the sample decides).
constexpr uint64_t kDistantAnswerMs = 20;
constexpr DWORD kCoordinateMs = 20;
constexpr DWORD kReportMs = 100;
constexpr DWORD kCopyPiece = 1u << 20;
constexpr size_t kWriteSlice = 16384;  // as the part file writes, for the same reason

SRWLOCK g_oneConnectionLock = SRWLOCK_INIT;
std::set<std::string> g_oneConnection;  // lower-case manifest paths

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Calls visit with the name (without folder) and size of every file beside localPath whose
// name begins with its name and ends in ".part".
template <typename Visit>
void ForEachSideCandidate(const std::string& localPath, const Visit& visit) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((localPath + ".*.part").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    visit(std::string(found.cFileName), (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// The side files of this version of the file; those of another version are removed.
std::vector<SidePiece> FindSidePieces(const RemoteFile& file, const std::string& localPath) {
  std::vector<SidePiece> pieces;
  std::string base = NameOf(localPath), folder = FolderOf(localPath);
  ForEachSideCandidate(localPath, [&](const std::string& name, uint64_t size) {
    SidePiece piece;
    if (ParseSideName(name, base, file.crc, piece.start)) {
      piece.size = size;
      pieces.push_back(piece);
    } else if (IsSideNameOf(name, base)) {
      DeleteFileA((folder + name).c_str());
    }
  });
  return pieces;
}

// A side file open for appending after the bytes its stretch holds.
class SideFile {
 public:
  ~SideFile() { Close(); }
  bool Open(const std::string& path, uint64_t holds) {
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return Failed(GetLastError());
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(holds);
    if (SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle_)) return true;
    Failed(GetLastError());
    Close();
    return false;
  }
  bool Append(const unsigned char* data, size_t size) {
    for (size_t done = 0; done < size; done += kWriteSlice) {
      DWORD slice = static_cast<DWORD>(std::min(kWriteSlice, size - done));
      DWORD written = 0;
      BOOL wrote = WriteFile(handle_, data + done, slice, &written, nullptr);
      if (!wrote || written != slice) return Failed(wrote ? ERROR_DISK_FULL : GetLastError());  // short: full
    }
    return true;
  }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  bool DiskFull() const { return error_ == ERROR_DISK_FULL || error_ == ERROR_HANDLE_DISK_FULL; }

 private:
  bool Failed(DWORD error) {
    error_ = error;
    return false;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD error_ = 0;
};

// Whether a 206 answer is the rest of the file from start on; an answer without a
// Content-Range is taken on trust (the CRC-32 of the whole still decides).
bool AnswersRangeFrom(HINTERNET request, uint64_t start, uint64_t fileSize) {
  char text[128] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr)) return true;
  return ContentRangeFits(std::string(text, size), start, fileSize);
}

// Dropped: the second source failed the stretch, which goes back to the first.
enum class StretchEnd { Reached, Failed, Refused, Stopped, Dropped };

class Split {
 public:
  Split(SplitFetch& fetch, std::vector<SidePiece> pieces)
      : fetch_(fetch),
        plan_(fetch.file.size, fetch.part.Size(), pieces, kStretchMax, &unusable_),
        governor_(fetch.file.size - fetch.part.Size(), kMaxConnections) {
    for (const SidePiece& piece : unusable_) DeleteFileA(SidePathAt(piece.start).c_str());
    if (plan_.Stretches().size() > 1 || fetch.answerMs >= kDistantAnswerMs) governor_.Share();
  }

  void Run(AnswerBody& first, bool overlap);
  bool Refused() const { return refused_; }

 private:
  std::string SidePathAt(uint64_t start) const { return SidePath(fetch_.localPath, fetch_.file.crc, start); }
  bool Stopping(uint64_t start) const { return abort_ || fetch_.stopping() || (refused_ && start != 0); }
  bool TakesSecondSource(uint64_t start);
  StretchEnd DropSecondSource(const std::string& why);
  uint64_t HeldBy(uint64_t start);
  void Worker(uint64_t start, AnswerBody* first, bool overlap);
  void PauseAfterFailure(std::unique_lock<std::mutex>& lock, unsigned failures);
  StretchEnd FetchStretch(uint64_t start, AnswerBody* first, bool overlap);
  StretchEnd Stream(uint64_t start, uint64_t from, AnswerBody& body, bool overlap);
  StretchEnd StreamPacked(uint64_t start, uint64_t from, AnswerBody& body, bool overlap);
  StretchEnd Ended(BodyEnd end, uint64_t start, bool wroteAll, const SideFile& side);
  bool OpenStretchFile(uint64_t start, uint64_t from, SideFile& side);
  void SideWriteFailed(const SideFile& side);
  void StartConnections();
  void JoinReady(std::unique_lock<std::mutex>& lock);
  uint64_t Join(const SidePiece& next);

  SplitFetch& fetch_;
  std::vector<SidePiece> unusable_;
  StretchPlan plan_;
  ConnectionGovernor governor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
  unsigned active_ = 0;
  unsigned failures_ = 0;
  bool secondsTurn_ = false;  // whether the next side stretch goes to the second source
  std::atomic<bool> secondDropped_{false};
  std::atomic<bool> abort_{false};
  std::atomic<bool> refused_{false};
  std::atomic<bool> writeFailed_{false};
  std::atomic<bool> sideDiskFull_{false};
  std::mutex damageMutex_;  // guards fetch_.damage
};

uint64_t Split::HeldBy(uint64_t start) {
  for (const Stretch& stretch : plan_.Stretches()) {
    if (stretch.start == start) return stretch.filled;
  }
  return 0;
}

void Split::Run(AnswerBody& first, bool overlap) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The first connection keeps the whole stretch: on a fast line it ends the file alone.
  if (plan_.ClaimFirst()) {
    active_ = 1;
    threads_.emplace_back(&Split::Worker, this, uint64_t(0), &first, overlap);
  } else {
    fetch_.firstDone();  // the part file's stretch is complete: nothing to read from it
  }
  bool collapsed = false;
  governor_.Update(GetTickCount64(), plan_.Held());  // the first window starts with the answer
  DWORD lastReport = 0;
  for (;;) {
    changed_.wait_for(lock, std::chrono::milliseconds(kCoordinateMs));
    if (fetch_.stopping() || writeFailed_ || abort_ || failures_ >= kMaxFailures) break;
    JoinReady(lock);
    if (plan_.Done() || writeFailed_) break;
    if (refused_ && !collapsed) {
      collapsed = true;  // the side connections stop; the part file's goes on to the end
      governor_.Single();
      plan_.Collapse();
    }
    governor_.Update(GetTickCount64(), plan_.Held());
    StartConnections();
    if (active_ == 0 && !plan_.Done()) break;  // nothing left that a connection could fetch
    DWORD now = GetTickCount();
    if (static_cast<DWORD>(now - lastReport) > kReportMs) {
      lastReport = now;
      uint64_t held = plan_.Held();
      lock.unlock();
      fetch_.report(held);
      lock.lock();
    }
  }
  abort_ = true;
  lock.unlock();
  for (std::thread& thread : threads_) thread.join();
  if (refused_) RemoveSideFiles(fetch_.localPath);
  // A side file that found the volume full ends the download as the part file would.
  if (sideDiskFull_) fetch_.part.NoteDiskFull();
}

// Under the lock: more connections while the governor wants them and there is work to share.
void Split::StartConnections() {
  unsigned wanted = governor_.Wanted();
  if (wanted > 1) plan_.ShareFirst();
  uint64_t start = 0;
  while (active_ < wanted && plan_.Claim(start, wanted > 1)) {
    active_++;
    threads_.emplace_back(&Split::Worker, this, start, nullptr, false);
  }
}

// Under the lock: every stretch that can be joined onto the part file now.
void Split::JoinReady(std::unique_lock<std::mutex>& lock) {
  SidePiece next;
  while (!writeFailed_ && plan_.BeginJoin(next)) {
    lock.unlock();
    uint64_t copied = Join(next);
    lock.lock();
    plan_.Joined(copied);
  }
}

// Appends the side file's bytes to the part file and removes it; the bytes copied.
uint64_t Split::Join(const SidePiece& next) {
  std::string path = SidePathAt(next.start);
  HANDLE side = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  uint64_t copied = 0;
  if (side != INVALID_HANDLE_VALUE) {
    std::vector<unsigned char> buffer(kCopyPiece);
    while (copied < next.size) {
      DWORD want = static_cast<DWORD>(std::min<uint64_t>(kCopyPiece, next.size - copied));
      DWORD got = 0;
      if (!ReadFile(side, buffer.data(), want, &got, nullptr) || got == 0) break;
      if (!fetch_.part.Append(buffer.data(), got)) {
        writeFailed_ = true;
        break;
      }
      copied += got;
    }
    CloseHandle(side);
  }
  // Only once its bytes are in the part file: a kill in between leaves a side file that
  // starts inside the part file, which the next attempt removes.
  if (!writeFailed_) DeleteFileA(path.c_str());
  return copied;
}

void Split::Worker(uint64_t start, AnswerBody* first, bool overlap) {
  for (;;) {
    StretchEnd end = FetchStretch(start, first, overlap);
    first = nullptr;
    overlap = false;
    std::unique_lock<std::mutex> lock(mutex_);
    plan_.Release(start);
    if (end == StretchEnd::Failed) {
      if (++failures_ >= kFailuresToShareNoMore) governor_.Single();
      if (active_ <= governor_.Wanted()) PauseAfterFailure(lock, failures_);
    }
    bool more = !abort_ && !fetch_.stopping() && failures_ < kMaxFailures && active_ <= governor_.Wanted() &&
                plan_.Claim(start, governor_.Wanted() > 1);
    if (!more) {
      active_--;
      changed_.notify_all();
      return;
    }
    changed_.notify_all();
  }
}

// Under the lock: whether the stretch at start, just claimed, is asked at the second source.
bool Split::TakesSecondSource(uint64_t start) {
  if (start == 0 || fetch_.secondUrl.empty() || fetch_.packed || secondDropped_) return false;
  secondsTurn_ = !secondsTurn_;
  return secondsTurn_;
}

StretchEnd Split::DropSecondSource(const std::string& why) {
  if (!secondDropped_.exchange(true)) {
    LogLine("Not sharing %s with %s any more: %s", fetch_.file.path.c_str(), fetch_.secondUrl.c_str(), why.c_str());
  }
  return StretchEnd::Dropped;
}

// Under the lock, which it gives up while it waits; a stop request ends the wait.
void Split::PauseAfterFailure(std::unique_lock<std::mutex>& lock, unsigned failures) {
  ULONGLONG until = GetTickCount64() + kRetryPauseMs * std::min(failures, kRetryPauseSteps);
  while (!abort_ && !fetch_.stopping() && GetTickCount64() < until) {
    changed_.wait_for(lock, std::chrono::milliseconds(kCoordinateMs));
  }
}

// Asks for the stretch at start from where its bytes end (the first connection's answer is
// given) and streams it.
StretchEnd Split::FetchStretch(uint64_t start, AnswerBody* first, bool overlap) {
  uint64_t from = 0;
  bool second = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    from = start + HeldBy(start);
    second = TakesSecondSource(start);
  }
  if (first) {
    StretchEnd end = fetch_.packed ? StreamPacked(start, from, *first, overlap) : Stream(start, from, *first, overlap);
    fetch_.firstDone();
    return end;
  }
  if (Stopping(start)) return StretchEnd::Stopped;
  const PackedIndex* packed = fetch_.packed;
  // A packed form is asked for from the block the stretch's next byte is in.
  uint64_t ask = packed ? packed->offsets[from / kPackedBlockSize] : from;
  uint64_t total = packed ? packed->PackedSize() : fetch_.file.size;
  DWORD status = 0;
  const std::string& url = second ? fetch_.secondUrl : fetch_.url;
  HINTERNET request = OpenUrl(url, Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(ask)), status);
  if (!request) return second ? DropSecondSource(Fmt("no answer (error %lu)", LastOpenError())) : StretchEnd::Failed;
  StretchEnd end = StretchEnd::Failed;
  // The part file's own rule takes any 206 (the CRC-32 of the whole decides); another
  // stretch must be the range it asked for.
  bool fits = status == 206 && (start == 0 || AnswersRangeFrom(request, ask, total));
  if (second && !fits) {
    end = DropSecondSource(Fmt("it answered %lu", static_cast<unsigned long>(status)));
  } else if (packed && (status == 200 || (status == 206 && !fits))) {
    refused_ = true;  // the file goes on over one connection, from the part file's size
    end = StretchEnd::Refused;
  } else if (status == 200 || (status == 206 && !fits)) {
    refused_ = true;
    if (start == 0 && status == 200) {
      // The part file's own rule: a range answered with the whole file starts it again.
      {
        std::lock_guard<std::mutex> lock(mutex_);
        plan_.Collapse();
        plan_.SetFilled(0, 0);
      }
      fetch_.part.Restart();
      InternetBody body(request);
      end = fetch_.part.OpenForWriting() ? Stream(0, 0, body, true) : StretchEnd::Failed;
    } else {
      end = StretchEnd::Refused;
    }
  } else if (fits) {
    InternetBody body(request);
    end = packed ? StreamPacked(start, from, body, start == 0) : Stream(start, from, body, start == 0);
    if (second && end == StretchEnd::Failed && !writeFailed_) end = DropSecondSource("its answer broke off");
  }
  InternetCloseHandle(request);
  return end;
}

StretchEnd Split::Stream(uint64_t start, uint64_t from, AnswerBody& body, bool overlap) {
  SideFile side;
  bool isPart = start == 0;
  if (!OpenStretchFile(start, from, side)) return StretchEnd::Failed;
  bool wroteAll = true;
  BodyTarget target;
  target.write = [&](const unsigned char* data, size_t size) {
    wroteAll = isPart ? fetch_.part.Append(data, size) : side.Append(data, size);
    return wroteAll;
  };
  target.stopping = [this, start] { return Stopping(start); };
  target.end = [this, start] {
    std::lock_guard<std::mutex> lock(mutex_);
    return plan_.EndOf(start);
  };
  target.clip = true;
  target.advanced = [this, start](uint64_t received) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.SetFilled(start, received - start);
  };
  uint64_t received = from;
  BodyEnd end = ReceiveBody(body, from, target, overlap, received);
  return Ended(end, start, wroteAll, side);
}

// The packed form's blocks from the one from is in, inflated into the stretch's file up to
// the stretch's end (which may move closer meanwhile); the rest of the last block is dropped.
StretchEnd Split::StreamPacked(uint64_t start, uint64_t from, AnswerBody& body, bool overlap) {
  const PackedIndex& index = *fetch_.packed;
  SideFile side;
  bool isPart = start == 0;
  if (!OpenStretchFile(start, from, side)) return StretchEnd::Failed;
  bool wroteAll = true;
  uint64_t at = from;  // the file's next byte to write
  BlockInflater inflater(fetch_.file.size, [&](const uint8_t* data, size_t size) {
    uint64_t stretchEnd = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stretchEnd = plan_.EndOf(start);
    }
    size_t keep = at >= stretchEnd ? 0 : static_cast<size_t>(std::min<uint64_t>(size, stretchEnd - at));
    if (keep > 0) wroteAll = isPart ? fetch_.part.Append(data, keep) : side.Append(data, keep);
    if (!wroteAll) return false;
    at += keep;
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.SetFilled(start, at - start);
    return true;
  });
  size_t block = static_cast<size_t>(from / kPackedBlockSize);
  inflater.StartAt(index, block, static_cast<uint32_t>(from - uint64_t(block) * kPackedBlockSize));
  BodyTarget target;
  target.write = [&inflater](const unsigned char* data, size_t size) { return inflater.Feed(data, size); };
  target.stopping = [this, start] { return Stopping(start); };
  target.end = [this, start, &index] {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t blocks = (plan_.EndOf(start) + kPackedBlockSize - 1) / kPackedBlockSize;
    return index.offsets[static_cast<size_t>(std::min<uint64_t>(blocks, index.Blocks()))];
  };
  target.clip = true;
  uint64_t received = 0;
  BodyEnd end = ReceiveBody(body, index.offsets[block], target, overlap, received);
  if (inflater.Damaged()) {
    std::lock_guard<std::mutex> lock(damageMutex_);
    fetch_.damage = inflater.Why();
    abort_ = true;
  }
  return Ended(end, start, wroteAll, side);
}

// The stretch at start writes into the part file, or into its side file opened here after
// the bytes it holds up to from.
bool Split::OpenStretchFile(uint64_t start, uint64_t from, SideFile& side) {
  if (start == 0 || side.Open(SidePathAt(start), from - start)) return true;
  SideWriteFailed(side);
  return false;
}

void Split::SideWriteFailed(const SideFile& side) {
  writeFailed_ = true;
  if (side.DiskFull()) sideDiskFull_ = true;
}

StretchEnd Split::Ended(BodyEnd end, uint64_t start, bool wroteAll, const SideFile& side) {
  if (!wroteAll) {
    writeFailed_ = true;  // the part file's own failure is in the part file
    if (start != 0) SideWriteFailed(side);
  }
  if (start == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.SetFilled(0, fetch_.part.Size());  // exactly what the part file holds
  }
  switch (end) {
    case BodyEnd::Reached: return StretchEnd::Reached;
    case BodyEnd::Stopped: return StretchEnd::Stopped;
    default: return StretchEnd::Failed;
  }
}
}  // namespace

bool SplitsDownload(const RemoteFile& file, const std::string& localPath) {
  if (file.size < kSplitFrom) return false;
  if (WindowsPathLength(SidePath(localPath, file.crc, file.size)) >= MAX_PATH) return false;
  AcquireSRWLockShared(&g_oneConnectionLock);
  bool one = g_oneConnection.count(Lower(file.path)) > 0;
  ReleaseSRWLockShared(&g_oneConnectionLock);
  return !one;
}

void FetchOverConnections(SplitFetch& fetch, AnswerBody& first, bool overlap) {
  Split split(fetch, FindSidePieces(fetch.file, fetch.localPath));
  split.Run(first, overlap);
  if (split.Refused()) UseOneConnection(fetch.file, fetch.localPath);
}

void UseOneConnection(const RemoteFile& file, const std::string& localPath) {
  AcquireSRWLockExclusive(&g_oneConnectionLock);
  g_oneConnection.insert(Lower(file.path));
  ReleaseSRWLockExclusive(&g_oneConnectionLock);
  RemoveSideFiles(localPath);
}

void RemoveSideFiles(const std::string& localPath) {
  std::string base = NameOf(localPath), folder = FolderOf(localPath);
  ForEachSideCandidate(localPath, [&](const std::string& name, uint64_t) {
    if (IsSideNameOf(name, base)) DeleteFileA((folder + name).c_str());
  });
}
