// Small text operations shared by the whole program: bounded printf-style formatting,
// ASCII lower-casing, and the turn of a manifest path into a path in the game folder.
#pragma once
#include "core/base.h"
#include <cstdarg>

// Every formatted text of the launcher is cut at this many characters, without a mark.
constexpr size_t kFmtMaxChars = 1023;

// printf-style formatting into a new string of at most kFmtMaxChars characters.
std::string Fmt(const char* format, ...) KM_PRINTF(1, 2);
std::string FmtV(const char* format, va_list args);

// A byte count as the launcher shows it: "12.3 MB" (MiB, one decimal).
std::string Megabytes(uint64_t bytes);

// Maps A..Z to a..z and leaves every other byte, including bytes above 127, unchanged.
std::string Lower(std::string text);

// The game folder (ending in a backslash) followed by the relative path, with every "/"
// of the result turned into a backslash.
std::string JoinGamePath(const std::string& gameDir, const std::string& relativePath);

// True when text ends with suffix (byte comparison).
bool EndsWith(const std::string& text, const std::string& suffix);
bool StartsWith(const std::string& text, const char* prefix);
// The lines of text split at LF, one CR before it dropped; no empty line after a final LF.
std::vector<std::string> SplitLines(const std::string& text);

// The same folder path with exactly one trailing backslash added when it has none.
std::string WithTrailingBackslash(std::string folder);

// Reads a decimal integer like atoi: leading white space, optional sign, digits up to the
// first non-digit; no digits give 0. Saturates instead of overflowing.
int ParseIntLikeAtoi(const char* text);
