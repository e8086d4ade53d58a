// Pre-loading the next release; see preload_win.h.
#include "update/preload_win.h"
#include "core/globals_win.h"
#include "core/launcher_config_file_win.h"
#include "core/log.h"
#include "core/percent_encode.h"
#include "core/status_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/disk_space_win.h"
#include "update/download_win.h"
#include "update/file_state_win.h"
#include "update/part_file_win.h"
#include "update/release_channel.h"
#include "update/release_choice_win.h"
#include <map>

namespace {
// The next release's files that differ from the live release's and from what is on disk.
std::vector<size_t> ChangedFiles(const Manifest& next, const Manifest& live) {
  std::map<std::string, const RemoteFile*> current;
  for (const RemoteFile& file : live.files) current[Lower(file.path)] = &file;
  std::vector<size_t> changed;
  for (size_t i = 0; i < next.files.size(); i++) {
    const RemoteFile& file = next.files[i];
    auto found = current.find(Lower(file.path));
    bool same = found != current.end() && found->second->size == file.size && found->second->crc == file.crc;
    if (!same && Lower(file.path) != "kmlauncher.exe" && !IsUpToDate(file)) changed.push_back(i);
  }
  return changed;
}

// The next release's files come from its own, never-changing URL, whatever its mirror says.
std::string StagedUrl(const std::string& release, const RemoteFile& file) {
  return ReleaseFilesPath(g_channel, release) + UrlEncodePath(file.path);
}
}  // namespace

void PreloadNextRelease(const Manifest& live) {
  std::string release = PreloadAnnounced();
  if (release.empty() || QuitRequested()) return;
  Manifest next;
  if (!FetchKeptRelease(release, next) || QuitRequested()) return;
  std::vector<size_t> changed = ChangedFiles(next, live);
  uint64_t bytes = 0;
  for (size_t index : changed) bytes += next.files[index].size;
  if (changed.empty()) return;
  std::string shortfall = DiskSpaceShortfall(next.files, changed, 0);
  if (!shortfall.empty()) {
    LogLine("Not pre-loading %s: %s", release.c_str(), shortfall.c_str());
    return;
  }
  LogLine("Pre-loading %s: %u files (%s)", release.c_str(), unsigned(changed.size()), Megabytes(bytes).c_str());
  PublishProgress(Fmt("Press PLAY to enter Kelmorra. Pre-loading the next update (%s)...", Megabytes(bytes).c_str()),
                  1);
  unsigned done = 0;
  for (size_t index : changed) {
    const RemoteFile& file = next.files[index];
    DownloadProgress quiet{0, bytes, 1, 1, nullptr};
    DownloadResult result = DownloadFile(file, StagedUrl(release, file), PartPathOf(LocalPath(file.path)), quiet);
    if (QuitRequested() || result == kDownloadStopped) return;
    if (result != kDownloadOk) {
      LogLine("Pre-loading %s stopped at %s (result %d); the update fetches the rest", release.c_str(),
              file.path.c_str(), static_cast<int>(result));
      break;
    }
    done++;
  }
  if (done == changed.size()) LogLine("Pre-loaded %s: %u files (%s)", release.c_str(), done, Megabytes(bytes).c_str());
  PublishProgress("Press PLAY to enter Kelmorra.", 1);
}
