// The launcher's main window: its class, its creation and its window procedure.
#pragma once
#include "core/base.h"
#include <windows.h>

constexpr const char* kMainWindowClass = "KMLauncherWnd";

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void RegisterMainWindowClass(HINSTANCE instance);
// Creates, shows and updates the window (size and position from g_scale); sets g_wnd.
HWND CreateMainWindow(HINSTANCE instance, int showCommand);
