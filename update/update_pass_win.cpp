// One update pass: make the game folder equal to the release the content server publishes.
//
// The pass fetches and parses the manifest, checks every listed file (size, cached time,
// CRC-32), downloads what differs into ".part" files, from the mirror while it keeps
// delivering and from the content server otherwise, moves each verified file into place,
// replaces the launcher itself last, writes the game server address into the client's
// configuration and ends in Ready, UpdateFailed or Offline. A set g_quit ends it silently at
// the next check, leaving part files to resume from. Files outside the manifest and the
// player's own files are never touched.
//
// The player's machine: a pass that cannot fit on the game folder's volume starts no
// download, and a disk that fills up meanwhile stops it at once (no retry could succeed);
// a file another program holds for a moment (a virus scanner looking at a new file) is
// waited for before it counts as in use.
#include "update/update_pass_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/server_address.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include "core/worker_flags.h"
#include "gameconfig/coinit_file_win.h"
#include "update/certificate_problem.h"
#include "update/disk_space_win.h"
#include "update/download_win.h"
#include "update/fetch_queue_win.h"
#include "update/file_holder_win.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/part_file_win.h"
#include "update/manifest.h"
#include "update/outcome_report_win.h"
#include "update/preload_win.h"
#include "update/release_choice_win.h"
#include "update/release_trust_win.h"
#include "update/self_update_win.h"
#include "update/unfinished_update_win.h"
#include "update/update_pause_win.h"
#include "update/windows_name_key.h"
#include <algorithm>

