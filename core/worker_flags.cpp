// The worker flags; see worker_flags.h.
#include "core/worker_flags.h"

std::atomic<int> g_workerRunning{0};
std::atomic<int> g_quit{0};
std::atomic<int> g_pause{0};

namespace {
// Each pass runs on its own worker thread, so "this pass released it" is per thread.
thread_local bool t_passReleasedFlag = false;
}

bool ClaimUpdateFlag() {
  int expected = 0;
  return g_workerRunning.compare_exchange_strong(expected, 1);
}

void ReleaseUpdateFlagFromPass() {
  t_passReleasedFlag = true;
  g_workerRunning.exchange(0);
}

void FinishUpdateWorker() {
  if (!t_passReleasedFlag) g_workerRunning.exchange(0);
  t_passReleasedFlag = false;
}

void ReleaseUnstartedUpdateFlag() { g_workerRunning.exchange(0); }

bool PassReleasedUpdateFlag() { return t_passReleasedFlag; }
