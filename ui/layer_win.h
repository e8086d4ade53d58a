// Off-screen pictures of the main window kept between paints, and the pixel moves between
// them and to the window. A layer is a GDI+ bitmap of the window's size; drawing on it uses the
// window's transform (design units) and drawing quality, so a picture built in steps over
// several layers is the picture drawn in one go.
#pragma once
#include "core/base.h"
#include "ui/geometry.h"
#include <windows.h>
#include <gdiplus.h>
#include <functional>

struct Layer {
  Gdiplus::GpBitmap* bitmap = nullptr;
  PixelSize size{0, 0};
  bool valid = false;      // holds a finished picture
  unsigned generation = 0;  // counts the pictures it has held
};

// Gives the layer a bitmap of size (a new one, not valid, when the size changed); false when
// GDI+ cannot make one.
bool FitLayer(Layer& layer, PixelSize size);

// Copies the rows first..end-1 of one layer into another of the same size.
void CopyRows(const Layer& from, const Layer& to, int first, int end);

// Draws on the layer in design units at g_scale with the window's drawing quality.
void DrawOnLayer(const Layer& layer, const std::function<void(Gdiplus::GpGraphics*)>& draw);

// Copies an opaque layer unscaled to dc at (0, 0).
void CopyToWindow(HDC dc, const Layer& layer);
