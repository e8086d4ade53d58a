// The update pass on its worker thread: make the game folder equal to the published release.
#pragma once

// Starts an update pass on a new worker thread unless one runs.
void StartUpdate();
