// Downloads run ahead of the update pass; see fetch_ahead_win.h.
#include "update/fetch_ahead_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "update/download_win.h"
#include <algorithm>

namespace {
// Measured with bench/download_vs_curl.py: four connections hide most of the wait for small
// files; more only add to the load on the Wine server.
constexpr size_t kAheadConnections = 4;
// How far ahead of the pass downloads may run, in files.
constexpr size_t kAheadFiles = 16;
// Larger files are fetched by the pass itself, which shows their progress and overlaps
// their writing with receiving.
constexpr uint64_t kAheadMaxSize = 1u << 20;

struct ExclusiveLock {
  explicit ExclusiveLock(SRWLOCK& lock) : lock(lock) { AcquireSRWLockExclusive(&lock); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock); }
  SRWLOCK& lock;
};
}  // namespace

AheadDownloads::AheadDownloads(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates,
                               bool mirror, int failuresToTurnOff)
    : files_(files),
      updates_(updates),
      candidates_(AheadCandidates(files, updates, kAheadMaxSize)),
      entries_(updates.size()) {
  standing_.announced = mirror;
  standing_.failuresToTurnOff = failuresToTurnOff;
  size_t candidates = 0;
  for (bool candidate : candidates_) candidates += candidate;
  size_t workers = std::min(kAheadConnections, candidates);
  for (size_t i = 0; i < workers; i++) workers_.emplace_back(&AheadDownloads::Work, this);
}

AheadDownloads::~AheadDownloads() {
  {
    ExclusiveLock lock(lock_);
    stopping_ = true;
    cancel_ = true;
    WakeAllConditionVariable(&workAvailable_);
  }
  for (std::thread& worker : workers_) worker.join();
}

// Under lock_: the next entry whose first call is certain and within reach.
bool AheadDownloads::ClaimNext(size_t& index, bool& fromMirror) {
  while (next_ < entries_.size() && (!candidates_[next_] || entries_[next_].state != State::Waiting)) next_++;
  for (size_t i = next_; i < entries_.size() && i < standing_.decided + kAheadFiles; i++) {
    if (!FirstSourceIsCertain(standing_, i)) return false;
    if (candidates_[i] && entries_[i].state == State::Waiting) {
      entries_[i].state = State::Running;
      index = i;
      fromMirror = FirstSourceIsMirror(standing_);
      return true;
    }
  }
  return false;
}

void AheadDownloads::Work() {
  for (;;) {
    size_t index = 0;
    bool fromMirror = false;
    {
      ExclusiveLock lock(lock_);
      while (!stopping_ && !ClaimNext(index, fromMirror)) SleepConditionVariableSRW(&workAvailable_, &lock_, INFINITE, 0);
      if (stopping_) return;
    }
    const RemoteFile& file = files_[updates_[index]];
    std::string url = fromMirror ? MirrorFileUrl(file) : ServerFileUrl(file);
    DownloadProgress quiet{0, 0, 0, 0, false};
    LogCapture capture;
    int result = DownloadFile(file, url, LocalPath(file.path) + ".part", quiet, &cancel_);
    ExclusiveLock lock(lock_);
    entries_[index].result = result;
    entries_[index].messages = std::move(capture.messages);
    entries_[index].state = State::Done;
    WakeAllConditionVariable(&entryDone_);
  }
}

int AheadDownloads::TakeFirstCall(size_t index) {
  std::vector<std::string> messages;
  int result = -1;
  {
    ExclusiveLock lock(lock_);
    Entry& entry = entries_[index];
    if (entry.state == State::Waiting) {
      entry.state = State::TakenByPass;
      return -1;
    }
    while (entry.state != State::Done) SleepConditionVariableSRW(&entryDone_, &lock_, INFINITE, 0);
    messages.swap(entry.messages);
    result = entry.result;
  }
  LogMessages(messages);
  return result;
}

void AheadDownloads::Decided(size_t index, int failures) {
  ExclusiveLock lock(lock_);
  standing_.decided = index + 1;
  standing_.failures = failures;
  WakeAllConditionVariable(&workAvailable_);
}
