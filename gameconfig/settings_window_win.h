// The settings window: screen size, full screen and three graphics options, saved into
// coinit.tmp and startcfg.aut. Modal in effect: the main window is disabled while it is open.
#pragma once
#include "core/base.h"
#include <windows.h>

extern HWND g_setWnd;  // the settings window while it is open

// Opens the window, or brings the open one forward.
void ShowSettingsWindow();
LRESULT CALLBACK SetWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
