// The main window's geometry arithmetic (see geometry.h). Float work follows the window code,
// which keeps the scale as a 32-bit float; every float that becomes an int goes through
// TruncToInt so that an absurd input saturates instead of being undefined.
#include "ui/geometry.h"
#include "core/phase.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kMinScale = 1.0f;
constexpr float kMaxScale = 2.0f;
constexpr int kTitleStripBottom = 26;   // the strip is 0..26 inclusive, 27 units high
constexpr int kCaptionInset = 5;        // pixels of the strip's corner that still resize
constexpr int kBorder = 10;             // resize border in pixels

constexpr float kNotesMaxPanel = 396;   // tallest panel: it then ends at 420, above the status
constexpr float kNotesHeadingSpace = 44;
constexpr float kNotesBottomMargin = 12;
constexpr float kNotesAboveText = 48;   // panel top to the text band, within the panel
constexpr float kNotesPanelTop = 24;
constexpr float kMinThumb = 24;
constexpr int kWheelNotch = 120;
constexpr int kWheelStep = 48;
constexpr float kProgressFull = 750;

// Truncation toward zero, saturating at the int range; NaN gives 0.
int32_t TruncToInt(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int32_t ClampToRange(int64_t value, int32_t low, int32_t high) {
  if (value > high) value = high;
  if (value < low) value = low;
  return static_cast<int32_t>(value);
}

}  // namespace

float ScaleForWorkArea(int workWidth, int workHeight) {
  float byHeight = 0.8f * workHeight / 600.0f;
  float byWidth = 0.9f * workWidth / 800.0f;
  float scale = std::min(byHeight, byWidth);
  if (scale < kMinScale) scale = kMinScale;
  if (scale > kMaxScale) scale = kMaxScale;
  return scale;
}

PixelSize WindowSizeForScale(float scale) {
  return {TruncToInt(kDesignWidth * scale + 0.5f), TruncToInt(kDesignHeight * scale + 0.5f)};
}

PixelPoint CentredPosition(PixelSize window, int screenWidth, int screenHeight) {
  return {(screenWidth - window.width) / 2, (screenHeight - window.height) / 2};
}

DesignPoint ToDesign(int px, int py, float scale) {
  if (!(scale > 0)) scale = 1.0f;
  return {TruncToInt(px / scale), TruncToInt(py / scale)};
}

bool PointInRect(const DesignRect& rect, int x, int y) {
  return rect.left <= x && x < rect.right && rect.top <= y && y < rect.bottom;
}

int TitleButtonAt(int x, int y) {
  if (PointInRect(kTitleMinRect, x, y)) return kTitleMin;
  if (PointInRect(kTitleMaxRect, x, y)) return kTitleMax;
  if (PointInRect(kTitleCloseRect, x, y)) return kTitleClose;
  return kTitleNone;
}

int NcHitTest(int px, int py, int clientWidth, int clientHeight, float scale, bool zoomed) {
  DesignPoint design = ToDesign(px, py, scale);
  bool inStrip = design.y >= 0 && design.y <= kTitleStripBottom;
  if (inStrip && TitleButtonAt(design.x, design.y) == kTitleNone) {
    if (zoomed || (px > kCaptionInset && py > kCaptionInset)) return kHitCaption;
  }
  if (zoomed) return kHitClient;  // a maximised window does not resize from its edges

  bool left = px <= kBorder - 1;
  bool top = py <= kBorder - 1;
  bool right = px >= clientWidth - kBorder;
  bool bottom = py >= clientHeight - kBorder;
  if (left && top) return kHitTopLeft;
  if (right && top) return kHitTopRight;
  if (left && bottom) return kHitBottomLeft;
  if (right && bottom) return kHitBottomRight;
  if (left) return kHitLeft;
  if (right) return kHitRight;
  if (top) return kHitTop;
  if (bottom) return kHitBottom;
  return kHitClient;
}

Placement MaximisedPlacement(const PixelRect& work, const PixelRect& monitor) {
  int64_t workWidth = int64_t(work.right) - work.left;
  int64_t workHeight = int64_t(work.bottom) - work.top;
  int64_t fitWidth = workHeight * kDesignWidth / kDesignHeight;
  Placement placement;
  if (workWidth >= fitWidth) {
    placement.width = static_cast<int32_t>(fitWidth);
    placement.height = static_cast<int32_t>(workHeight);
    placement.x = static_cast<int32_t>(work.left - monitor.left + (workWidth - fitWidth) / 2);
    placement.y = work.top - monitor.top;
  } else {
    int64_t fitHeight = workWidth * kDesignHeight / kDesignWidth;
    placement.width = static_cast<int32_t>(workWidth);
    placement.height = static_cast<int32_t>(fitHeight);
    placement.x = work.left - monitor.left;
    placement.y = static_cast<int32_t>(work.top - monitor.top + (workHeight - fitHeight) / 2);
  }
  return placement;
}

