// Painting of the main window: the whole window drawn in 800 x 600 design units into an
// off-screen bitmap scaled by g_scale, then copied to the window in one step. Also the small
// GDI+ drawing helpers the painted parts (buttons, "What's new" panel) share.
#pragma once
#include "core/base.h"
#include <windows.h>
#include <gdiplus.h>

// The accent colours: detail line and release-note text (TEAL), headline and labels (GOLD).
extern Gdiplus::ARGB TEAL;
extern Gdiplus::ARGB GOLD;

// The translucent fill of the bottom panel and of the "What's new" panel.
constexpr Gdiplus::ARGB kPanelFill = 0xB904060A;

// Draws the whole window on dc; publishes the notes panel geometry as a side effect. Parts
// that did not change since the last paint are reused, not drawn again.
void Paint(HDC dc);

// True when a paint now would show something else than the last one (status, notes, scroll
// offset, buttons, hover, scale, maximised): the window needs repainting.
bool FrameOutdated();

// Frees the pictures kept between paints; the next paint draws everything again.
void ReleasePaintLayers();

// A "Tahoma" font of size pixels (design space); the generic sans-serif family stands in
// when Tahoma is not installed. Null only when GDI+ cannot make any font.
Gdiplus::GpFont* CreateTahoma(Gdiplus::REAL size, INT style);

// The text in UTF-16 from the ANSI code page, cut to at most maxUnits code units.
std::wstring Widen(const std::string& text, size_t maxUnits = std::wstring::npos);

void FillBox(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB colour, const Gdiplus::RectF& box);
void DrawTextIn(Gdiplus::GpGraphics* graphics, const std::wstring& text, Gdiplus::GpFont* font,
                const Gdiplus::RectF& box, Gdiplus::GpStringFormat* format, Gdiplus::ARGB colour);
