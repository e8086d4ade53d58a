// The five painted push buttons of the main window: fixed records in design units.
#pragma once
#include "core/base.h"

struct Button {
  int32_t left, top, right, bottom;  // design units; right and bottom exclusive
  const char* label;
  bool hover;
  bool pressed;
  bool enabled;
};

extern Button g_settings, g_account, g_retry, g_play, g_exit;