PixelRect AspectLock(int edge, PixelRect proposed) {
  int64_t width = int64_t(proposed.right) - proposed.left;
  int64_t height = int64_t(proposed.bottom) - proposed.top;
  int64_t heightForWidth = width * kDesignHeight / kDesignWidth;
  switch (edge) {
    case kEdgeTop:
    case kEdgeBottom:
      proposed.right = static_cast<int32_t>(proposed.left + height * kDesignWidth / kDesignHeight);
      break;
    case kEdgeTopLeft:
    case kEdgeTopRight:
      proposed.top = static_cast<int32_t>(proposed.bottom - heightForWidth);
      break;
    default:  // left, right and the bottom corners keep the top and move the bottom
      proposed.bottom = static_cast<int32_t>(proposed.top + heightForWidth);
      break;
  }
  return proposed;
}

NotesGeometry NotesLayout(float totalHeight) {
  NotesGeometry notes = {};
  float panel = kNotesHeadingSpace + totalHeight + kNotesBottomMargin;
  if (panel > kNotesMaxPanel) {
    panel = kNotesMaxPanel;
    notes.viewHeight = kNotesMaxPanel - kNotesAboveText;
    notes.panelBottom = TruncToInt(kNotesMaxPanel + kNotesPanelTop);
  } else {
    notes.viewHeight = panel - kNotesAboveText;
    notes.panelBottom = TruncToInt(panel + kNotesPanelTop);
  }
  notes.panelHeight = panel;
  if (notes.viewHeight < totalHeight) notes.notesMax = TruncToInt(totalHeight - notes.viewHeight + 0.5f);
  notes.box = {24, 24, 404, notes.panelBottom};
  if (notes.notesMax > 0) {
    notes.thumbHeight = ThumbHeight(notes.viewHeight, totalHeight);
    notes.track = {388, kNotesTextTop, 402, TruncToInt(notes.viewHeight + kNotesTextTop)};
  }
  return notes;
}

int ClampScroll(int scroll, int notesMax) {
  if (scroll > notesMax) scroll = notesMax;
  if (scroll < 0) scroll = 0;
  return scroll;
}

float ThumbHeight(float viewHeight, float totalHeight) {
  if (!(totalHeight > 0)) return viewHeight;
  return std::max(kMinThumb, viewHeight * viewHeight / totalHeight);
}

float ThumbY(int scroll, float viewHeight, float thumbHeight, int notesMax) {
  if (notesMax <= 0) return kNotesTextTop;
  return kNotesTextTop + scroll * (viewHeight - thumbHeight) / notesMax;
}

int ThumbDragScroll(int y, int dragY, int dragStart, int trackTop, int trackBottom, int thumbHeight,
                    int notesMax) {
  int64_t travel = int64_t(trackBottom) - trackTop - thumbHeight;
  int64_t scroll = dragStart;
  if (travel > 0) scroll = (int64_t(y) - dragY) * notesMax / travel + dragStart;
  return ClampToRange(scroll, 0, std::max(notesMax, 0));
}

int WheelScroll(int scroll, int wheelDelta, int notesMax) {
  if (notesMax < 1) return scroll;
  int64_t moved = int64_t(scroll) - int64_t(wheelDelta) * kWheelStep / kWheelNotch;
  return ClampToRange(moved, 0, notesMax);
}

EnabledButtons ButtonEnables(int phase) {
  // Rows by phase: Connecting, Checking, Updating, Ready, UpdateFailed, Offline,
  // NotInstalled, Installing. Columns: PLAY, RETRY, NEW ACCOUNT, SETTINGS.
  static const EnabledButtons kByPhase[] = {
      {false, false, false, false}, {false, false, true, true}, {false, false, true, true},
      {true, false, true, true},    {false, true, false, true}, {true, true, false, true},
      {true, false, false, false},  {false, false, false, true},
  };
  if (phase < 0 || phase >= static_cast<int>(sizeof kByPhase / sizeof kByPhase[0]))
    return {false, false, false, false};
  return kByPhase[phase];
}

bool IsErrorPhase(int phase) { return phase == UpdateFailed || phase == Offline; }

float ProgressFillWidth(double progress) {
  if (!(progress > 0)) return 0;  // also a NaN progress
  if (progress > 1) return kProgressFull;
  return static_cast<float>(progress * kProgressFull);
}

bool IsNoteHeadingLine(const std::string& line) {
  return line.size() >= 8 && line.compare(0, 8, "Version ") == 0;
}
