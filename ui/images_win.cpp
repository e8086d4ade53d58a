// Resource pictures; see images_win.h.
#include "ui/images_win.h"
#include "ui/paint_win.h"
#include <shlwapi.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

GpImage* g_bg = nullptr;
GpImage* g_btnUp = nullptr;
GpImage* g_btnHover = nullptr;

GpImage* LoadImageRes(int id) {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!resource) return nullptr;
  DWORD size = SizeofResource(nullptr, resource);
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return nullptr;
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
  if (!stream) return nullptr;
  GpImage* image = nullptr;
  GpStatus status = GdipLoadImageFromStream(stream, &image);
  stream->Release();
  if (status != Ok) {
    if (image) GdipDisposeImage(image);
    return nullptr;
  }
  return image;
}

void LoadImages() {
  g_bg = LoadImageRes(201);
  g_btnUp = LoadImageRes(202);
  g_btnHover = LoadImageRes(203);
}

void FreeImages() {
  ReleasePaintLayers();  // drawn from these pictures
  for (GpImage** image : {&g_bg, &g_btnUp, &g_btnHover}) {
    if (*image) GdipDisposeImage(*image);
    *image = nullptr;
  }
}
