// The launcher's own configuration file, KMLauncher.cfg: one setting, the content server
// address ("Server=address:port"). This is its byte logic: reading the server out of the
// file's text, the tunnelling-host test, and the two templates the launcher writes.
#pragma once
#include "core/base.h"

// The built-in content server (port 25858) and the host suffix of a public tunnelling
// service whose addresses are never trusted from the file (lower case).
extern const char* const kDefaultServer;
extern const char* const kTunnelHostSuffix;

// Reads the text as the launcher reads the file in text mode with a 512-byte line buffer
// (physical lines longer than 511 characters arrive in pieces) and returns the server the
// file sets: the last non-empty "server=" value in any letter case, or current when none.
std::string ServerFromConfigText(const std::string& text, const std::string& current);

// Applies one line (as read, line end included) to the server value.
void ApplyConfigLine(std::string line, std::string& server);

// True when the address contains kTunnelHostSuffix in any letter case.
bool IsTunnelledServer(const std::string& server);

enum class ConfigTemplate { Startup, Install };

// The lines the launcher writes, each ending in "\n" (the file is written in text mode).
// Startup (template A) has the hint for the server PC; Install (template B) does not.
std::string LauncherConfigText(ConfigTemplate which, const std::string& server);
