// The request log sink: one file (or standard output) shared by every thread, lines written
// whole, and reopened on request so logrotate can move the file away (SIGHUP).
#pragma once
#include "core/base.h"

// Empty path: standard output. False with errno set when the file cannot be opened.
bool OpenAccessLog(const std::string& path);
// Opens the path again (after a rotation); the old file stays in use when that fails.
bool ReopenAccessLog();
void WriteAccessLog(const std::string& line);
