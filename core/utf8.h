// UTF-8, the program's text encoding (its application manifest makes it the ANSI code page):
// the strict validity test that names from a manifest or a game build must pass, and the
// character count the player's input limits are stated in.
#pragma once
#include "core/base.h"
#include <string_view>

// True for well-formed UTF-8 only: no stray or missing continuation bytes, no overlong
// forms, no UTF-16 surrogates, nothing above U+10FFFF. Windows would turn each fault into
// U+FFFD, so two different ill-formed names could become one file.
bool IsValidUtf8(std::string_view text);

// The length of text without a character cut off at its end (a lead byte missing some of its
// continuation bytes); the whole length when none is.
size_t WithoutCutCharacter(std::string_view text);

// The number of characters (code points) in valid UTF-8.
size_t Utf8CharacterCount(std::string_view text);
