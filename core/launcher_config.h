// The launcher's own configuration file, KMLauncher.cfg: the content server address
// ("Server=address:port"), the download speed cap ("MaxDownloadKBps=N"), the release channel
// ("Channel=NAME") and the outcome reports ("Report=0"). This is its byte
// logic: reading the settings out of the file's text, the tunnelling-host test, the two
// templates the launcher writes, and the settings window's change of the cap.
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

// The last non-empty value of key (lower case) in the text, read by the same rules as the
// server: pieces of at most 511 characters, trailing blanks and line ends removed, comments
// skipped, the key before the first "=" in any letter case and not trimmed. Empty when none.
std::string ConfigValueFromText(const std::string& text, const char* key);

// The cap in KB/s a MaxDownloadKBps value sets: decimal digits only, at most kMaxSpeedCap.
// False for anything else (the launcher then logs it and sets no cap).
constexpr uint32_t kMaxSpeedCap = 4000000;
bool ParseSpeedCap(const std::string& value, uint32_t& kilobytesPerSecond);

// The text with its MaxDownloadKBps lines replaced by one at the end that sets the cap
// (0: none). Every other line stays as it was.
std::string WithSpeedCap(const std::string& text, uint32_t kilobytesPerSecond);

// A channel name (Channel= in the file, publish --channel): 1 to 32 of a-z, 0-9, '-' and
// '_', and not "live", the name the messages give the channel everyone follows by default.
constexpr size_t kMaxChannelName = 32;
bool IsChannelName(const std::string& name);

// Report=0 turns the outcome reports off; anything else, or no line, leaves them on.
bool ReportsWanted(const std::string& value);

enum class ConfigTemplate { Startup, Install };

// The lines the launcher writes, each ending in "\n" (the file is written in text mode).
// Startup (template A) has the hint for the server PC; Install (template B) does not.
std::string LauncherConfigText(ConfigTemplate which, const std::string& server);

// The template with the server, followed by every line of the old text that the template does
// not own: the player's and the launcher's other settings (a speed cap, lines of newer
// launchers) stay. Dropped are the template's own comment lines and every line that sets the
// server, also one hidden in a later piece of a long line, so the new Server= line is the one
// the reader takes.
std::string RewrittenConfigText(ConfigTemplate which, const std::string& server, const std::string& oldText);
