// The main window procedure. (Core subset: status timer, Escape, destruction.)
#include "ui/main_window_win.h"
#include "core/globals_win.h"
#include "core/worker_flags.h"

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      SetTimer(window, 1, 100, nullptr);
      return 0;
    case WM_DESTROY:
      g_quit.exchange(1);
      PostQuitMessage(0);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_TIMER:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
  if (!windowClass.hIcon) windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassA(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand) {
  int width = static_cast<int>(800 * g_scale + 0.5f);
  int height = static_cast<int>(600 * g_scale + 0.5f);
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  g_wnd = CreateWindowExA(WS_EX_APPWINDOW, kMainWindowClass, "Kelmorra",
                          WS_POPUP | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                          x, y, width, height, nullptr, nullptr, instance, nullptr);
  ShowWindow(g_wnd, showCommand);
  UpdateWindow(g_wnd);
  return g_wnd;
}
