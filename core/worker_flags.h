// The two process-wide flags the workers and the window share without a lock:
// g_workerRunning (one update pass at a time) and g_quit (the launcher is closing).
#pragma once
#include "core/base.h"
#include <atomic>

extern std::atomic<int> g_workerRunning;
extern std::atomic<int> g_quit;

// Compare-and-exchange 0 -> 1; false when a pass already runs.
bool ClaimUpdateFlag();

// Called by the pass when it publishes its final phase, so RETRY may start the next pass
// while this worker is still returning.
void ReleaseUpdateFlagFromPass();

// Called by the worker after the pass returned: clears the flag only when this worker's
// pass did not already release it, so a newer pass started by RETRY keeps its flag.
void FinishUpdateWorker();

// For the thread that failed to start.
void ReleaseUnstartedUpdateFlag();

inline bool QuitRequested() { return g_quit.load() != 0; }
