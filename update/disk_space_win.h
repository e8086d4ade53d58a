// The room check of an update pass against the free space of the game folder's volume; the
// arithmetic is disk_space.h's.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

// Entries from..end of the update list (indices into files) are still to be written. Empty
// when they fit, or when Windows cannot tell the free space; otherwise the detail line that
// tells the player how much is needed on which drive and how much is free.
std::string DiskSpaceShortfall(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates, size_t from);
