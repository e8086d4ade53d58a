// The account-creation window: a small modal form that posts to the content server.
#pragma once
#include "core/base.h"
#include <windows.h>
#include <atomic>

// The account window's answer from RegisterThread: lParam owns a new std::string.
constexpr UINT kMsgAccountReply = WM_APP + 20;

// The account window while it exists; also read by the account worker, hence atomic.
extern std::atomic<HWND> g_accWnd;
extern HWND g_accStatus;   // its status text control
extern HBRUSH g_accBrush;  // background RGB(16, 18, 24), shared with the settings window

// Opens the window (or brings the open one forward) and disables the main window.
void ShowAccountWindow();
LRESULT CALLBACK AccWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The text of one of the account window's controls, at most 255 characters.
std::string GetText(int controlId);

// The shared background brush, created on first use and never freed.
HBRUSH AccountBrush();
