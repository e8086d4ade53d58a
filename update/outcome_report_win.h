// The outcome report at the end of each pass (update/outcome_report.h has what is sent): one
// POST "/report" to the content server on a thread of its own, with a short time-out, never
// retried, its answer ignored (a static server's 404 or 405 is fine), so it never delays the
// pass or the window. Report=0 in KMLauncher.cfg turns it off. A report still on its way when
// the next pass ends makes that pass send none.
#pragma once
#include "core/base.h"
#include "core/phase.h"

// At the start of a pass: the clock starts, the notes below are cleared.
void BeginOutcomeReport();
// What the pass learnt on its way: the bytes it has to fetch, a download that failed its check.
void NoteBytesToFetch(uint64_t bytes);
void NoteCrcFailure();
// At the pass's final publication.
void SendOutcomeReport(Phase phase, const std::string& headline);
