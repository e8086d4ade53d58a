// The main window's painting, in the fixed order of its layers: background, bottom panel,
// status headline and detail, progress bar, content version, "What's new" panel, push
// buttons, title bar with logo, title and title-bar buttons. Everything is drawn in design
// units on an off-screen bitmap of the window's size and copied once, so the window never
// flickers. The status record and the manifest's announcements are copied under g_lock first;
// no lock is held while drawing.
//
// A paint costs little because what did not change is not drawn again: the background and
// bottom panel are kept scaled to the window; the "What's new" panel and the title strip are
// kept drawn over them until the notes, their scroll offset or the status colour change; and
// the finished frame is kept until anything it shows changes. The panel and the title strip
// share no pixel with the status lines, the progress bar, the content version or the push
// buttons, so drawing them earlier than their turn gives the same picture.
#include "ui/paint_win.h"
#include "core/globals_win.h"
#include "core/status_win.h"
#include "ui/buttons_win.h"
#include "ui/geometry.h"
#include "ui/images_win.h"
#include "ui/layer_win.h"
#include "ui/main_window_win.h"
#include "ui/notes_panel_win.h"
#include <cstring>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ARGB TEAL = 0xFF96D2E6;
ARGB GOLD = 0xFFBEE1FF;

namespace {
constexpr ARGB kNoBackground = 0xFF08080C;
constexpr ARGB kPanelLine = 0xA08CCDFF;
constexpr ARGB kErrorColour = 0xFFF0785A;
constexpr ARGB kProgressTrack = 0xFF101218;
constexpr ARGB kFillTop = 0xFFD7F0FF;
constexpr ARGB kFillBottom = 0xFF468CE6;
constexpr ARGB kLightLine = 0xFF8CCDFF;
constexpr ARGB kVersionText = 0xA0B4B4BE;
constexpr ARGB kTitleBarFill = 0xEB060E1A;
constexpr ARGB kLogoOuter = 0xFF285A96;
constexpr ARGB kTitleText = 0xFFBEE1FF;
constexpr ARGB kGlyph = 0xFFD7F0FF;
constexpr ARGB kHoverButton = 0x6E468CE6;
constexpr ARGB kHoverClose = 0xFFC8283C;
constexpr size_t kTextUnits = 1023;  // 1024 with the terminator

// The fonts, formats and pen every paint uses; made once and kept.
struct PaintKit {
  GpFont* headline = nullptr;
  GpFont* small = nullptr;
  GpFont* title = nullptr;
  GpStringFormat* singleLine = nullptr;
  GpStringFormat* titleFormat = nullptr;
  GpPen* panelPen = nullptr;
};

PaintKit MakeKit() {
  PaintKit kit;
  kit.headline = CreateTahoma(17, FontStyleBold);
  kit.small = CreateTahoma(12, FontStyleRegular);
  kit.title = CreateTahoma(12, FontStyleBold);
  GdipCreateStringFormat(StringFormatFlagsNoWrap, LANG_NEUTRAL, &kit.singleLine);
  GdipSetStringFormatTrimming(kit.singleLine, StringTrimmingEllipsisPath);
  GdipCreateStringFormat(0, LANG_NEUTRAL, &kit.titleFormat);
  GdipSetStringFormatLineAlign(kit.titleFormat, StringAlignmentCenter);
  GdipCreatePen1(kPanelLine, 1.0f, UnitWorld, &kit.panelPen);
  return kit;
}

const PaintKit& Kit() {
  static PaintKit kit = MakeKit();
  return kit;
}

void Line(GpGraphics* graphics, ARGB colour, REAL width, REAL x1, REAL y1, REAL x2, REAL y2) {
  GpPen* pen = nullptr;
  GdipCreatePen1(colour, width, UnitWorld, &pen);
  GdipDrawLine(graphics, pen, x1, y1, x2, y2);
  GdipDeletePen(pen);
}

void Outline(GpGraphics* graphics, ARGB colour, REAL width, const RectF& box) {
  GpPen* pen = nullptr;
  GdipCreatePen1(colour, width, UnitWorld, &pen);
  GdipDrawRectangle(graphics, pen, box.X, box.Y, box.Width, box.Height);
  GdipDeletePen(pen);
}

void PaintBackground(GpGraphics* graphics) {
  if (g_bg) {
    GdipDrawImageRect(graphics, g_bg, 0, 0, 800, 600);
  } else {
    FillBox(graphics, kNoBackground, RectF(0, 0, 800, 600));
  }
}

void PaintBottomPanel(GpGraphics* graphics, const PaintKit& kit) {
  FillBox(graphics, kPanelFill, RectF(0, 440, 800, 160));
  GdipDrawLine(graphics, kit.panelPen, 0, 440, 800, 440);
}

// Headline and detail line; the headline is drawn without a box, so a long one runs off
// the window's edge, while the detail is shortened in the middle like a path.
void PaintStatusText(GpGraphics* graphics, const PaintKit& kit, const StatusCopy& status, ARGB statusColour) {
  std::wstring headline = Widen(status.status, kTextUnits);
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(statusColour, &brush);
  RectF origin(24, 454, 0, 0);
  GdipDrawString(graphics, headline.c_str(), -1, kit.headline, &origin, nullptr, brush);
  GdipDeleteBrush(brush);
  DrawTextIn(graphics, Widen(status.detail, kTextUnits), kit.small, RectF(24, 480, 752, 18), kit.singleLine, TEAL);
}

void PaintProgress(GpGraphics* graphics, double progress) {
  FillBox(graphics, kProgressTrack, RectF(24, 502, 752, 14));
  if (progress > 0) {
    PointF top(0, 502), bottom(0, 516);
    GpLineGradient* gradient = nullptr;
    GdipCreateLineBrush(&top, &bottom, kFillTop, kFillBottom, WrapModeTile, &gradient);
    GdipFillRectangle(graphics, gradient, 25, 503, REAL(ProgressFillWidth(progress)), 12);
    GdipDeleteBrush(gradient);
  }
  Outline(graphics, kLightLine, 1.0f, RectF(24, 502, 752, 14));
}

void PaintContentVersion(GpGraphics* graphics, const PaintKit& kit, const NotesCopy& notes) {
  std::string text = notes.updateName;
  if (text.empty() && notes.version != 0) text = "Content version " + std::to_string(notes.version);
  if (text.empty()) return;
  DrawTextIn(graphics, Widen(text, kTextUnits), kit.small, RectF(24, 548, 124, 30), kit.singleLine, kVersionText);
}

// RETRY, NEW ACCOUNT and SETTINGS exist for the player only while they work.
void PaintButtons(GpGraphics* graphics) {
  for (const Button* button : {&g_retry, &g_account, &g_settings}) {
    if (button->enabled) DrawButton(graphics, *button);
  }
  DrawButton(graphics, g_play);
  DrawButton(graphics, g_exit);
}

void FillDiamond(GpGraphics* graphics, const PointF (&corners)[4], ARGB colour, GpPen* outline) {
  GpPath* path = nullptr;
  GdipCreatePath(FillModeAlternate, &path);
  GdipAddPathPolygon(path, corners, 4);
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(colour, &brush);
  GdipFillPath(graphics, brush, path);
  if (outline) GdipDrawPath(graphics, outline, path);
  GdipDeleteBrush(brush);
  GdipDeletePath(path);
}

void PaintTitleBar(GpGraphics* graphics, const PaintKit& kit) {
  FillBox(graphics, kTitleBarFill, RectF(0, 0, 800, 27));
  Line(graphics, kLightLine, 1.0f, 0, 26.5f, 800, 26.5f);
  const PointF outer[4] = {{15, 5.5f}, {22, 13.5f}, {15, 21.5f}, {8, 13.5f}};
  const PointF inner[4] = {{15, 9}, {18.5f, 13.5f}, {15, 18}, {11.5f, 13.5f}};
  GpPen* outerPen = nullptr;
  GdipCreatePen1(kTitleText, 1.0f, UnitWorld, &outerPen);
  FillDiamond(graphics, outer, kLogoOuter, outerPen);
  GdipDeletePen(outerPen);
  FillDiamond(graphics, inner, kGlyph, nullptr);
  DrawTextIn(graphics, L"K E L M O R R A", kit.title, RectF(30, 0, 400, 27), kit.titleFormat, kTitleText);
}

void PaintTitleGlyph(GpGraphics* graphics, GpPen* pen, int code, REAL cx, bool zoomed) {
  if (code == kTitleMin) {
    GdipDrawLine(graphics, pen, cx - 5, 13.5f, cx + 5, 13.5f);
  } else if (code == kTitleMax && zoomed) {
    GdipDrawRectangle(graphics, pen, cx - 5, 10.5f, 8, 8);
    GdipDrawLine(graphics, pen, cx - 3, 8.5f, cx + 5, 8.5f);
    GdipDrawLine(graphics, pen, cx + 5, 8.5f, cx + 5, 16.5f);
  } else if (code == kTitleMax) {
    GdipDrawRectangle(graphics, pen, cx - 5, 8.5f, 10, 10);
  } else {
    GdipDrawLine(graphics, pen, cx - 5, 8.5f, cx + 5, 18.5f);
    GdipDrawLine(graphics, pen, cx - 5, 18.5f, cx + 5, 8.5f);
  }
}

void PaintTitleButtons(GpGraphics* graphics, bool zoomed) {
  GpPen* pen = nullptr;
  GdipCreatePen1(kGlyph, 1.4f, UnitWorld, &pen);
  const int codes[3] = {kTitleMin, kTitleMax, kTitleClose};
  const DesignRect* boxes[3] = {&g_tbMin, &g_tbMax, &g_tbClose};
  for (int i = 0; i < 3; i++) {
    const DesignRect& box = *boxes[i];
    if (g_tbHover == codes[i]) {
      ARGB fill = codes[i] == kTitleClose ? kHoverClose : kHoverButton;
      FillBox(graphics, fill, RectF(REAL(box.left), 0, REAL(box.right - box.left), 26));
    }
    PaintTitleGlyph(graphics, pen, codes[i], (box.left + box.right) * 0.5f, zoomed);
  }
  GdipDeletePen(pen);
}

// Everything a frame shows. A paint with the key of the last frame only copies that frame.
struct FrameKey {
  float scale = 0;
  GpImage* background = nullptr;
  StatusCopy status{};
  NotesCopy notes{};
  int scroll = 0;
  int titleHover = kTitleNone;
  bool zoomed = false;
  bool keyboardCues = false;
  Button buttons[5] = {};
};

const Button* const kPainted[5] = {&g_retry, &g_account, &g_settings, &g_play, &g_exit};

bool SameButton(const Button& a, const Button& b) {
  return a.hover == b.hover && a.pressed == b.pressed && a.enabled == b.enabled && a.focused == b.focused &&
         strcmp(a.label, b.label) == 0;
}

bool SameStatus(const StatusCopy& a, const StatusCopy& b) {
  return a.phase == b.phase && a.progress == b.progress && a.status == b.status && a.detail == b.detail;
}

bool SameNotes(const NotesCopy& a, const NotesCopy& b) {
  return a.version == b.version && a.updateName == b.updateName && a.notes == b.notes;
}

bool SameButtons(const FrameKey& a, const FrameKey& b) {
  if (a.keyboardCues != b.keyboardCues) return false;
  for (int i = 0; i < 5; i++) {
    if (!SameButton(a.buttons[i], b.buttons[i])) return false;
  }
  return true;
}

bool SameFrame(const FrameKey& a, const FrameKey& b) {
  if (a.scale != b.scale || a.background != b.background || a.scroll != b.scroll ||
      a.titleHover != b.titleHover || a.zoomed != b.zoomed) {
    return false;
  }
  return SameButtons(a, b) && SameStatus(a.status, b.status) && SameNotes(a.notes, b.notes);
}

FrameKey CurrentFrameKey() {
  FrameKey key;
  key.scale = g_scale;
  key.background = g_bg;
  key.status = CopyStatus();
  key.notes = CopyNotes();
  key.scroll = g_notesScroll;
  key.titleHover = g_tbHover;
  key.zoomed = g_wnd && IsZoomed(g_wnd);
  key.keyboardCues = g_keyboardCues;
  for (int i = 0; i < 5; i++) key.buttons[i] = *kPainted[i];
  return key;
}

ARGB StatusColour(const StatusCopy& status) { return IsErrorPhase(status.phase) ? kErrorColour : GOLD; }

// The picture in four layers, each the one before with more drawn on it.
Layer g_backdrop;   // background and bottom panel
Layer g_upper;      // + the "What's new" panel and the title strip
Layer g_decorated;  // + the push buttons
Layer g_frame;      // + status lines, progress bar, content version, title-bar buttons
float g_backdropScale = 0;
GpImage* g_backdropPicture = nullptr;
FrameKey g_upperKey, g_decoratedKey, g_frameKey;
unsigned g_frameSource = 0;  // generation of g_decorated that g_frame was built on

bool BuildBackdrop(const FrameKey& key) {
  if (!FitLayer(g_backdrop, WindowSizeForScale(key.scale))) return false;
  if (g_backdrop.valid && g_backdropScale == key.scale && g_backdropPicture == key.background) return true;
  DrawOnLayer(g_backdrop, [](GpGraphics* graphics) {
    PaintBackground(graphics);
    PaintBottomPanel(graphics, Kit());
  });
  g_backdropScale = key.scale;
  g_backdropPicture = key.background;
  g_backdrop.valid = true;
  g_upper.valid = false;
  return true;
}

// Also publishes the panel's geometry and clamps the scroll offset, as drawing the panel does.
bool BuildUpper(FrameKey& key) {
  if (!FitLayer(g_upper, g_backdrop.size)) return false;
  if (g_upper.valid && SameNotes(key.notes, g_upperKey.notes) && key.scroll == g_upperKey.scroll &&
      StatusColour(key.status) == StatusColour(g_upperKey.status)) {
    return true;
  }
  CopyRows(g_backdrop, g_upper, 0, g_backdrop.size.height);
  ARGB colour = StatusColour(key.status);
  DrawOnLayer(g_upper, [&](GpGraphics* graphics) {
    const PaintKit& kit = Kit();
    PaintNotesPanel(graphics, key.notes, NotesPanelStyle{kit.headline, kit.singleLine, kit.panelPen, colour});
    PaintTitleBar(graphics, kit);
  });
  key.scroll = g_notesScroll;
  g_upperKey = key;
  g_upper.valid = true;
  g_decorated.valid = false;
  return true;
}

bool BuildDecorated(const FrameKey& key) {
  if (!FitLayer(g_decorated, g_upper.size)) return false;
  if (g_decorated.valid && SameButtons(key, g_decoratedKey)) return true;
  CopyRows(g_upper, g_decorated, 0, g_upper.size.height);
  DrawOnLayer(g_decorated, [](GpGraphics* graphics) { PaintButtons(graphics); });
  g_decoratedKey = key;
  g_decorated.valid = true;
  g_decorated.generation++;
  return true;
}

// The frame differs from the layer below only in the title strip and from the bottom panel
// down, so only those rows are renewed unless that layer itself changed.
void BuildFrame(const FrameKey& key) {
  if (!FitLayer(g_frame, g_decorated.size)) return;
  if (g_frame.valid && SameFrame(key, g_frameKey)) return;
  int height = g_decorated.size.height;
  if (g_frame.valid && g_frameSource == g_decorated.generation) {
    CopyRows(g_decorated, g_frame, 0, int(28 * key.scale) + 2);
    CopyRows(g_decorated, g_frame, int(440 * key.scale) - 2, height);
  } else {
    CopyRows(g_decorated, g_frame, 0, height);
  }
  DrawOnLayer(g_frame, [&](GpGraphics* graphics) {
    const PaintKit& kit = Kit();
    PaintStatusText(graphics, kit, key.status, StatusColour(key.status));
    PaintProgress(graphics, key.status.progress);
    PaintContentVersion(graphics, kit, key.notes);
    PaintTitleButtons(graphics, key.zoomed);
  });
  g_frameKey = key;
  g_frameSource = g_decorated.generation;
  g_frame.valid = true;
}
}  // namespace

