// The key under which Windows finds a file: two manifest paths with one key are one file in
// the game folder, whatever their spelling. NTFS compares names after upper-casing each UTF-16
// unit with its own table (so "Épée" and "épée", "ǅ" and "ǆ" meet), and Windows drops
// trailing dots and blanks of a name and "." parts of a path; "\" and "/" both separate.
// Portable, so kmcontent publish refuses exactly the builds the launcher would mishandle.
#pragma once
#include "core/base.h"

// Upper-cases well-formed UTF-8 the way NTFS folds names (simple one-to-one mappings only:
// "ß" stays, it is no "SS" to Windows).
std::string UpcaseAsWindowsNames(const std::string& text);

// The path as Windows resolves it (ResolvedWindowsPath, "/"-separated), upper-cased as NTFS
// folds names: "data\\Épée.txt. " and "data/épée.txt" give "DATA/ÉPÉE.TXT".
std::string WindowsNameKey(const std::string& path);
