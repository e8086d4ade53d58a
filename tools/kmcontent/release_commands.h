// The commands around kept releases: `kmcontent rollback`, and what publish reports about
// the releases it kept and deleted.
#pragma once
#include "tools/kmcontent/publish.h"

extern const char kRollbackHelp[];

// Makes `to` (empty: the release before the current one) the current release; exit code.
int RollBack(const std::string& release, const std::string& to);

// After a publish: which release is current and which earlier ones were deleted.
void ReportReleases(const std::string& outDir, const PublishResult& result);

// --keep: a count from 0 to 100.
bool ParseKeepCount(const std::string& text, unsigned& keep);
