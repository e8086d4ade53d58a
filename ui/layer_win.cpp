// Layers of the main window's painting; see layer_win.h.
#include "ui/layer_win.h"
#include "core/globals_win.h"
#include <algorithm>
#include <cstring>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {
// The picture drawn with GDI+ in one unscaled copy; only for rows GDI cannot take as they are.
void DrawToWindow(HDC dc, GpBitmap* bitmap, PixelSize size) {
  GpGraphics* screen = nullptr;
  if (GdipCreateFromHDC(dc, &screen) != Ok) return;
  GdipSetCompositingMode(screen, CompositingModeSourceCopy);
  GdipSetInterpolationMode(screen, InterpolationModeNearestNeighbor);
  GdipDrawImageRectI(screen, bitmap, 0, 0, size.width, size.height);
  GdipDeleteGraphics(screen);
}
}  // namespace

bool FitLayer(Layer& layer, PixelSize size) {
  if (layer.bitmap && layer.size.width == size.width && layer.size.height == size.height) return true;
  if (layer.bitmap) GdipDisposeImage(layer.bitmap);
  layer.bitmap = nullptr;
  layer.valid = false;
  layer.size = size;
  // Bitmaps made like this are backed by a GDI section, as the one-paint bitmap always was, so
  // GDI+ draws on them the same way.
  return GdipCreateBitmapFromScan0(size.width, size.height, 0, PixelFormat32bppPARGB, nullptr, &layer.bitmap) == Ok;
}

void CopyRows(const Layer& from, const Layer& to, int first, int end) {
  first = std::max(first, 0);
  end = std::min(end, from.size.height);
  if (first >= end) return;
  GpRect rows(0, first, from.size.width, end - first);
  BitmapData source = {}, target = {};
  if (GdipBitmapLockBits(from.bitmap, &rows, ImageLockModeRead, PixelFormat32bppPARGB, &source) != Ok) return;
  if (GdipBitmapLockBits(to.bitmap, &rows, ImageLockModeWrite, PixelFormat32bppPARGB, &target) == Ok) {
    for (int y = 0; y < end - first; y++) {
      memcpy(static_cast<BYTE*>(target.Scan0) + y * target.Stride,
             static_cast<const BYTE*>(source.Scan0) + y * source.Stride, size_t(from.size.width) * 4);
    }
    GdipBitmapUnlockBits(to.bitmap, &target);
  }
  GdipBitmapUnlockBits(from.bitmap, &source);
}

void DrawOnLayer(const Layer& layer, const std::function<void(GpGraphics*)>& draw) {
  GpGraphics* graphics = nullptr;
  if (GdipGetImageGraphicsContext(layer.bitmap, &graphics) != Ok) return;
  GdipScaleWorldTransform(graphics, g_scale, g_scale, MatrixOrderPrepend);
  GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
  GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAliasGridFit);
  GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
  draw(graphics);
  GdipDeleteGraphics(graphics);
}

// The rows handed to GDI as they are: much faster under Wine than drawing the bitmap with
// GDI+, and the same picture, since every pixel of the window is opaque.
void CopyToWindow(HDC dc, const Layer& layer) {
  PixelSize size = layer.size;
  GpRect whole(0, 0, size.width, size.height);
  BitmapData rows = {};
  if (GdipBitmapLockBits(layer.bitmap, &whole, ImageLockModeRead, PixelFormat32bppPARGB, &rows) != Ok) return;
  bool packed = rows.Stride == size.width * 4;
  if (packed) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size.width, -size.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(dc, 0, 0, size.width, size.height, 0, 0, 0, size.height, rows.Scan0, &info, DIB_RGB_COLORS);
  }
  GdipBitmapUnlockBits(layer.bitmap, &rows);
  if (!packed) DrawToWindow(dc, layer.bitmap, size);
}
