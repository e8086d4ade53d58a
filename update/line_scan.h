// Reads the numbers at the start of a manifest file line or a cache line the way the scan
// directives "%lx" and "%llu" would, without their wrap-arounds: a '-' sign or a value too
// wide for its field is no number at all, so such a line is skipped on every platform.
#pragma once
#include "core/base.h"

// The first position from pos that is not C white space (blank, \t \n \v \f \r).
size_t SkipSpace(const std::string& line, size_t pos);

// "%lx" into a 32-bit field: white space, an optional '+', an optional 0x/0X when a hex
// digit follows, then hex digits in either case (any number of leading zeros). Moves pos past
// the number; false, pos unchanged, when there is no digit, the sign is '-', or the value
// exceeds 0xFFFFFFFF.
bool ScanHex32(const std::string& line, size_t& pos, uint32_t& value);

// "%llu": white space, an optional '+', decimal digits. False, pos unchanged, when there is
// no digit, the sign is '-', or the value exceeds 2^64 - 1.
bool ScanDecimal64(const std::string& line, size_t& pos, uint64_t& value);
