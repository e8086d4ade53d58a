// The settings window: screen size, full screen and three graphics options, saved into
// coinit.tmp and startcfg.aut. Modal in effect: the main window is disabled while it is open.
#pragma once
#include "core/base.h"
#include "gameconfig/settings_choices.h"
#include <windows.h>

extern HWND g_setWnd;                   // the settings window while it is open
extern std::vector<DisplayMode> g_modes;  // the sizes offered, rebuilt at each opening

// Opens the window, or brings the open one forward.
void ShowSettingsWindow();
LRESULT CALLBACK SetWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
