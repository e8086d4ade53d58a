// The file a GET under /files/ names, taken from the raw request target. The rule is
// strict because the answer is a file from disk: nothing that could name a place outside the
// release's files/ folder, and nothing publish would never have written, gets past it.
#pragma once
#include "core/base.h"

// The raw target ("/files/Data/new%20area.dat?x") gives the decoded relative path
// ("Data/new area.dat"). False for a target outside /files/, a malformed escape, or a path
// that is empty, starts with "/", has an empty, "." or ".." part, or holds a backslash, a
// NUL or another control byte.
bool FilePathFromTarget(const std::string& target, std::string& path);

// "/channels/NAME/rest" gives the channel and "/rest" (query kept); false for any other
// target and for a NAME that is no channel name, so such a target is simply not found.
bool SplitChannelTarget(const std::string& target, std::string& channel, std::string& rest);

// The same check for a path that is already decoded.
bool IsServablePath(const std::string& path);
