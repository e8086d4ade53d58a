// The process-wide flags the workers and the window share without a lock: g_workerRunning
// (one update pass at a time), g_quit (the launcher is closing) and g_pause (the player paused
// the update: the transfers stop exactly as for closing, part files kept).
#pragma once
#include "core/base.h"
#include <atomic>

extern std::atomic<int> g_workerRunning;
extern std::atomic<int> g_quit;
extern std::atomic<int> g_pause;

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

// True when this worker's pass published its final phase (ReleaseUpdateFlagFromPass).
bool PassReleasedUpdateFlag();

// What every transfer and the pass poll: stop now, because the launcher closes or the player
// paused the update. Only g_quit itself says that the launcher closes.
inline bool QuitRequested() { return g_quit.load() != 0 || g_pause.load() != 0; }
