// The account-creation window.
#include "ui/account_window_win.h"

HWND g_accWnd = nullptr;
