// The launcher's main window: its class, its creation and its window procedure, which gives
// the frameless window its frame behaviour (move, 4:3 resize, maximise, title-bar buttons),
// drives the painted push buttons and the "What's new" scrolling, and polls the status record.
#pragma once
#include "core/base.h"
#include "ui/geometry.h"
#include <windows.h>

constexpr const char* kMainWindowClass = "KMLauncherWnd";

// The painted title-bar buttons, and which of them the mouse is over or pressed on
// (kTitleNone, kTitleMin, kTitleMax, kTitleClose). UI thread only.
extern DesignRect g_tbMin, g_tbMax, g_tbClose;
extern int g_tbHover;
extern int g_tbDown;

// A drag of the notes' scroll thumb: whether one runs, the design y where it began and the
// scroll offset then.
extern bool g_notesDrag;
extern int g_notesDragY;
extern int g_notesDragStart;

// The button with the keyboard focus ring: its place in g_tabOrder, or kNoFocus before the
// first Tab.
extern int g_focus;

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void RegisterMainWindowClass(HINSTANCE instance);
// Creates, shows and updates the window (size and position from g_scale); sets g_wnd.
HWND CreateMainWindow(HINSTANCE instance, int showCommand);
