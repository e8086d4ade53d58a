// The main window for screen readers (Microsoft Active Accessibility, which UI Automation
// clients read as well). The window answers WM_GETOBJECT for its client area with an
// IAccessible object whose children are the five painted buttons, the status headline and
// detail, the progress bar and the "What's new" text; the status tick announces what changed
// with NotifyWinEvent, so nothing extra is painted and an unchanged window costs nothing more.
#pragma once
#include "core/base.h"
#include <windows.h>

// Posted to the main window by the accessible object's default action: press the button of
// wParam (its place in g_tabOrder) as a click would. The window acts on it, never the caller.
constexpr UINT kMsgPressButton = WM_APP + 30;

// WM_GETOBJECT: the object for OBJID_CLIENT, default handling for everything else.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Called on every status tick: announces the status, progress (in steps), notes and buttons
// that changed since the last tick.
void AnnounceChanges(HWND window);

// The keyboard focus moved to the button at place (kNoFocus: to the window).
void AnnounceFocus(HWND window, int place);

// At WM_DESTROY: ends the apartment the first WM_GETOBJECT opened on this thread.
void EndAccessibility();
