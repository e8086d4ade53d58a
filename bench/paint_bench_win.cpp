// Time of one Paint of the main window at scale 1.0, 1.5 and 2.0, with the program's own
// pictures and a "What's new" panel that scrolls: after a progress publication (what a
// download costs ten times a second), after a scroll step (the panel is drawn again), with
// nothing changed (the frame is only copied) and from nothing (a new scale). A plain timing
// loop run by hand under wine (paint_bench.exe [repeats]); not part of any test run.
#include "core/status_win.h"
#include "core/globals_win.h"
#include "ui/geometry.h"
#include "ui/images_win.h"
#include "ui/notes_panel_win.h"
#include "ui/paint_win.h"
#include <gdiplus.h>
#include <cstdlib>

namespace {
void PublishReadyWithNotes() {
  SetStatus(Ready, "Up to date  -  Winter Gate", "Press PLAY to enter Kelmorra.", 1);
  EnterCriticalSection(&g_lock);
  g_updateName = "Winter Gate";
  g_version = 12;
  g_notes.clear();
  for (int i = 0; i < 40; i++) {
    g_notes.push_back(i % 10 == 0 ? "Version " + std::to_string(12 - i / 10)
                                  : "- A change of this release, long enough to wrap onto a second line of the panel");
  }
  LeaveCriticalSection(&g_lock);
}

enum class Change { Progress, Scroll, Nothing, Scale };

void MakeChange(Change change, float scale, int i) {
  if (change == Change::Progress) PublishProgress("Downloading Kelmorra.dat", (i % 1000) / 1000.0);
  if (change == Change::Scroll) g_notesScroll = i % 2 ? 0 : 48;
  if (change == Change::Scale) g_scale = i % 2 ? scale : scale + 0.0001f;
}

double MillisecondsPerPaint(float scale, Change change, int repeats) {
  g_scale = scale;
  PixelSize size = WindowSizeForScale(scale);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size.width;
  info.bmiHeader.biHeight = -size.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, target);
  Paint(dc);  // warm-up: fonts and codecs
  LARGE_INTEGER frequency, start, end, spent = {};
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < repeats; i++) {
    MakeChange(change, scale, i);
    QueryPerformanceCounter(&start);
    Paint(dc);
    QueryPerformanceCounter(&end);
    spent.QuadPart += end.QuadPart - start.QuadPart;
  }
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteDC(dc);
  return 1000.0 * double(spent.QuadPart) / double(frequency.QuadPart) / repeats;
}

void PrintScale(float scale, int repeats) {
  PixelSize size = WindowSizeForScale(scale);
  printf("scale %.1f (%d x %d), ms per paint: progress %.2f  scroll %.2f  unchanged %.2f  new scale %.2f\n", scale,
         size.width, size.height, MillisecondsPerPaint(scale, Change::Progress, repeats),
         MillisecondsPerPaint(scale, Change::Scroll, repeats), MillisecondsPerPaint(scale, Change::Nothing, repeats),
         MillisecondsPerPaint(scale, Change::Scale, repeats));
}
}  // namespace

int main(int argc, char** argv) {
  int repeats = argc > 1 ? atoi(argv[1]) : 50;
  if (repeats < 1) repeats = 1;
  InitializeCriticalSection(&g_lock);
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  LoadImages();
  PublishReadyWithNotes();
  printf("pictures %s, %d paints each\n", g_bg && g_btnUp && g_btnHover ? "loaded" : "MISSING", repeats);
  for (float scale : {1.0f, 1.5f, 2.0f}) PrintScale(scale, repeats);
  FreeImages();
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
