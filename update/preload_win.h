// Pre-loading the next release. When the live manifest announces one ("preload NAME", see
// update/release_channel.h) and a pass has ended in Ready, the update worker fetches that
// release's changed files into their ".part" files, verified, under the speed cap, within
// the free space the check allows, and never touching a live file. The phase stays Ready, so
// PLAY works all the time; EXIT or PLAY (the launcher closing) stops it between two reads,
// and what was fetched resumes next time. Once the operator makes the release live, the
// update pass finds the complete parts and only checks and moves them.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

// After a pass that ended in Ready with the live manifest; returns when done or stopped.
void PreloadNextRelease(const Manifest& live);