namespace {
// A held file is tried again after growing pauses, about 10 s in all.
constexpr DWORD kHeldFirstPauseMs = 250;
constexpr DWORD kHeldLongestPauseMs = 2000;
constexpr DWORD kHeldWaitMs = 10000;
constexpr DWORD kQuitPollMs = 50;

bool IsLauncherEntry(const RemoteFile& file) { return WindowsNameKey(file.path) == "KMLAUNCHER.EXE"; }

// The final publication of a pass; RETRY may start the next pass from here on.
void EndPass(Phase phase, const std::string& headline, const std::string& detail, double progress) {
  SetStatus(phase, headline, detail, progress);
  SendOutcomeReport(phase, headline);
  ReleaseUpdateFlagFromPass();
}

// A release from an https server comes over TLS: a plain-HTTP mirror could change any byte
// that only a CRC-32 checks. Only a signed release (its SHA-256 for every file) may use one.
std::string UsableMirror(const std::string& mirror, const ServerAddress& server) {
  bool plain = Lower(mirror.substr(0, 7)) == "http://";
  if (!plain || !g_releaseKey.empty() || server.form != ServerForm::Https) return mirror;
  LogLine("Not using the file mirror %s: plain HTTP for a release from an https server", mirror.c_str());
  return std::string();
}

void PublishManifest(const Manifest& manifest, const ServerAddress& server) {
  EnterCriticalSection(&g_lock);
  g_updateName = manifest.name;
  g_notes = manifest.notes;
  LeaveCriticalSection(&g_lock);
  EnterCriticalSection(&g_lock);
  g_version = static_cast<unsigned>(manifest.version);
  LeaveCriticalSection(&g_lock);
  g_mirror = UsableMirror(manifest.mirror, server);
  SetManifestGameServer(manifest.gameServer);
}

ManifestFetch FetchManifest(Manifest& manifest, const ServerAddress& server) {
  ManifestFetch fetched = FetchReleaseManifest(manifest);
  if (fetched == ManifestFetch::Ok) PublishManifest(manifest, server);
  return fetched;
}

struct UpdateList {
  std::vector<size_t> updates;  // indices into the file list, the launcher last
  uint64_t bytesToFetch = 0;
};

// The check pass. False when g_quit ended it.
bool CheckFiles(const std::vector<RemoteFile>& files, uint64_t totalBytes, UpdateList& toUpdate) {
  SetStatus(Checking, "Checking your game files...", "", 0);
  uint64_t bytesDone = 0;
  for (size_t i = 0; i < files.size(); i++) {
    if (QuitRequested()) return false;
    if (!IsUpToDate(files[i])) {
      toUpdate.updates.push_back(i);
      toUpdate.bytesToFetch += files[i].size;
    }
    bytesDone += files[i].size;
    PublishProgress(Fmt("%u of %u  -  %s", unsigned(i + 1), unsigned(files.size()), files[i].path.c_str()),
                    totalBytes ? double(bytesDone) / totalBytes : 1.0);
  }
  return !QuitRequested();
}

// Every other file is in place before the launcher restarts.
void PutLauncherLast(const std::vector<RemoteFile>& files, std::vector<size_t>& updates) {
  for (size_t& index : updates) {
    if (IsLauncherEntry(files[index])) {
      std::swap(index, updates.back());
      return;
    }
  }
}

bool IsHeldError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// Sleeps for ms unless the launcher starts closing; false when it did.
bool PauseUnlessQuit(DWORD ms) {
  for (DWORD slept = 0; slept < ms; slept += kQuitPollMs) {
    if (QuitRequested()) return false;
    Sleep(kQuitPollMs);
  }
  return !QuitRequested();
}

enum class Move { Done, Failed, Quit };

// Tries the move again while another program holds the file, with growing pauses, telling
// the player which file waits (and for whom, where Windows can say). Failed with the last
// move's error number in error.
Move WaitForHeldFile(const RemoteFile& file, size_t index, const std::string& localPath, FetchQueue& queue,
                     const DownloadProgress& progress, DWORD& error) {
  std::string holders = ProgramsHoldingFile(localPath);
  std::string by = holders.empty() ? "another program" : holders;
  LogLine("%s is held by %s - waiting for it", file.path.c_str(), by.c_str());
  PublishProgress(Fmt("Waiting for %s, held by %s...", file.path.c_str(), by.c_str()), progress.Fraction(file.size));
  DWORD waited = 0;
  for (DWORD pause = kHeldFirstPauseMs; waited + pause <= kHeldWaitMs;
       pause = std::min(pause * 2, kHeldLongestPauseMs)) {
    if (!PauseUnlessQuit(pause)) return Move::Quit;
    waited += pause;
    if (queue.MoveIntoPlace(index)) return Move::Done;
    error = GetLastError();
    if (!IsHeldError(error)) return Move::Failed;
  }
  return Move::Failed;
}

// Ended after a failed move, with the outcome published once the downloads ahead have
// stopped (RETRY may start the next pass at once), and when the launcher started closing.
Move MoveIntoPlace(const RemoteFile& file, size_t index, const std::string& localPath, FetchQueue& queue,
                   const DownloadProgress& progress) {
  if (queue.MoveIntoPlace(index)) return Move::Done;
  DWORD error = GetLastError();
  if (IsHeldError(error)) {
    Move waited = WaitForHeldFile(file, index, localPath, queue, progress, error);
    if (waited == Move::Done) return waited;
    if (waited == Move::Quit) {
      queue.Stop();
      return waited;
    }
  }
  LogLine("Cannot replace %s (error %lu)", localPath.c_str(), error);
  queue.Stop();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
    EndPass(UpdateFailed, "A game file is in use.",
            "Close Kelmorra (and the editor/servers using this folder), then press RETRY.", 0);
  } else {
    EndPass(UpdateFailed, "A game file could not be replaced.",
            Fmt("%s (error %lu) - see KMLauncher.log", file.path.c_str(), error), 0);
  }
  return Move::Failed;
}

// The outcome of a pass that does not fit on the disk, with DiskSpaceShortfall's detail (empty
// when the disk filled up and has room again by now).
void EndForDiskSpace(std::string detail) {
  if (detail.empty()) detail = "The disk of the game folder is full. Free some space and press RETRY.";
  LogLine("Not enough disk space: %s", detail.c_str());
  EndPass(UpdateFailed, "Not enough disk space", detail, 0);
}

void RecordInstalled(const RemoteFile& file, const std::string& localPath) {
  uint64_t size = 0, mtime = 0;
  if (FileInfo(localPath, size, mtime)) StoreCacheEntry(Lower(file.path), CacheEntry{file.crc, size, mtime});
}

