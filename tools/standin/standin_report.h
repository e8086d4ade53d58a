// The report of the stand-in game client: what the launcher gave it (command line, working
// folder) and what the launcher wrote into the client's two configuration files, as
// "key=value" lines that tests and the demo read back. Byte logic only; the Windows part
// gathers the inputs and writes the file.
#pragma once
#include "core/base.h"

struct StandinInputs {
  std::string commandLine;
  std::string workDir;
  std::string exePath;
  bool haveCoinit = false;
  std::string coinit;     // coinit.tmp's bytes when haveCoinit
  bool haveStartCfg = false;
  std::string startCfg;   // startcfg.aut's bytes when haveStartCfg
};

extern const char* const kStandinReportName;  // "Kelmorra-report.txt"

// The decrypted game server address (field 5 of coinit.tmp); empty without the file.
std::string StandinGameServer(const StandinInputs& inputs);

// The whole report, CR LF line ends: commandline=, workdir=, exe=, gameserver=,
// coinit.plain1..5= (the plain lines as written, no defaults), startcfg.vsync=,
// startcfg.aa=, startcfg.filtering= (lines 27, 29, 31 as written). Missing files and
// missing lines give empty values; control bytes in a value become "?", so every value
// stays on its line.
std::string StandinReport(const StandinInputs& inputs);
