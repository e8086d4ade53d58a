// The status record, its publication and the start of the update worker; see status_win.h.
#include "core/status_win.h"
#include "core/globals_win.h"
#include "core/worker_flags.h"

CRITICAL_SECTION g_lock;
Phase g_phase = Connecting;
std::string g_status = "Connecting to the update server...";
std::string g_detail;
double g_progress = 0.0;
std::string g_updateName;
unsigned g_version = 0;
std::vector<std::string> g_notes;

void SetStatus(Phase phase, const std::string& status, const std::string& detail, double progress) {
  EnterCriticalSection(&g_lock);
  g_phase = phase;
  g_status = status;
  g_detail = detail;
  g_progress = progress;
  LeaveCriticalSection(&g_lock);
}

void PublishProgress(const std::string& detail, double progress) {
  EnterCriticalSection(&g_lock);
  g_detail = detail;
  g_progress = progress;
  LeaveCriticalSection(&g_lock);
}

Phase CurrentPhase() {
  EnterCriticalSection(&g_lock);
  Phase phase = g_phase;
  LeaveCriticalSection(&g_lock);
  return phase;
}

StatusCopy CopyStatus() {
  EnterCriticalSection(&g_lock);
  StatusCopy copy{g_phase, g_status, g_detail, g_progress};
  LeaveCriticalSection(&g_lock);
  return copy;
}

DWORD WINAPI UpdateThread(void*) {
  UpdateBody();
  FinishUpdateWorker();
  return 0;
}

void StartUpdate() {
  if (!ClaimUpdateFlag()) return;
  HANDLE thread = CreateThread(nullptr, 0, UpdateThread, nullptr, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    ReleaseUnstartedUpdateFlag();
  }
}

void SetManifestGameServer(const std::string& address) {
  EnterCriticalSection(&g_lock);
  g_manifestGameServer = address;
  LeaveCriticalSection(&g_lock);
}

std::string ManifestGameServer() {
  EnterCriticalSection(&g_lock);
  std::string address = g_manifestGameServer;
  LeaveCriticalSection(&g_lock);
  return address;
}