GpFont* CreateTahoma(REAL size, INT style) {
  GpFontFamily* family = nullptr;
  if (GdipCreateFontFamilyFromName(L"Tahoma", nullptr, &family) != Ok) GdipGetGenericFontFamilySansSerif(&family);
  GpFont* font = nullptr;
  if (family) GdipCreateFont(family, size, style, UnitPixel, &font);
  if (family) GdipDeleteFontFamily(family);
  return font;
}

std::wstring Widen(const std::string& text, size_t maxUnits) {
  if (text.empty()) return std::wstring();
  int length = static_cast<int>(text.size());
  int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], units);
  if (wide.size() > maxUnits) wide.resize(maxUnits);
  return wide;
}

void FillBox(GpGraphics* graphics, ARGB colour, const RectF& box) {
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(colour, &brush);
  GdipFillRectangle(graphics, brush, box.X, box.Y, box.Width, box.Height);
  GdipDeleteBrush(brush);
}

void DrawTextIn(GpGraphics* graphics, const std::wstring& text, GpFont* font, const RectF& box,
                GpStringFormat* format, ARGB colour) {
  if (text.empty()) return;
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(colour, &brush);
  GdipDrawString(graphics, text.c_str(), static_cast<INT>(text.size()), font, &box, format, brush);
  GdipDeleteBrush(brush);
}

void Paint(HDC dc) {
  FrameKey key = CurrentFrameKey();
  if (!BuildBackdrop(key) || !BuildUpper(key) || !BuildDecorated(key)) return;
  BuildFrame(key);
  if (g_frame.valid) CopyToWindow(dc, g_frame);
}

bool FrameOutdated() { return !g_frame.valid || !SameFrame(CurrentFrameKey(), g_frameKey); }

void ReleasePaintLayers() {
  for (Layer* layer : {&g_backdrop, &g_upper, &g_decorated, &g_frame}) {
    if (layer->bitmap) GdipDisposeImage(layer->bitmap);
    *layer = Layer{};
  }
}
