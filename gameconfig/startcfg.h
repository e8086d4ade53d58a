// startcfg.aut, the game client's graphics file, as bytes: the marker line "VERSION5", then
// fifteen label/value line pairs (lines 2..31), then any lines the launcher does not know,
// which it keeps. This is the part without files: splitting the text into lines, taking the
// values out, and building the lines the launcher writes back.
#pragma once
#include "core/base.h"

constexpr int kCfgValueCount = 15;

// The values the launcher itself changes.
constexpr int kCfgVsync = 12;
constexpr int kCfgAntiAliasing = 13;
constexpr int kCfgFiltering = 14;

extern const char* const kCfgFileName;  // "startcfg.aut"
extern const char* const kCfgMarker;    // "VERSION5"
extern const char* const kCfgLabels[kCfgValueCount];
extern const char* const kCfgDefaults[kCfgValueCount];

// The file's lines without their ends: split at each LF with the CRs before it removed; a
// last line without an LF is kept (CRs and all) unless it is empty.
std::vector<std::string> SplitCfgLines(const std::string& bytes);

// Fills values from lines (value k on line 2k + 3, defaults for missing or empty ones).
// Lines that do not begin with the marker are not the launcher's format: lines is emptied
// and every value is its default.
void CfgValuesFromLines(std::vector<std::string>& lines, std::string values[kCfgValueCount]);

// The content to write: the known lines (or just the marker when they are empty or not the
// launcher's format), padded to 31 lines, empty labels filled in, the fifteen values set,
// every line ended with CR LF.
std::string CfgContent(const std::vector<std::string>& lines,
                       const std::string values[kCfgValueCount]);
