// Putting a finished release folder in place of the current one in one step.
#pragma once
#include "core/base.h"

// Replaces the folder `target` by the folder `staged`. With Linux's exchanging rename both
// names swap at once, so `target` is never missing or half written; on a file system that
// cannot exchange, the old folder is renamed aside just before the new one takes its name.
// The old release is deleted afterwards. False, with a message, when nothing could be moved;
// then `target` is unchanged.
bool SwapInRelease(const std::string& staged, const std::string& target, std::string& error);
