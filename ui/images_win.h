// The pictures built into the program (background and the two button faces), loaded once
// with GDI+ from the RCDATA resources; a missing or broken one is a null image.
#pragma once
#include "core/base.h"
#include <windows.h>
#include <gdiplus.h>

extern Gdiplus::GpImage* g_bg;
extern Gdiplus::GpImage* g_btnUp;
extern Gdiplus::GpImage* g_btnHover;

Gdiplus::GpImage* LoadImageRes(int id);
void LoadImages();
void FreeImages();
