// The account-creation window: a small modal form that posts to the content server.
#pragma once
#include "core/base.h"
#include <windows.h>

extern HWND g_accWnd;
