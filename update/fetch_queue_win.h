// The one owner of "entry k's verified part file" in an update pass. For each entry of the
// update list, in order, the queue patches the file from its old version where it can and
// else downloads it whole, from the mirror while it keeps delivering and from the content
// server otherwise, with the retries of source_policy.h; downloads of later entries run
// ahead of it on more connections (fetch_ahead_win.h). Each outcome, with its log lines,
// comes when the pass asks for that entry, so the player and the log see one file after
// another in the list's order.
#pragma once
#include "core/base.h"
#include "update/download_result.h"
#include "update/fetch_ahead_win.h"
#include "update/fetch_context.h"
#include "update/file_progress.h"
#include "update/manifest.h"

class FetchQueue {
 public:
  // updates: indices into files, in the order the pass takes them. Whether an entry is
  // patched is decided here, once, before anything runs ahead.
  FetchQueue(const FetchContext& context, const std::vector<RemoteFile>& files, const std::vector<size_t>& updates);

  // Entry k's verified part file (kDownloadOk), or why there is none. Entries are asked for
  // once each, from 0 up.
  DownloadResult Fetch(size_t k, const DownloadProgress& progress);

  // Moves entry k's verified part file into place: through the handle a download ahead left
  // open, else by name. False with the system error number in GetLastError.
  bool MoveIntoPlace(size_t k) { return ahead_.MoveIntoPlace(k, context_.LocalPath(EntryFile(k))); }

  // Stops what runs ahead; part files stay for a resume. Nothing is fetched afterwards.
  void Stop() { ahead_.Stop(); }

  const RemoteFile& EntryFile(size_t k) const { return files_[updates_[k]]; }

 private:
  bool MirrorInUse() const;
  bool Patchable(const RemoteFile& file) const;
  std::vector<bool> PatchableEntries() const;
  DownloadResult PatchFromOldVersion(const RemoteFile& file, const DownloadProgress& progress);
  DownloadResult FromMirror(size_t k, const DownloadProgress& progress);
  DownloadResult FromServer(size_t k, const DownloadProgress& progress, bool firstMayHaveRunAhead);

  const FetchContext context_;
  const std::vector<RemoteFile>& files_;
  const std::vector<size_t>& updates_;
  const std::vector<bool> patchable_;
  int mirrorFailures_ = 0;  // files in a row the mirror failed
  AheadDownloads ahead_;
};
