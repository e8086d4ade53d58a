// The base header every source file of the launcher includes first: the standard library
// pieces the whole program uses. Text is kept as ANSI byte strings (std::string) throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define KM_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define KM_PRINTF(fmtIndex, firstArg)
#endif
