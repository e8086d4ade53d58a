// Percent-encoding of bytes for URLs and form bodies: ASCII letters and digits and the given
// punctuation stay; every other byte becomes "%" and two upper-case hexadecimal digits.
#pragma once
#include "core/base.h"

std::string PercentEncode(const std::string& text, const char* keptPunctuation);

// A manifest path in a URL: "/" survives, a blank becomes %20, a backslash %5C.
std::string UrlEncodePath(const std::string& path);

// A form field of the account request: "-", ".", "_" and "~" survive, a blank becomes %20.
std::string FormEncode(const std::string& text);
