// The settings window (being built: it does not open yet).
#include "gameconfig/settings_window_win.h"

HWND g_setWnd = nullptr;

void ShowSettingsWindow() {}

LRESULT CALLBACK SetWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}
