// One update pass: make the game folder equal to the release the content server publishes.
//
// The pass fetches and parses the manifest, checks every listed file (size, cached time,
// CRC-32), downloads what differs into ".part" files, from the mirror while it keeps
// delivering and from the content server otherwise, moves each verified file into place,
// replaces the launcher itself last, writes the game server address into the client's
// configuration and ends in Ready, UpdateFailed or Offline. A set g_quit ends it silently at
// the next check, leaving part files to resume from. Files outside the manifest and the
// player's own files are never touched.
#include "core/globals_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "gameconfig/coinit_file_win.h"
#include "update/delta_update_win.h"
#include "update/download_win.h"
#include "update/fetch_ahead_win.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/manifest.h"
#include "update/release_trust_win.h"
#include "update/self_update_win.h"

namespace {
constexpr int kMirrorFailuresToTurnOff = 3;
constexpr int kServerAttempts = 3;
constexpr DWORD kRetryPauseMs = 1000;

int g_mirrorFailures = 0;

std::string Megabytes(uint64_t bytes) { return Fmt("%.1f MB", bytes / 1048576.0); }

bool IsLauncherEntry(const RemoteFile& file) { return Lower(file.path) == "kmlauncher.exe"; }

// The final publication of a pass; RETRY may start the next pass from here on.
void EndPass(Phase phase, const std::string& headline, const std::string& detail, double progress) {
  SetStatus(phase, headline, detail, progress);
  ReleaseUpdateFlagFromPass();
}

void PublishManifest(const Manifest& manifest) {
  EnterCriticalSection(&g_lock);
  g_updateName = manifest.name;
  g_notes = manifest.notes;
  LeaveCriticalSection(&g_lock);
  EnterCriticalSection(&g_lock);
  g_version = static_cast<unsigned>(manifest.version);
  LeaveCriticalSection(&g_lock);
  g_mirror = manifest.mirror;
  SetManifestGameServer(manifest.gameServer);
}

enum class ManifestFetch { Ok, Failed, Refused };

ManifestFetch FetchManifest(Manifest& manifest) {
  std::string body;
  if (!HttpGetText("/manifest", body)) return ManifestFetch::Failed;
  if (!g_releaseKey.empty() && !ParseVerifiedManifest(body, manifest)) return ManifestFetch::Refused;
  if (g_releaseKey.empty()) manifest = ParseManifest(body);
  for (const std::string& path : manifest.unsafePaths) LogLine("Ignoring unsafe path in manifest: %s", path.c_str());
  if (!manifest.accepted) return ManifestFetch::Failed;
  PublishManifest(manifest);
  return ManifestFetch::Ok;
}

struct Plan {
  std::vector<size_t> updates;  // indices into the file list, the launcher last
  uint64_t bytesToFetch = 0;
};

// The check pass. False when g_quit ended it.
bool CheckFiles(const std::vector<RemoteFile>& files, uint64_t totalBytes, Plan& plan) {
  SetStatus(Checking, "Checking your game files...", "", 0);
  uint64_t bytesDone = 0;
  for (size_t i = 0; i < files.size(); i++) {
    if (QuitRequested()) return false;
    if (!IsUpToDate(files[i])) {
      plan.updates.push_back(i);
      plan.bytesToFetch += files[i].size;
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

// The first DownloadFile call for entry k of the update list: made ahead, or made now.
// openPart receives the part file when it was left open for the move.
struct FirstCall {
  AheadDownloads& ahead;
  size_t k;
  HANDLE& openPart;
  int Make(const RemoteFile& file, const std::string& url, const std::string& partPath,
           const DownloadProgress& progress, bool fromMirror) const {
    int result = ahead.TakeFirstCall(k, fromMirror, openPart);
    if (result < 0) return DownloadFile(file, url, partPath, progress);
    if (result == kDownloadOk) PublishDownloadProgress(file, progress, file.size);
    return result;
  }
};

// kDownloadOk, kDownloadStopped, or kDownloadFailed when the mirror failed this file.
int DownloadFromMirror(const RemoteFile& file, const std::string& partPath, const DownloadProgress& progress,
                       const FirstCall& first) {
  std::string url = MirrorFileUrl(file);
  int result = first.Make(file, url, partPath, progress, true);
  if (result == kDownloadFailed && !QuitRequested()) result = DownloadFile(file, url, partPath, progress);
  if (result == kDownloadOk) {
    g_mirrorFailures = 0;
    return kDownloadOk;
  }
  if (result == kDownloadStopped || QuitRequested()) return kDownloadStopped;
  g_mirrorFailures++;
  LogLine("Mirror could not supply %s - using the content server%s", file.path.c_str(),
          g_mirrorFailures >= kMirrorFailuresToTurnOff ? " (mirror turned off for this run)" : "");
  return kDownloadFailed;
}

int DownloadFromServer(const RemoteFile& file, const std::string& partPath, const DownloadProgress& progress,
                       const FirstCall* first) {
  std::string url = ServerFileUrl(file);
  for (int attempt = 1;; attempt++) {
    int result = first && attempt == 1 ? first->Make(file, url, partPath, progress, false)
                                       : DownloadFile(file, url, partPath, progress);
    if (result == kDownloadOk || result == kDownloadStopped) return result;
    // A closing launcher neither reconnects, logs nor sleeps: shutdown waits for this thread.
    if (QuitRequested()) return kDownloadStopped;
    if (attempt == kServerAttempts) return result;
    LogLine("Retrying %s", file.path.c_str());
    Sleep(kRetryPauseMs);
    if (QuitRequested()) return kDownloadStopped;
  }
}

bool MirrorInUse() { return !g_mirror.empty() && g_mirrorFailures < kMirrorFailuresToTurnOff; }

// A file with a block map whose old version is here is patched, from the mirror in use and
// then from the content server. kDownloadFailed when it was not patched whole: the ordinary
// download then resumes whatever prefix the attempt left.
int PatchFromOldVersion(const RemoteFile& file, const std::string& localPath, const std::string& partPath,
                        const DownloadProgress& progress) {
  uint64_t size = 0, mtime = 0, partSize = 0;
  if (!file.hasBlockMap || !FileInfo(localPath, size, mtime) || size == 0) return kDownloadFailed;
  // A complete part file (left by a failed move) only needs its check.
  if (FileInfo(partPath, partSize, mtime) && partSize >= file.size) return kDownloadFailed;
  std::vector<std::string> urls;
  if (MirrorInUse()) urls.push_back(MirrorFileUrl(file));
  urls.push_back(ServerFileUrl(file));
  for (const std::string& url : urls) {
    int result = PatchFile(file, url, localPath, partPath, progress);
    if (result == kDownloadOk || result == kDownloadStopped) return result;
    if (result == kPatchedUpToTail) return kDownloadFailed;
    if (QuitRequested()) return kDownloadStopped;
    if (result == kDownloadBadCrc) break;
  }
  LogLine("Downloading %s whole", file.path.c_str());
  return kDownloadFailed;
}

int FetchFile(const RemoteFile& file, const std::string& localPath, const std::string& partPath,
              const DownloadProgress& progress, const FirstCall& first) {
  int patched = PatchFromOldVersion(file, localPath, partPath, progress);
  if (patched != kDownloadFailed) return patched;
  if (MirrorInUse()) {
    int result = DownloadFromMirror(file, partPath, progress, first);
    if (result != kDownloadFailed) return result;
    return DownloadFromServer(file, partPath, progress, nullptr);
  }
  return DownloadFromServer(file, partPath, progress, &first);
}

// False after a failed move, with the outcome published once the downloads ahead have
// stopped (RETRY may start the next pass at once). A part file left open for the move is
// closed by the downloads ahead after a move, and at once after a failure.
bool MoveIntoPlace(const RemoteFile& file, const std::string& localPath, const std::string& partPath,
                   HANDLE openPart, AheadDownloads& ahead) {
  bool moved = MovePartIntoPlace(partPath, localPath, openPart);
  DWORD error = GetLastError();
  if (moved) {
    ahead.CloseLater(openPart);
    return true;
  }
  if (openPart != INVALID_HANDLE_VALUE) CloseHandle(openPart);
  LogLine("Cannot replace %s (error %lu)", localPath.c_str(), error);
  ahead.Stop();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
    EndPass(UpdateFailed, "A game file is in use.",
            "Close Kelmorra (and the editor/servers using this folder), then press RETRY.", 0);
  } else {
    EndPass(UpdateFailed, "A game file could not be replaced.",
            Fmt("%s (error %lu) - see KMLauncher.log", file.path.c_str(), error), 0);
  }
  return false;
}

void RecordInstalled(const RemoteFile& file, const std::string& localPath) {
  uint64_t size = 0, mtime = 0;
  if (FileInfo(localPath, size, mtime)) StoreCacheEntry(Lower(file.path), CacheEntry{file.crc, size, mtime});
}

enum class DownloadOutcome { Done, Ended };

// The download loop; Ended when the pass ended inside it (failure, quit or self-update).
DownloadOutcome DownloadAll(const std::vector<RemoteFile>& files, const Plan& plan) {
  uint64_t bytesDone = 0;
  int count = static_cast<int>(plan.updates.size());
  AheadDownloads ahead(files, plan.updates, !g_mirror.empty(), kMirrorFailuresToTurnOff);
  for (int k = 1; k <= count; k++) {
    const RemoteFile& file = files[plan.updates[k - 1]];
    std::string localPath = LocalPath(file.path);
    std::string partPath = localPath + ".part";
    HANDLE openPart = INVALID_HANDLE_VALUE;
    int result = FetchFile(file, localPath, partPath, DownloadProgress{bytesDone, plan.bytesToFetch, k, count},
                           FirstCall{ahead, static_cast<size_t>(k - 1), openPart});
    ahead.Decided(k - 1, g_mirrorFailures);
    if (result == kDownloadStopped) return DownloadOutcome::Ended;
    if (result != kDownloadOk) {
      ahead.Stop();
      EndPass(UpdateFailed, "The update could not be downloaded.",
              "Lost the connection to the update server. Press RETRY to continue where it stopped.", 0);
      return DownloadOutcome::Ended;
    }
    if (IsLauncherEntry(file)) {
      if (openPart != INVALID_HANDLE_VALUE) CloseHandle(openPart);
      ahead.Stop();
      if (!ReplaceRunningLauncher(partPath, localPath)) {
        EndPass(UpdateFailed, "The launcher could not update itself.", "See KMLauncher.log. Press RETRY to try again.", 0);
      }
      return DownloadOutcome::Ended;
    }
    if (!MoveIntoPlace(file, localPath, partPath, openPart, ahead)) return DownloadOutcome::Ended;
    RecordInstalled(file, localPath);
    bytesDone += file.size;
    LogLine("Updated %s (%s)", file.path.c_str(), Megabytes(file.size).c_str());
  }
  SaveCache();
  LogLine("Update complete");
  return DownloadOutcome::Done;
}

void AnnounceUpdate(const Plan& plan, const std::string& name) {
  std::string size = Megabytes(plan.bytesToFetch);
  unsigned count = static_cast<unsigned>(plan.updates.size());
  LogLine("%u files need updating (%s)", count, size.c_str());
  std::string headline = name.empty() ? Fmt("Downloading update - %u files, %s", count, size.c_str())
                                      : Fmt("Updating to %s - %u files, %s", name.c_str(), count, size.c_str());
  SetStatus(Updating, headline, "", 0);
}

void FinishReady(const Manifest& manifest) {
  ApplyGameServer(manifest.gameServer);
  std::string headline = manifest.name.empty() ? Fmt("Up to date  -  version %d", manifest.version)
                                               : Fmt("Up to date  -  %s", manifest.name.c_str());
  EndPass(Ready, headline, "Press PLAY to enter Kelmorra.", 1);
}
}  // namespace

void UpdateBody() {
  LogLine("Checking for updates at %s", g_server.c_str());
  SetStatus(Connecting, "Connecting to the update server...", g_server, 0);
  SetManifestGameServer("");
  g_mirror.clear();
  g_mirrorFailures = 0;

  Manifest manifest;
  ManifestFetch fetched = FetchManifest(manifest);
  if (fetched == ManifestFetch::Refused) {
    EndPass(Offline, "Could not verify the update server's release.",
            "Your game files were not changed. Press RETRY later, or PLAY without updating.", 0);
    return;
  }
  if (fetched == ManifestFetch::Failed) {
    LogLine("Could not get the manifest from %s", g_server.c_str());
    EndPass(Offline, "Could not reach the update server.",
            "Check your connection and press RETRY, or PLAY without updating.", 0);
    return;
  }
  LogLine("Server content version %d, %u files%s%s", manifest.version, unsigned(manifest.files.size()),
          g_mirror.empty() ? "" : ", file mirror ", g_mirror.c_str());
  uint64_t totalBytes = 0;
  for (const RemoteFile& file : manifest.files) totalBytes += file.size;

  Plan plan;
  bool checked = CheckFiles(manifest.files, totalBytes, plan);
  SaveCache();
  if (!checked) return;
  if (plan.updates.empty()) {
    LogLine("All files up to date");
  } else {
    PutLauncherLast(manifest.files, plan.updates);
    AnnounceUpdate(plan, manifest.name);
    if (DownloadAll(manifest.files, plan) == DownloadOutcome::Ended) return;
  }
  if (!g_releaseKey.empty()) RecordInstalledRelease(manifest);
  FinishReady(manifest);
}
