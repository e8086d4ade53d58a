// The fetch queue of an update pass; see fetch_queue_win.h. The steps follow source_policy.h;
// a closing launcher neither reconnects, logs nor sleeps between them, since shutdown waits
// for the pass's thread.
#include "update/fetch_queue_win.h"
#include "core/log.h"
#include "core/worker_flags.h"
#include "update/delta_update_win.h"
#include "update/download_win.h"
#include "update/file_state_win.h"
#include "update/source_policy.h"

FetchQueue::FetchQueue(const FetchContext& context, const std::vector<RemoteFile>& files,
                       const std::vector<size_t>& updates)
    : context_(context),
      files_(files),
      updates_(updates),
      patchable_(PatchableEntries()),
      ahead_(context_, files, updates, patchable_, kMirrorFailuresToTurnOff) {}

bool FetchQueue::MirrorInUse() const { return ::MirrorInUse(!context_.mirror.empty(), mirrorFailures_); }

// Whether the file has a block map and an old version here to patch.
bool FetchQueue::Patchable(const RemoteFile& file) const {
  uint64_t size = 0, mtime = 0;
  return file.hasBlockMap && FileInfo(context_.LocalPath(file), size, mtime) && size > 0;
}

// A file found with nothing to patch is downloaded whole even should an old version turn up
// meanwhile, since its download may run ahead.
std::vector<bool> FetchQueue::PatchableEntries() const {
  std::vector<bool> patchable;
  for (size_t index : updates_) patchable.push_back(Patchable(files_[index]));
  return patchable;
}

// From the mirror in use and then from the content server. kResumeByDownloading when the
// file was not patched whole: the download then resumes whatever prefix the attempt left.
DownloadResult FetchQueue::PatchFromOldVersion(const RemoteFile& file, const DownloadProgress& progress) {
  std::string partPath = context_.PartPath(file);
  uint64_t mtime = 0, partSize = 0;
  if (!Patchable(file)) return kResumeByDownloading;
  // A complete part file (left by a failed move) only needs its check.
  if (FileInfo(partPath, partSize, mtime) && partSize >= file.size) return kResumeByDownloading;
  std::vector<Source> sources;
  if (MirrorInUse()) sources.push_back(Source::Mirror);
  sources.push_back(Source::ContentServer);
  for (Source source : sources) {
    DownloadResult result = PatchFile(file, context_.FileUrl(file, source), context_.LocalPath(file), partPath, progress);
    if (result == kDownloadOk || result == kDownloadStopped || result == kResumeByDownloading ||
        result == kDownloadDiskFull) {
      return result;
    }
    if (QuitRequested()) return kDownloadStopped;
    if (result == kDownloadBadCrc) break;
  }
  LogLine("Downloading %s whole", file.path.c_str());
  return kResumeByDownloading;
}

// kDownloadOk, kDownloadStopped, kDownloadDiskFull, or kDownloadFailed when the mirror failed
// this file.
DownloadResult FetchQueue::FromMirror(size_t k, const DownloadProgress& progress) {
  const RemoteFile& file = EntryFile(k);
  DownloadResult result = ahead_.FirstDownload(k, Source::Mirror, progress);
  MirrorStep step = AfterMirrorCall(1, result);
  if (step == MirrorStep::CallAgain && !QuitRequested()) {
    result = DownloadFile(file, context_.FileUrl(file, Source::Mirror), context_.PartPath(file), progress, nullptr,
                          context_.SecondUrl(file, Source::Mirror));
    step = AfterMirrorCall(2, result);
  }
  if (step == MirrorStep::Supplied) {
    mirrorFailures_ = 0;
    return kDownloadOk;
  }
  if (result == kDownloadStopped || QuitRequested()) return kDownloadStopped;
  if (step == MirrorStep::Ends) return result;
  mirrorFailures_++;
  LogLine("Mirror could not supply %s - using the content server%s", file.path.c_str(),
          TurnsMirrorOff(mirrorFailures_) ? " (mirror turned off for this run)" : "");
  return kDownloadFailed;
}

DownloadResult FetchQueue::FromServer(size_t k, const DownloadProgress& progress, bool firstMayHaveRunAhead) {
  const RemoteFile& file = EntryFile(k);
  std::string url = context_.FileUrl(file, Source::ContentServer);
  std::string partPath = context_.PartPath(file);
  for (int attempt = 1;; attempt++) {
    DownloadResult result = firstMayHaveRunAhead && attempt == 1
                                ? ahead_.FirstDownload(k, Source::ContentServer, progress)
                                : DownloadFile(file, url, partPath, progress);
    ServerStep step = AfterServerCall(attempt, result);
    if (step == ServerStep::Ends) return result;
    if (QuitRequested()) return kDownloadStopped;
    if (step == ServerStep::GivesUp) return result;
    LogLine("Retrying %s", file.path.c_str());
    Sleep(kServerRetryPauseMs);
    if (QuitRequested()) return kDownloadStopped;
  }
}

DownloadResult FetchQueue::Fetch(size_t k, const DownloadProgress& progress) {
  DownloadResult result = patchable_[k] ? PatchFromOldVersion(EntryFile(k), progress) : kResumeByDownloading;
  if (result == kResumeByDownloading) {
    if (!MirrorInUse()) {
      result = FromServer(k, progress, true);
    } else {
      result = FromMirror(k, progress);
      if (result == kDownloadFailed) result = FromServer(k, progress, false);
    }
  }
  ahead_.Decided(k, mirrorFailures_);
  return result;
}
