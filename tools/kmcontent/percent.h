// Decoding of percent-encoded text: the file paths in request targets and the fields of the
// account form. Strict on purpose: a "%" without two hexadecimal digits after it makes the
// whole text invalid, so a malformed path is never guessed into a file name.
#pragma once
#include "core/base.h"
#include <utility>

// "%XX" becomes the byte XX; every other byte, "+" included, is kept. False on a bad escape.
bool PercentDecode(const std::string& text, std::string& out);

using FormFields = std::vector<std::pair<std::string, std::string>>;

// An application/x-www-form-urlencoded body: "name=value" pairs joined by "&", "+" standing
// for a blank. A pair without "=" has an empty value; empty pairs are skipped. False when an
// escape is malformed.
bool ParseForm(const std::string& body, FormFields& fields);

// The value of the first field with that name, or empty when there is none.
std::string FormValue(const FormFields& fields, const char* name);
