// The account-creation window (being built: it does not open yet).
#include "ui/account_window_win.h"

HWND g_accWnd = nullptr;
HWND g_accStatus = nullptr;
HBRUSH g_accBrush = nullptr;

HBRUSH AccountBrush() {
  if (!g_accBrush) g_accBrush = CreateSolidBrush(RGB(16, 18, 24));
  return g_accBrush;
}

void ShowAccountWindow() {}

LRESULT CALLBACK AccWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string GetText(int controlId) {
  char buffer[256] = {};
  GetDlgItemTextA(g_accWnd, controlId, buffer, sizeof buffer);
  return buffer;
}
