// Whole-file replacement of the client's files: the new content goes to path + ".new" and to the disk,
// the old file's attributes are reset (a read-only flag would block the move) and the new
// file is moved over it with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#pragma once
#include "core/base.h"
#include <windows.h>

enum class ReplaceResult { Replaced, CannotWriteNew, CannotMove };

// error receives GetLastError() of the failed move (CannotMove); the ".new" file then stays.
ReplaceResult ReplaceFileWhole(const std::string& path, const std::string& content, DWORD* error);

// Reads a whole file in binary mode; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& content);
