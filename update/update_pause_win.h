// Pausing an update pass that downloads. PAUSE sets g_pause, which every transfer polls like
// g_quit: they stop at once and keep their part files, and the pass returns as it would for a
// closing launcher. The worker then publishes the paused status and frees the pass flag, so
// RESUME can start a new pass, which resumes each part file with a Range from its size.
#pragma once
#include "core/base.h"

// Window thread: the player pressed PAUSE (the pass stops) or RESUME (a new pass starts).
void PauseUpdate();
void ResumeUpdate();
// True from PAUSE until RESUME.
bool UpdatePauseRequested();
// True once the paused pass has stopped: RESUME can start the next one.
bool UpdatePaused();

// Update worker, after the pass returned: publishes the paused status when the pass stopped
// for PAUSE; a pass that ended on its own meanwhile keeps its outcome and forgets the pause.
void EndPassIfPaused();
