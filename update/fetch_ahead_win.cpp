// Downloads run ahead of the update pass; see fetch_ahead_win.h.
#include "update/fetch_ahead_win.h"
#include "core/log.h"
#include "update/file_state_win.h"
#include "update/part_file_win.h"
#include "update/stretch_plan.h"
#include "update/windows_name_key.h"
#include <algorithm>
#include <map>
#include <set>

namespace {
// Measured with bench/download_vs_curl.py: four connections hide most of the wait for small
// files; more only add to the load on the Wine server.
constexpr size_t kAheadConnections = 4;
// Where requests go through WinINet one at a time (a proxy, an https server), more
// connections keep about as many requests in flight as the pipelined ones do.
constexpr size_t kWinInetConnections = 12;
// How far ahead of the pass downloads may run, in files, and how many one connection asks
// for at once.
constexpr size_t kAheadFiles = 64;
constexpr size_t kBatchFiles = 8;
// Files up to this size go in pipelined batches; larger ones one to a connection, through
// the same download the pass makes (which overlaps writing with receiving).
constexpr uint64_t kBatchMaxSize = 1u << 20;
// Measured with bench/game_install_vs_aria2.py: on a line that holds each connection to a
// quarter of its speed, four mid-size files at once keep it full beside a big file the pass
// fetches over several connections.
constexpr size_t kWholeConnections = 4;
// Files the pass splits over several connections are its own: one split at a time keeps the
// side files the free-space check counts to one stretch.
constexpr uint64_t kAheadMaxSize = kSplitFrom - 1;
constexpr DWORD kWaitReportMs = 100;

// The names of the part files in folder (with its trailing "\\"), as Windows compares them;
// nothing when the folder is missing, and false when it could not be read.
bool PartNamesIn(const std::string& folder, std::set<std::string>& names) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*.part").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  do {
    names.insert(UpcaseAsWindowsNames(found.cFileName));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

struct ExclusiveLock {
  explicit ExclusiveLock(SRWLOCK& lock) : lock(lock) { AcquireSRWLockExclusive(&lock); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock); }
  SRWLOCK& lock;
};

}  // namespace

AheadDownloads::AheadDownloads(const FetchContext& context, const std::vector<RemoteFile>& files,
                               const std::vector<size_t>& updates, const std::vector<bool>& patchable,
                               int failuresToTurnOff)
    : context_(context),
      files_(files),
      updates_(updates),
      candidates_(AheadCandidates(files, updates, kAheadMaxSize, patchable)),
      entries_(updates.size()),
      suppliedByMirror_(updates.size(), false),
      pipelining_(context.pipelines),
      smallConnections_(pipelining_ ? kAheadConnections : kWinInetConnections) {
  standing_.announced = !context.mirror.empty();
  standing_.failuresToTurnOff = failuresToTurnOff;
  size_t small = 0, whole = 0;
  for (size_t i = 0; i < entries_.size(); i++) {
    entries_[i].whole = files[updates[i]].size > kBatchMaxSize;
    if (candidates_[i]) (entries_[i].whole ? whole : small)++;
  }
  FindPartFiles();
  size_t workers = std::min(smallConnections_, small) + std::min(kWholeConnections, whole);
  for (size_t i = 0; i < workers; i++) workers_.emplace_back(&AheadDownloads::Work, this);
}

// Under Wine every look-up of a missing name reads its whole folder: asking for each small
// file's part file by name made thousands of files in one folder cost the square of their
// number. One listing a folder, before anything runs ahead, answers for all of them.
void AheadDownloads::FindPartFiles() {
  std::map<std::string, std::vector<std::pair<size_t, std::string>>> byFolder;  // entry and part name
  for (size_t i = 0; i < entries_.size(); i++) {
    if (!candidates_[i] || entries_[i].whole) continue;
    std::string part = context_.PartPath(files_[updates_[i]]);
    size_t nameStart = part.find_last_of('\\') + 1;
    byFolder[part.substr(0, nameStart)].emplace_back(i, part.substr(nameStart));
  }
  mayHavePart_.assign(entries_.size(), true);
  for (const auto& [folder, entries] : byFolder) {
    std::set<std::string> names;
    if (!PartNamesIn(folder, names)) continue;
    for (const auto& [i, name] : entries) mayHavePart_[i] = names.count(UpcaseAsWindowsNames(name)) > 0;
  }
}

