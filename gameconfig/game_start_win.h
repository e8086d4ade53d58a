// Starting the game client: Kelmorra.exe in the game folder, after which the launcher closes.
#pragma once
#include "core/base.h"

// Runs on the window thread. On success the main window is destroyed (the launcher exits
// while the game runs on); on failure the launcher stays open and says why in a message box.
void Play();
