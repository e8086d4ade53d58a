// The pass's rules for the mirror and the content server; see source_policy.h.
#include "update/source_policy.h"

MirrorStep AfterMirrorCall(int call, DownloadResult result) {
  switch (result) {
    case kDownloadOk: return MirrorStep::Supplied;
    case kDownloadStopped:
    case kDownloadDiskFull: return MirrorStep::Ends;
    case kDownloadFailed: return call == 1 ? MirrorStep::CallAgain : MirrorStep::Failed;
    default: return MirrorStep::Failed;  // a wrong file is not asked for again from the mirror
  }
}

ServerStep AfterServerCall(int attempt, DownloadResult result) {
  if (result == kDownloadOk || result == kDownloadStopped || result == kDownloadDiskFull) return ServerStep::Ends;
  return attempt >= kServerAttempts ? ServerStep::GivesUp : ServerStep::Retry;
}
