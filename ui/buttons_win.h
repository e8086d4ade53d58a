// The five painted push buttons of the main window: fixed records in design units, and how
// one is drawn in each of its states (idle, hovered, pressed, disabled).
#pragma once
#include "core/base.h"
#include <windows.h>
#include <gdiplus.h>

struct Button {
  int32_t left, top, right, bottom;  // design units; right and bottom exclusive
  const char* label;
  bool hover;
  bool pressed;
  bool enabled;
};

extern Button g_settings, g_account, g_retry, g_play, g_exit;

// Draws the button on graphics already scaled to design units.
void DrawButton(Gdiplus::GpGraphics* graphics, const Button& button);
