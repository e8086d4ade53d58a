// Which programs hold a file open, as Windows' Restart Manager names them: for telling the
// player what a file being replaced is waiting for (a virus scanner, the game, an editor).
#pragma once
#include "core/base.h"

// The holders' names separated by ", " ("Kelmorra.exe, Scanner"); empty when none is known,
// or where the system cannot tell (Wine).
std::string ProgramsHoldingFile(const std::string& path);
