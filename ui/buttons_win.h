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
  bool focused;  // the keyboard focus is on it (drawn as a ring while it is enabled)
};

extern Button g_settings, g_account, g_retry, g_play, g_exit;

// The five as painted left to right: the order of Tab and of the screen reader's children.
extern Button* const g_tabOrder[5];

// The labels the RETRY place shows while a pass downloads and while it is paused.
extern const char* const kPauseLabel;
extern const char* const kResumeLabel;
extern const char* const kRetryLabel;

// True once the player used the keyboard on the window (Tab or Alt): the labels then show their
// mnemonic letters underlined, as Windows shows keyboard cues.
extern bool g_keyboardCues;

// Draws the button on graphics already scaled to design units.
void DrawButton(Gdiplus::GpGraphics* graphics, const Button& button);
