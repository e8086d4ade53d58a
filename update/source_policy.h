// Where the update pass asks for each file and how often: the file mirror while it keeps
// delivering (two calls for a file, one after a wrong file; three files failed in a row turn
// it off for the pass), the content server otherwise (three calls, a pause between them).
// The pass (update_pass_win.cpp) follows these rules with its log lines and its stop checks
// between the steps; the downloads run ahead of it (fetch_ahead.h) count with the same limit.
#pragma once
#include "update/download_result.h"

constexpr int kMirrorFailuresToTurnOff = 3;
constexpr int kServerAttempts = 3;
constexpr unsigned kServerRetryPauseMs = 1000;

// Whether the pass asks the mirror first, with failures files in a row it failed so far.
inline bool MirrorInUse(bool announced, int failures) { return announced && failures < kMirrorFailuresToTurnOff; }

enum class MirrorStep {
  Supplied,   // the mirror has the file: the count of failures starts again
  CallAgain,  // at once, without a pause or a log line
  Failed,     // one more failure in a row; the content server is asked
  Ends,       // stopped or the disk is full: the result goes to the pass as it is
};
// After the mirror's call (1 or 2) for a file gave result.
MirrorStep AfterMirrorCall(int call, DownloadResult result);
// Whether the failures counted so far (the one just added included) turn the mirror off.
inline bool TurnsMirrorOff(int failures) { return failures >= kMirrorFailuresToTurnOff; }

enum class ServerStep {
  Ends,    // done, stopped or the disk is full: the result goes to the pass as it is
  Retry,   // "Retrying", a pause, and the next call
  GivesUp, // the last call failed: the update could not be downloaded
};
// After the content server's call attempt (from 1) for a file gave result.
ServerStep AfterServerCall(int attempt, DownloadResult result);
