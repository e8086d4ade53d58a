// Starting the game client: Kelmorra.exe in the game folder, after which the launcher closes.
#pragma once
#include "core/base.h"

// Runs on the window thread. On success the main window is destroyed (the launcher exits
// while the game runs on); on failure the launcher stays open and says why in a message box.
void Play();

// A check Play makes before it starts the client (the launcher with a release key sets it):
// false keeps the client from starting and says why. held, when set, is closed once started.
using ClientStartCheck = bool (*)(const std::string& clientPath, void*& held);
void SetClientStartCheck(ClientStartCheck check);
