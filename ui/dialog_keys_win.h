// What a dialog box does for the keyboard, for the launcher's small popup windows of standard
// controls (account, settings): Return presses the default button, Escape cancels, and the
// control that had the caret gets it back when the window is activated again. Tab between
// the controls comes from the message loop passing keys through IsDialogMessageA.
#pragma once
#include "core/base.h"
#include <windows.h>

// Handles DM_GETDEFID, WM_ACTIVATE and the IDOK / IDCANCEL commands for a window whose default
// button is defaultId and whose cancel button is cancelId. True when the message was handled,
// with its result.
bool HandleDialogKeys(HWND window, UINT message, WPARAM wParam, int defaultId, int cancelId, LRESULT& result);
