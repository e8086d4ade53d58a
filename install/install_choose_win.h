// The INSTALL button's folder pick: the system folder picker opens on the default install
// folder's parent; the picked folder becomes the install folder and the install worker starts.
#pragma once
#include "core/base.h"
#include <windows.h>

// Runs on the window thread while the phase is NotInstalled. A cancelled picker or a
// virtual (non-file-system) choice changes nothing.
void ChooseInstallFolder();

// The picker's callback: selects the start folder (lpData, a path) once the picker is up.
int CALLBACK BrowseInit(HWND picker, UINT message, LPARAM unused, LPARAM data);
