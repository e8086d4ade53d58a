// The button records and their drawing. A button's face is one of the two resource pictures
// stretched over its rectangle (faded for a disabled button), or a flat dark box when the
// pictures are missing; the label sits centred on it and moves a unit when pressed. The label
// font and format and the fading attributes are made once and kept.
#include "ui/buttons_win.h"
#include "ui/button_keys.h"
#include "ui/images_win.h"
#include "ui/paint_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

Button g_settings = {152, 528, 282, 578, "SETTINGS", false, false, false, false};
Button g_account = {288, 528, 418, 578, "NEW ACCOUNT", false, false, false, false};
const char* const kRetryLabel = "RETRY";
const char* const kPauseLabel = "PAUSE";
const char* const kResumeLabel = "RESUME";
bool g_keyboardCues = false;

Button g_retry = {424, 528, 554, 578, kRetryLabel, false, false, false, false};
Button g_play = {560, 528, 690, 578, "PLAY", false, false, false, false};
Button g_exit = {696, 528, 786, 578, "EXIT", false, false, true, false};
Button* const g_tabOrder[5] = {&g_settings, &g_account, &g_retry, &g_play, &g_exit};

namespace {
constexpr ARGB kFlatFace = 0xDC0A0A0E;
constexpr ARGB kFlatOutline = 0xFF8CCDFF;
constexpr ARGB kLabelDisabled = 0x6EC8C8C8;
constexpr ARGB kLabelLit = 0xFFFFFFFF;
constexpr REAL kDisabledAlpha = 0.45f;
constexpr ARGB kFocusRing = 0xFFFFFFFF;
constexpr REAL kFocusOutset = 3.0f;  // half the gap between two buttons

GpImage* FaceFor(const Button& button) {
  if (button.hover && button.enabled && g_btnHover) return g_btnHover;
  return g_btnUp;
}

GpImageAttributes* FadeAttributes() {
  static GpImageAttributes* attributes = [] {
    ColorMatrix fade = {};
    for (int i = 0; i < 5; i++) fade.m[i][i] = 1.0f;
    fade.m[3][3] = kDisabledAlpha;
    GpImageAttributes* made = nullptr;
    GdipCreateImageAttributes(&made);
    GdipSetImageAttributesColorMatrix(made, ColorAdjustTypeDefault, TRUE, &fade, nullptr, ColorMatrixFlagsDefault);
    return made;
  }();
  return attributes;
}

// The whole picture stretched into the button; a disabled one through an alpha-only matrix.
void DrawFace(GpGraphics* graphics, GpImage* face, const RectF& box, bool enabled) {
  UINT width = 0, height = 0;
  GdipGetImageWidth(face, &width);
  GdipGetImageHeight(face, &height);
  GdipDrawImageRectRect(graphics, face, box.X, box.Y, box.Width, box.Height, 0, 0, REAL(width), REAL(height),
                        UnitPixel, enabled ? nullptr : FadeAttributes(), nullptr, nullptr);
}

void DrawFlatFace(GpGraphics* graphics, const RectF& box) {
  GpSolidFill* fill = nullptr;
  GdipCreateSolidFill(kFlatFace, &fill);
  GdipFillRectangle(graphics, fill, box.X, box.Y, box.Width, box.Height);
  GdipDeleteBrush(fill);
  GpPen* pen = nullptr;
  GdipCreatePen1(kFlatOutline, 1.5f, UnitWorld, &pen);
  GdipDrawRectangle(graphics, pen, box.X, box.Y, box.Width, box.Height);
  GdipDeletePen(pen);
}

ARGB LabelColour(const Button& button) {
  if (!button.enabled) return kLabelDisabled;
  if (button.pressed || button.hover) return kLabelLit;
  return GOLD;
}

// With keyboard cues the mnemonic letter is marked for the format's hot-key prefix.
void DrawLabel(GpGraphics* graphics, const Button& button, RectF box) {
  std::string text = button.label;
  int mnemonic = g_keyboardCues ? MnemonicIndex(text) : -1;
  if (mnemonic >= 0) text.insert(static_cast<size_t>(mnemonic), 1, '&');
  WCHAR label[32] = {};
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, label, 32);
  label[31] = 0;
  if (button.pressed) {
    box.X += 1;
    box.Y += 1;
  }
  static GpFont* font = CreateTahoma(15, FontStyleBold);
  static GpStringFormat* format = [] {
    GpStringFormat* made = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &made);
    GdipSetStringFormatAlign(made, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(made, StringAlignmentCenter);
    GdipSetStringFormatHotkeyPrefix(made, HotkeyPrefixShow);
    return made;
  }();
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(LabelColour(button), &brush);
  GdipDrawString(graphics, label, -1, font, &box, format, brush);
  GdipDeleteBrush(brush);
}

// A light ring around the face, clear of the label: where Space or Return acts.
void DrawFocusRing(GpGraphics* graphics, const RectF& box) {
  GpPen* pen = nullptr;
  GdipCreatePen1(kFocusRing, 1.5f, UnitWorld, &pen);
  GdipSetPenDashStyle(pen, DashStyleDot);
  GdipDrawRectangle(graphics, pen, box.X - kFocusOutset, box.Y - kFocusOutset, box.Width + 2 * kFocusOutset,
                    box.Height + 2 * kFocusOutset);
  GdipDeletePen(pen);
}
}  // namespace

void DrawButton(GpGraphics* graphics, const Button& button) {
  RectF box(REAL(button.left), REAL(button.top), REAL(button.right - button.left),
            REAL(button.bottom - button.top));
  GpImage* face = FaceFor(button);
  if (face) {
    DrawFace(graphics, face, box, button.enabled);
  } else {
    DrawFlatFace(graphics, box);
  }
  DrawLabel(graphics, button, box);
  if (button.focused && button.enabled) DrawFocusRing(graphics, box);
}
