// The status record and its publication; see status_win.h.
#include "core/status_win.h"
#include "core/wide_text_win.h"

CRITICAL_SECTION g_lock;
Phase g_phase = Connecting;
std::string g_status = "Connecting to the update server...";
std::string g_detail;
double g_progress = 0.0;
std::string g_updateName;
unsigned g_version = 0;
std::vector<std::string> g_notes;

namespace {
// Diagnostics: with KMLAUNCHER_STATUS_TRACE naming a file, every full publication is appended
// to it as "phase<TAB>headline<TAB>detail", so support staff and the tests can follow the
// phases a player saw.
FILE* g_statusTrace = nullptr;

void TraceStatus(Phase phase, const std::string& status, const std::string& detail) {
  if (!g_statusTrace) return;
  fprintf(g_statusTrace, "%d\t%s\t%s\n", static_cast<int>(phase), status.c_str(), detail.c_str());
  fflush(g_statusTrace);
}
}  // namespace

void OpenStatusTrace() {
  // Read as UTF-16: Wine's "A" call cuts a UTF-8 value by its count of UTF-16 characters.
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"KMLAUNCHER_STATUS_TRACE", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) g_statusTrace = fopen(AnsiFromWide(path).c_str(), "a");
}

void SetStatus(Phase phase, const std::string& status, const std::string& detail, double progress) {
  EnterCriticalSection(&g_lock);
  g_phase = phase;
  g_status = status;
  g_detail = detail;
  g_progress = progress;
  LeaveCriticalSection(&g_lock);
  TraceStatus(phase, status, detail);
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