// The pass's files: at the files path of the release chosen and at the manifest's usable
// mirror, into the game folder.
FetchContext PassContext(const ServerAddress& server) {
  FetchContext context;
  context.filesBase = server.base + ContentFilesPath();
  context.mirror = g_mirror;
  context.gameFolder = g_exeDir;
  // The pipeline carries plain http only, without a proxy; an https content server would
  // leave every request of its batches to WinINet one after another.
  context.pipelines = ConnectsDirectly() && server.form != ServerForm::Https;
  return context;
}

enum class DownloadOutcome { Done, Ended };

// The download loop; Ended when the pass ended inside it (failure, quit or self-update).
DownloadOutcome DownloadAll(const std::vector<RemoteFile>& files, const UpdateList& toUpdate,
                            const FetchContext& context) {
  uint64_t bytesDone = 0;
  int count = static_cast<int>(toUpdate.updates.size());
  FetchQueue queue(context, files, toUpdate.updates);
  for (int k = 1; k <= count; k++) {
    const RemoteFile& file = files[toUpdate.updates[k - 1]];
    std::string localPath = context.LocalPath(file);
    size_t index = static_cast<size_t>(k - 1);
    DownloadProgress progress{bytesDone, toUpdate.bytesToFetch, k, count, PublishProgress};
    DownloadResult result = queue.Fetch(index, progress);
    if (result == kDownloadStopped) return DownloadOutcome::Ended;
    if (result == kDownloadDiskFull) {
      queue.Stop();
      EndForDiskSpace(DiskSpaceShortfall(files, toUpdate.updates, index));
      return DownloadOutcome::Ended;
    }
    if (result != kDownloadOk) {
      if (result == kDownloadBadCrc) NoteCrcFailure();
      queue.Stop();
      EndPass(UpdateFailed, "The update could not be downloaded.",
              "Lost the connection to the update server. Press RETRY to continue where it stopped.", 0);
      return DownloadOutcome::Ended;
    }
    MarkUpdateUnfinished();
    if (IsLauncherEntry(file)) {
      queue.Stop();  // closes the part file a download ahead left open
      if (!ReplaceRunningLauncher(PartPathOf(localPath), localPath)) {
        EndPass(UpdateFailed, "The launcher could not update itself.", "See KMLauncher.log. Press RETRY to try again.", 0);
      }
      return DownloadOutcome::Ended;
    }
    if (MoveIntoPlace(file, index, localPath, queue, progress) != Move::Done) return DownloadOutcome::Ended;
    RecordInstalled(file, localPath);
    bytesDone += file.size;
    LogLine("Updated %s (%s)", file.path.c_str(), Megabytes(file.size).c_str());
  }
  SaveCache();
  LogLine("Update complete");
  return DownloadOutcome::Done;
}

// False when a file to fetch would lie deeper than Windows' file calls reach (MAX_PATH
// characters, part file included), with the outcome published: every attempt would fail
// and look like a lost connection.
bool PathsFitWindows(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates,
                     const FetchContext& context) {
  for (size_t index : updates) {
    std::string partPath = context.PartPath(files[index]);
    size_t length = WindowsPathLength(partPath);
    if (length < MAX_PATH) continue;
    LogLine("Path too long for Windows (%u characters, at most %d): %s", unsigned(length), MAX_PATH - 1,
            partPath.c_str());
    EndPass(UpdateFailed, "A game file's path is too long.",
            Fmt("%s is too deep in this folder for Windows. Move the game to a shorter folder, then press RETRY.",
                files[index].path.c_str()),
            0);
    return false;
  }
  return true;
}

void AnnounceUpdate(const UpdateList& toUpdate, const std::string& name) {
  std::string size = Megabytes(toUpdate.bytesToFetch);
  unsigned count = static_cast<unsigned>(toUpdate.updates.size());
  LogLine("%u files need updating (%s)", count, size.c_str());
  NoteBytesToFetch(toUpdate.bytesToFetch);
  std::string headline = name.empty() ? Fmt("Downloading update - %u files, %s", count, size.c_str())
                                      : Fmt("Updating to %s - %u files, %s", name.c_str(), count, size.c_str());
  SetStatus(Updating, headline, "", 0);
}

