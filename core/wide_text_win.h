// The program's byte strings are in the ANSI code page, which the application manifest makes
// UTF-8. These turn them into UTF-16 and back at the few API edges that need it (and for calls
// whose "A" form would cut a long name at a fixed number of bytes), at whatever length.
#pragma once
#include "core/base.h"
#include <windows.h>

// Empty for an empty text, and for bytes the code page cannot convert.
std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const wchar_t* text);

// Windows' "A" file calls take paths of fewer than MAX_PATH characters (UTF-16 units),
// however many bytes of UTF-8 those are: the characters path has there.
size_t WindowsPathLength(const std::string& path);

// This program's own path, however long; false only when Windows cannot give it.
bool ModulePath(std::string& path);
