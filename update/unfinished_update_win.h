// The mark of an update that stopped midway. A pass sets it when it starts moving files of a
// release into the game folder and clears it when it ends well; a pass killed in between (the
// PC switched off) leaves it, so the next start can tell the player that the folder mixes two
// releases. The mark is the file KMLauncher.unfinished in the game folder, holding the
// release's name.
#pragma once
#include "core/base.h"

// Update worker: before the pass moves its first file (once per pass is enough; later calls
// find the mark set and do nothing).
void MarkUpdateUnfinished();
// Update worker: the pass ended well.
void ClearUnfinishedUpdate();

// True when the mark is set, with the release it names.
bool LastUpdateUnfinished(std::string& release);