void FinishReady(const Manifest& manifest) {
  ApplyGameServer(manifest.gameServer);
  ClearUnfinishedUpdate();
  std::string headline = manifest.name.empty() ? Fmt("Up to date  -  version %d", manifest.version)
                                               : Fmt("Up to date  -  %s", manifest.name.c_str());
  EndPass(Ready, headline, "Press PLAY to enter Kelmorra.", 1);
}
// One whole pass.
void UpdateBody() {
  LogLine("Checking for updates at %s", g_server.c_str());
  SetStatus(Connecting, "Connecting to the update server...", g_server, 0);
  BeginOutcomeReport();
  SetManifestGameServer("");
  g_mirror.clear();

  ServerAddress server = ParseServerAddress(g_server);
  if (server.form == ServerForm::Invalid) {
    LogLine("Content server address not understood: %s (%s); use address:port, http://host[:port] or "
            "https://host[:port]", g_server.c_str(), server.problem);
    EndPass(Offline, "The update server address is not valid.",
            "Correct Server= in KMLauncher.cfg and start the launcher again, or PLAY without updating.", 0);
    return;
  }
  Manifest manifest;
  ManifestFetch fetched = FetchManifest(manifest, server);
  if (fetched == ManifestFetch::Refused) {
    EndPass(Offline, "Could not verify the update server's release.",
            "Your game files were not changed. Press RETRY later, or PLAY without updating.", 0);
    return;
  }
  if (fetched == ManifestFetch::Failed) {
    LogLine("Could not get the manifest from %s", g_server.c_str());
    CertificateProblem problem = CertificateProblemOf(LastOpenError());
    if (problem.reason) {
      EndPass(Offline, problem.headline, problem.detail, 0);
      return;
    }
    EndPass(Offline, "Could not reach the update server.",
            "Check your connection and press RETRY, or PLAY without updating.", 0);
    return;
  }
  LogLine("Server content version %d, %u files%s%s", manifest.version, unsigned(manifest.files.size()),
          g_mirror.empty() ? "" : ", file mirror ", g_mirror.c_str());
  uint64_t totalBytes = 0;
  for (const RemoteFile& file : manifest.files) totalBytes += file.size;

  UpdateList toUpdate;
  bool checked = CheckFiles(manifest.files, totalBytes, toUpdate);
  SaveCache();
  if (!checked) return;
  if (toUpdate.updates.empty()) {
    LogLine("All files up to date");
  } else {
    PutLauncherLast(manifest.files, toUpdate.updates);
    AnnounceUpdate(toUpdate, manifest.name);
    FetchContext context = PassContext(server);
    if (!PathsFitWindows(manifest.files, toUpdate.updates, context)) return;
    std::string shortfall = DiskSpaceShortfall(manifest.files, toUpdate.updates, 0);
    if (!shortfall.empty()) {
      EndForDiskSpace(shortfall);
      return;
    }
    if (DownloadAll(manifest.files, toUpdate, context) == DownloadOutcome::Ended) return;
  }
  if (!g_releaseKey.empty()) RecordInstalledRelease(manifest);
  FinishReady(manifest);
  // In Ready (PLAY works) the worker goes on with the next release, unless RETRY took over.
  if (ClaimUpdateFlag()) {
    PreloadNextRelease(manifest);
    ReleaseUpdateFlagFromPass();
  }
}

DWORD WINAPI UpdateThread(void*) {
  UpdateBody();
  EndPassIfPaused();
  FinishUpdateWorker();
  return 0;
}
}  // namespace

void StartUpdate() {
  if (!ClaimUpdateFlag()) return;
  HANDLE thread = CreateThread(nullptr, 0, UpdateThread, nullptr, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    ReleaseUnstartedUpdateFlag();
  }
}
