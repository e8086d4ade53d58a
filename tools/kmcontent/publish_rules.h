// What publish refuses in a game build: every path the launcher would refuse, leave out or
// mishandle on Windows. The launcher's own rules (IsUnsafeManifestPath, IsPlayerFile,
// ResolvesToPlayerFile) are called, not copied, so both sides refuse exactly the same.
#pragma once
#include "core/base.h"

// Longest path publish accepts. The launcher uses the ANSI file calls, which stop at 260
// characters: an install folder such as "C:\Program Files\Kelmorra Gold\" plus this path
// plus ".part" must stay below that.
constexpr size_t kMaxPublishedPathBytes = 200;

// Why the launcher could not take this relative path ("/" separators) as it is; empty when
// it can.
std::string PublishPathProblem(const std::string& path);

// Why Windows could not create a file or folder of this name; empty when it can.
std::string WindowsNameProblem(const std::string& name);

// Paths that Windows would take for one file or folder (the same WindowsNameKey: letter case
// as NTFS folds it, trailing dots and blanks): "Data/A.dat" and "data/a.dat", "Épée.txt" and
// "épée.txt", or a file "maps" beside a folder "Maps/". One message per clash; empty when
// there is none.
std::vector<std::string> CaseClashes(const std::vector<std::string>& paths);
