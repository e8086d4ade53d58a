// Reading and writing KMLauncher.cfg in the game folder.
#pragma once
#include "core/base.h"
#include "core/launcher_config.h"

// Sets g_server and the download speed cap from the file (a tunnelled address is reset to the
// default and the file rewritten; a cap that is no number is logged and ignored); creates a
// missing file with template A unless the launcher is in install mode.
void LoadLauncherConfig(const std::string& path, bool installMode);

// Writes the template with the server, keeping the lines of a file already there that the
// template does not own (see RewrittenConfigText); failures are silent.
void WriteLauncherConfig(const std::string& path, ConfigTemplate which, const std::string& server);

// Sets the cap in the file (a missing file is made with template A first), keeping its other
// lines. False when it could not be written.
bool SaveSpeedCap(const std::string& path, uint32_t kilobytesPerSecond);

// Set by LoadLauncherConfig at start-up, read-only afterwards: the release channel the
// launcher follows (empty: live) and whether it reports each pass's outcome.
extern std::string g_channel;
extern bool g_reportOutcomes;
