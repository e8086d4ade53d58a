// Which manifest paths the launcher writes into the game folder. One rule, shared with
// `kmcontent publish`, so a release the operator's tool accepts is never refused here.
#pragma once
#include "core/base.h"
#include <string_view>

// A path the launcher never writes (the line is logged and left out; the pass goes on):
// - not well-formed UTF-8 (the program's code page): Windows would turn each bad byte into
//   U+FFFD, so two different paths could name one file. No normal form is required: Windows
//   keeps names as they are spelled, so a composed and a decomposed "é" are two files, as
//   they are to the cache, and a build made where names are decomposed still publishes;
// - empty, rooted ("/" or "\" first), with a ":" anywhere (drive or stream) or a NUL byte;
// - a part ("/" and "\" separate parts) that is empty or made only of dots and blanks
//   (".", "..", "...", ". "): Windows would drop it or climb out of the folder with it;
// - a part with a byte Windows does not allow in names (control bytes, < > " | ? *);
// - a part that names a device (IsReservedDeviceName);
// - a part in the 8.3 short-name form ("KMLAUN~1.CFG"): Windows may resolve it to any long
//   name of its folder, a player file or the launcher among them;
// - a folder part ending in a dot or blank: Windows creates the folder without them but
//   keeps them when it opens a path through it, so the file could never be placed.
// A file name (the last part) ending in dots or blanks is taken: Windows drops them on
// every call that names the file, so it is placed and found under the shorter name each
// time. Only when that shorter name is the launcher at the top of the folder
// ("KMLauncher.exe.") is the path refused: the launcher is replaced by self-update alone.
bool IsUnsafeManifestPath(const std::string& path);

// Device names that Windows opens instead of a file, in any letter case and also with an
// extension or trailing blanks: con, prn, aux, nul, conin$, conout$, com0-9, lpt0-9 (also
// with the superscript digits 1, 2 and 3, written in UTF-8).
bool IsReservedDeviceName(std::string_view part);

// The path as Windows resolves it, "/"-separated: "." and empty parts dropped, trailing dots
// and blanks of every name cut ("a/./b. " gives "a/b"). Letter case is kept.
std::string ResolvedWindowsPath(const std::string& path);

// True when Windows would open a player file under this path although it is not spelled as
// one: "." parts and trailing dots and blanks of a name are dropped by Windows, so
// "./coinit.tmp" and "KMLauncher.log." are the player's files.
bool ResolvesToPlayerFile(const std::string& path);