void AheadDownloads::Stop() {
  {
    ExclusiveLock lock(lock_);
    stopping_ = true;
    cancel_ = true;
    WakeAllConditionVariable(&workAvailable_);
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  CloseMovedParts();
  for (Entry& entry : entries_) {
    if (entry.part != INVALID_HANDLE_VALUE) CloseHandle(entry.part);
    entry.part = INVALID_HANDLE_VALUE;
  }
}

void AheadDownloads::CloseLater(HANDLE part) {
  if (part == INVALID_HANDLE_VALUE) return;
  ExclusiveLock lock(lock_);
  toClose_.push_back(part);
  if (toClose_.size() >= kBatchFiles) WakeConditionVariable(&workAvailable_);
}

void AheadDownloads::CloseMovedParts() {
  std::vector<HANDLE> parts;
  {
    ExclusiveLock lock(lock_);
    parts.swap(toClose_);
  }
  for (HANDLE part : parts) CloseHandle(part);
}

// Under lock_: the next entries whose first call is certain and within reach: the first
// mid-size one alone while fewer than kWholeConnections fetch such files, or a batch of small
// ones, whichever comes first. A short batch of small files waits while the reach may still
// grow, unless the pass will soon need its first entry: a request per file would cost the
// Wine server as much as the files themselves.
AheadDownloads::Batch AheadDownloads::ReadyBatch() {
  while (next_ < entries_.size() && (!candidates_[next_] || entries_[next_].state != State::Waiting)) next_++;
  size_t end = std::min(entries_.size(), standing_.decided + kAheadFiles);
  if (!MirrorProven(standing_)) end = std::min(end, CertainSourceEnd(standing_, suppliedByMirror_));
  size_t limit = pipelining_ ? kBatchFiles : 1;
  bool smallRoom = runningSmall_ < smallConnections_, wholeRoom = runningWhole_ < kWholeConnections;
  Batch small, whole;
  whole.whole = true;
  size_t i = next_;
  for (; i < end && (small.entries.size() < limit || (wholeRoom && whole.entries.empty())); i++) {
    if (!candidates_[i] || entries_[i].state != State::Waiting) continue;
    if (!entries_[i].whole) {
      if (smallRoom && small.entries.size() < limit) small.entries.push_back(i);
    } else if (wholeRoom && whole.entries.empty()) {
      whole.entries.push_back(i);
    }
  }
  bool full = small.entries.size() == limit || i == entries_.size();
  bool urgent = !small.entries.empty() && small.entries.front() < standing_.decided + kBatchFiles;
  if (!full && !urgent) small.entries.clear();
  bool wholeFirst = small.entries.empty() || (!whole.entries.empty() && whole.entries[0] < small.entries[0]);
  return wholeFirst ? whole : small;
}

// Under lock_: claims the ready batch, all from the source the pass will use.
bool AheadDownloads::ClaimBatch(Batch& batch) {
  batch = ReadyBatch();
  batch.source = FirstSourceIsMirror(standing_) ? Source::Mirror : Source::ContentServer;
  for (size_t index : batch.entries) {
    entries_[index].state = State::Running;
    entries_[index].source = batch.source;
  }
  if (!batch.entries.empty()) (batch.whole ? runningWhole_ : runningSmall_)++;
  return !batch.entries.empty();
}

// A connection of the batch's kind is free again.
void AheadDownloads::EndBatch(const Batch& batch) {
  ExclusiveLock lock(lock_);
  (batch.whole ? runningWhole_ : runningSmall_)--;
  if (!ReadyBatch().entries.empty()) WakeConditionVariable(&workAvailable_);
}

void AheadDownloads::Work() {
  HttpPipeline pipeline(cancel_);
  for (;;) {
    Batch batch;
    bool closing = false;
    {
      ExclusiveLock lock(lock_);
      for (;;) {
        if (stopping_) return;
        closing = toClose_.size() >= kBatchFiles;
        if (closing || ClaimBatch(batch)) break;
        SleepConditionVariableSRW(&workAvailable_, &lock_, INFINITE, 0);
      }
      if (!ReadyBatch().entries.empty()) WakeConditionVariable(&workAvailable_);
    }
    if (closing) {
      CloseMovedParts();
      continue;
    }
    std::vector<size_t> left = pipelining_ && !batch.whole ? FetchPipelined(pipeline, batch) : batch.entries;
    for (size_t index : left) {
      if (cancel_) break;
      FetchOne(index, batch.source);
    }
    EndBatch(batch);
    if (cancel_) return;
  }
}

// Sends the batch's requests on the pipeline and takes in the answers; returns the entries
// left to be fetched one at a time (in order): those with a part file to resume, another
// server or a URL the pipeline does not carry, and those the connection did not answer or
// redirected.
std::vector<size_t> AheadDownloads::FetchPipelined(HttpPipeline& pipeline, const Batch& batch) {
  std::vector<size_t> sent, left;
  std::vector<std::string> targets;
  std::string authority;
  for (size_t index : batch.entries) {
    const RemoteFile& file = files_[updates_[index]];
    std::string entryAuthority, target;
    bool plain = file.size > 0 && SplitHttpUrl(context_.FileUrl(file, batch.source), entryAuthority, target) &&
                 (authority.empty() || entryAuthority == authority) && !mayHavePart_[index];
    if (!plain) {
      left.push_back(index);
      continue;
    }
    authority = entryAuthority;
    sent.push_back(index);
    targets.push_back(target);
  }
  size_t answered = 0;
  if (!sent.empty() && pipeline.Send(authority, targets)) {
    answered = TakeAnswers(pipeline, sent, batch.source, left);
    if (answered == 0 && pipeline.WentStale() && pipeline.Send(authority, targets)) {
      answered = TakeAnswers(pipeline, sent, batch.source, left);
    }
  }
  left.insert(left.end(), sent.begin() + answered, sent.end());
  std::sort(left.begin(), left.end());
  return left;
}

// Takes in the answers to the requests for entries sent, in order, until the connection ends;
// returns how many came. A redirected entry goes to left.
size_t AheadDownloads::TakeAnswers(HttpPipeline& pipeline, const std::vector<size_t>& sent, Source source,
                                   std::vector<size_t>& left) {
  size_t answered = 0;
  ResponseHead head;
  while (answered < sent.size() && pipeline.NextHead(head)) {
    size_t index = sent[answered++];
    if (head.status >= 300 && head.status < 400) {
      left.push_back(index);  // WinINet follows redirects
    } else {
      const RemoteFile& file = files_[updates_[index]];
      LogCapture capture;
      HANDLE part = INVALID_HANDLE_VALUE;
      DownloadResult result = DownloadFromAnswer(file, context_.PartPath(file), head.status, pipeline.Body(), &cancel_, part);
      Finish(index, result, source, std::move(capture.messages), part);
    }
    if (!pipeline.EndAnswer()) break;
  }
  return answered;
}

void AheadDownloads::FetchOne(size_t index, Source source) {
  const RemoteFile& file = files_[updates_[index]];
  LogCapture capture;
  DownloadResult result = DownloadFile(file, context_.FileUrl(file, source), context_.PartPath(file), QuietProgress(), &cancel_);
  Finish(index, result, source, std::move(capture.messages));
}

void AheadDownloads::Finish(size_t index, DownloadResult result, Source source, std::vector<std::string> messages,
                            HANDLE part) {
  ExclusiveLock lock(lock_);
  entries_[index].part = part;
  entries_[index].result = result;
  entries_[index].messages = std::move(messages);
  entries_[index].state = State::Done;
  suppliedByMirror_[index] = source == Source::Mirror && result == kDownloadOk;
  WakeAllConditionVariable(&entryDone_);
  if (suppliedByMirror_[index] && !ReadyBatch().entries.empty()) WakeConditionVariable(&workAvailable_);
}

// The result of the download ahead of entry index from source, with its log lines written
// now; nothing when there was none (the pass makes the call itself). While a mid-size file
// is still coming, the player sees how much its part file holds.
std::optional<DownloadResult> AheadDownloads::TakeResultAhead(size_t index, Source source,
                                                              const DownloadProgress& progress) {
  std::vector<std::string> messages;
  DownloadResult result = kDownloadFailed;
  {
    ExclusiveLock lock(lock_);
    Entry& entry = entries_[index];
    if (entry.state == State::Waiting) {
      entry.state = State::TakenByPass;
      return std::nullopt;
    }
    while (entry.state != State::Done) {
      if (SleepConditionVariableSRW(&entryDone_, &lock_, entry.whole ? kWaitReportMs : INFINITE, 0)) continue;
      const RemoteFile& file = files_[updates_[index]];
      uint64_t held = 0, mtime = 0;
      ReleaseSRWLockExclusive(&lock_);
      if (FileInfo(context_.PartPath(file), held, mtime)) {
        held = std::min(held, file.size);
        progress.Publish(file.path, AmountDone(held, file.size), held);
      }
      AcquireSRWLockExclusive(&lock_);
    }
    if (entry.source != source) {
      if (entry.part != INVALID_HANDLE_VALUE) CloseHandle(entry.part);
      entry.part = INVALID_HANDLE_VALUE;
      return std::nullopt;
    }
    messages.swap(entry.messages);
    result = entry.result;
  }
  LogMessages(messages);
  return result;
}

DownloadResult AheadDownloads::FirstDownload(size_t index, Source source, const DownloadProgress& progress) {
  const RemoteFile& file = files_[updates_[index]];
  std::optional<DownloadResult> ahead = TakeResultAhead(index, source, progress);
  if (!ahead) {
    return DownloadFile(file, context_.FileUrl(file, source), context_.PartPath(file), progress, nullptr,
                        context_.SecondUrl(file, source));
  }
  if (*ahead == kDownloadOk) progress.Publish(file.path, AmountDone(file.size, file.size), file.size);
  return *ahead;
}

bool AheadDownloads::MoveIntoPlace(size_t index, const std::string& localPath) {
  HANDLE part = INVALID_HANDLE_VALUE;
  {
    ExclusiveLock lock(lock_);
    std::swap(part, entries_[index].part);
  }
  bool moved = MovePartIntoPlace(PartPathOf(localPath), localPath, part);
  DWORD error = GetLastError();
  if (moved) {
    CloseLater(part);
  } else if (part != INVALID_HANDLE_VALUE) {
    CloseHandle(part);
  }
  SetLastError(error);
  return moved;
}

void AheadDownloads::Decided(size_t index, int failures) {
  ExclusiveLock lock(lock_);
  standing_.decided = index + 1;
  standing_.failures = failures;
  standing_.faltered = standing_.faltered || failures > 0;
  if (!ReadyBatch().entries.empty()) WakeConditionVariable(&workAvailable_);
}
