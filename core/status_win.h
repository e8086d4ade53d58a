// The status record: what the launcher is doing, published by the workers and polled by the
// window ten times a second. g_lock guards it and the manifest's announcements; it is held
// only for copies and assignments.
#pragma once
#include "core/base.h"
#include "core/phase.h"
#include <windows.h>

extern CRITICAL_SECTION g_lock;
extern Phase g_phase;
extern std::string g_status;
extern std::string g_detail;
extern double g_progress;

// The manifest's announcements shown by the window (under g_lock).
extern std::string g_updateName;
extern unsigned g_version;
extern std::vector<std::string> g_notes;

struct StatusCopy {
  Phase phase;
  std::string status;
  std::string detail;
  double progress;
};

// Opens the diagnostic trace of status publications named by KMLAUNCHER_STATUS_TRACE.
void OpenStatusTrace();

void SetStatus(Phase phase, const std::string& status, const std::string& detail, double progress);
void PublishProgress(const std::string& detail, double progress);
Phase CurrentPhase();
StatusCopy CopyStatus();
