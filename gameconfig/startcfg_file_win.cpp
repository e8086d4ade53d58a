// startcfg.aut on disk; see startcfg_file_win.h. The byte work is in startcfg.cpp.
#include "gameconfig/startcfg_file_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/replace_file_win.h"

std::vector<std::string> g_cfgLines;

void ReadStartCfg(std::string values[kCfgValueCount]) {
  std::string bytes;
  g_cfgLines.clear();
  if (ReadWholeFile(g_exeDir + kCfgFileName, bytes)) g_cfgLines = SplitCfgLines(bytes);
  CfgValuesFromLines(g_cfgLines, values);
}

bool WriteStartCfg(const std::string values[kCfgValueCount]) {
  std::string path = g_exeDir + kCfgFileName;
  DWORD error = 0;
  ReplaceResult result = ReplaceFileWhole(path, CfgContent(g_cfgLines, values), &error);
  if (result == ReplaceResult::CannotWriteNew) {
    LogLine("Cannot write %s", (path + ".new").c_str());
    return false;
  }
  if (result == ReplaceResult::CannotMove) {
    LogLine("Cannot replace startcfg.aut (error %lu)", static_cast<unsigned long>(error));
    return false;
  }
  return true;
}
