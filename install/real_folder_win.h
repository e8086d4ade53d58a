// Whether the install folder is a real folder all the way from its drive: the elevated
// install step opens the folder to every local user (icacls) and writes into it, so a
// junction, symbolic link or mount point planted by a user on the way ("C:\KelmorraGold" made
// beforehand as a junction to an administrators' folder) would hand that user the target.
#pragma once
#include "core/base.h"
#include <windows.h>

// True when no existing part of folder ("X:\a\b\KelmorraGold", without trailing backslash)
// below the drive root is a reparse point or something other than a folder. Each part is
// judged from a handle opened on it with FILE_FLAG_OPEN_REPARSE_POINT, never from what a link
// points at, and from its own attributes. Parts that do not exist yet are fine (the step
// creates them); a part that exists but cannot be opened is not.
bool NoReparsePointOnPath(const std::string& folder);

// The folder itself, held open without delete sharing so that it can be neither renamed nor
// replaced while the install works in it; INVALID_HANDLE_VALUE unless it is a real folder.
HANDLE HoldRealFolder(const std::string& folder);

// The owner of an existing folder as a string SID ("S-1-5-32-544"); empty when unknown.
std::string FolderOwner(const std::string& folder);
