// Patching a file from the version the player already has: when the manifest announces a
// block map for a file that must be updated and an older version of it is in the game
// folder, the part file is built from the old file's blocks plus Range requests for the
// rest, written strictly in order so that it always holds a prefix of the new file. That
// keeps the resume rule of every download: a part file is resumed by its size, whether the
// next attempt patches or downloads whole.
#pragma once
#include "core/base.h"
#include "update/download_win.h"

// One patch attempt from one source; fileUrl is the file's URL there (mirror or server) and
// its map is fileUrl + ".kmmap". kDownloadOk: the part file is complete and verified.
// kDownloadStopped: the launcher is closing. kDownloadBadCrc: the result was wrong and the
// part file is gone. kDownloadFailed: no usable map, a server without ranges, a transfer
// that stopped; the part file holds a correct prefix to resume from. kResumeByDownloading:
// the part file holds the new file up to a last stretch that was not reusable, which the
// ordinary download fetches by resuming it (all of the file when nothing was reusable).
DownloadResult PatchFile(const RemoteFile& file, const std::string& fileUrl, const std::string& oldPath,
                         const std::string& partPath, const DownloadProgress& progress);
