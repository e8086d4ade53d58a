// Pause and resume of the update pass; see update_pause_win.h.
#include "update/update_pause_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/worker_flags.h"
#include "update/update_pass_win.h"

namespace {
constexpr const char* kPausedHeadline = "Update paused";
constexpr const char* kPausedDetail = "The update is paused; what it downloaded is kept. Press RESUME to go on.";
}  // namespace

void PauseUpdate() {
  if (g_pause.exchange(1) == 0) LogLine("Update paused by the player");
}

void ResumeUpdate() {
  if (!UpdatePaused()) return;
  g_pause.exchange(0);
  LogLine("Update resumed by the player");
  StartUpdate();
}

bool UpdatePauseRequested() { return g_pause.load() != 0; }

bool UpdatePaused() { return UpdatePauseRequested() && g_workerRunning.load() == 0; }

void EndPassIfPaused() {
  if (g_quit.load() != 0) return;
  if (PassReleasedUpdateFlag()) {
    g_pause.exchange(0);
    return;
  }
  if (!UpdatePauseRequested()) return;
  SetStatus(Updating, kPausedHeadline, kPausedDetail, CopyStatus().progress);
  ReleaseUpdateFlagFromPass();
}
