// Downloads run ahead of the update pass on a few more connections: a batch of small files at
// a time with their requests pipelined, and mid-size files one to a connection, several at
// once, so that they fill a line that holds each connection below its own speed. The pass
// still walks its update list one file at a time: where it would make a file's first
// DownloadFile call, it takes the result of the call made ahead and only then are that call's
// log lines written. So the log, the mirror count, retries, moves into place and outcomes
// come in the order of one download at a time; only the waiting overlaps.
//
// A download runs ahead when the pass's source for it is certain (see fetch_ahead.h), or
// from the mirror once the mirror has proven itself. Should such a mirror turn bad after all,
// the pass sets aside what ran ahead for a file it now asks the content server for (its log
// lines with it) and makes that call itself, which uses a part file the mirror completed.
#pragma once
#include "core/base.h"
#include "update/download_win.h"
#include "update/fetch_ahead.h"
#include "update/fetch_context.h"
#include "update/http_pipeline_win.h"
#include "update/manifest.h"
#include <windows.h>
#include <atomic>
#include <optional>
#include <thread>

class AheadDownloads {
 public:
  // updates: indices into files, in the order of the pass; patchable[k]: the pass patches
  // entry k from its old version itself; failuresToTurnOff: the pass's mirror rule. context
  // must outlive this.
  AheadDownloads(const FetchContext& context, const std::vector<RemoteFile>& files,
                 const std::vector<size_t>& updates, const std::vector<bool>& patchable, int failuresToTurnOff);
  // Stops the downloads still running (their part files stay for a resume), waits for them
  // and closes every part file still open. Nothing runs ahead afterwards.
  void Stop();
  ~AheadDownloads() { Stop(); }
  AheadDownloads(const AheadDownloads&) = delete;
  AheadDownloads& operator=(const AheadDownloads&) = delete;

  // The first download of entry index of the update list from source, for the pass: the one
  // that runs or ran ahead (waiting for it), with its log lines written now, else made now. A
  // download ahead from the other source is dropped with its result and lines.
  DownloadResult FirstDownload(size_t index, Source source, const DownloadProgress& progress);

  // Moves entry index's verified part file into place: through the handle a download ahead
  // left open, else by name. False with the system error number in GetLastError.
  bool MoveIntoPlace(size_t index, const std::string& localPath);

  // The pass has decided the mirror's part in entry index; failures is its count now.
  void Decided(size_t index, int failures);

 private:
  enum class State { Waiting, Running, Done, TakenByPass };
  struct Entry {
    State state = State::Waiting;
    DownloadResult result = kDownloadFailed;
    std::vector<std::string> messages;
    HANDLE part = INVALID_HANDLE_VALUE;
    Source source = Source::ContentServer;
    bool whole = false;  // mid-size: fetched alone on a connection
  };

  struct Batch {
    std::vector<size_t> entries;
    Source source = Source::ContentServer;
    bool whole = false;
  };

  void FindPartFiles();
  std::optional<DownloadResult> TakeResultAhead(size_t index, Source source, const DownloadProgress& progress);
  void CloseLater(HANDLE part);
  Batch ReadyBatch();
  void EndBatch(const Batch& batch);
  bool ClaimBatch(Batch& batch);
  void Work();
  void CloseMovedParts();
  std::vector<size_t> FetchPipelined(HttpPipeline& pipeline, const Batch& batch);
  size_t TakeAnswers(HttpPipeline& pipeline, const std::vector<size_t>& sent, Source source,
                     std::vector<size_t>& left);
  void FetchOne(size_t index, Source source);
  void Finish(size_t index, DownloadResult result, Source source, std::vector<std::string> messages,
              HANDLE part = INVALID_HANDLE_VALUE);

  const FetchContext& context_;
  const std::vector<RemoteFile>& files_;
  const std::vector<size_t>& updates_;
  std::vector<bool> candidates_;
  std::vector<Entry> entries_;
  std::vector<bool> suppliedByMirror_;
  std::vector<bool> mayHavePart_;  // entry k's part file was there before anything ran ahead
  MirrorStanding standing_;
  bool pipelining_;
  size_t smallConnections_;
  size_t runningSmall_ = 0;  // batches of small files being fetched
  size_t runningWhole_ = 0;  // mid-size files being fetched
  size_t next_ = 0;  // entries before it are claimed or not candidates
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  // Slim locks and condition variables: waits and wakes cost no round trip to the Wine
  // server, which thousands of small files would pay for several times each.
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE workAvailable_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE entryDone_ = CONDITION_VARIABLE_INIT;
  std::vector<std::thread> workers_;
  std::vector<HANDLE> toClose_;
};
