// startcfg.aut on disk, in the game folder: reading the fifteen values for the settings
// window and writing back its choices whole through ".new". Window thread only.
#pragma once
#include "core/base.h"
#include "gameconfig/startcfg.h"

// Every line of the file as last read by ReadStartCfg; empty when the file is missing,
// empty or not the launcher's format. Writing starts from it, so unknown lines survive.
extern std::vector<std::string> g_cfgLines;

// Fills the values (defaults for anything missing) and refreshes g_cfgLines. Never fails.
void ReadStartCfg(std::string values[kCfgValueCount]);

// Writes the file from g_cfgLines and the values. True when the file was replaced; false
// after logging "Cannot write %s" or "Cannot replace startcfg.aut (error %lu)".
bool WriteStartCfg(const std::string values[kCfgValueCount]);
