// The main window's geometry as plain arithmetic: the scale and size of the window, the turn
// of client pixels into the 800 x 600 design space, the frame hit test of a window without a
// system frame, the 4:3 maximised placement and aspect lock, the "What's new" panel layout and
// its scrolling, the button enables by phase and the progress fill. No Windows header: the
// window code passes numbers in and copies the results into RECTs and globals.
#pragma once
#include "core/base.h"

// A rectangle in design units, right and bottom exclusive.
struct DesignRect {
  int32_t left, top, right, bottom;
};

struct DesignPoint {
  int32_t x, y;
};

// A rectangle in pixels (window, work area or monitor), right and bottom exclusive.
struct PixelRect {
  int32_t left, top, right, bottom;
};

struct PixelSize {
  int32_t width, height;
};

struct PixelPoint {
  int32_t x, y;
};

constexpr int kDesignWidth = 800;
constexpr int kDesignHeight = 600;

// Pixels per design unit for a work area: the smaller of 0.8 of the height and 0.9 of the
// width, kept within 1.0..2.0.
float ScaleForWorkArea(int workWidth, int workHeight);
// The window's pixel size at a scale, rounded to the nearest pixel.
PixelSize WindowSizeForScale(float scale);
// Top-left corner that centres a window on the screen (truncating division, so it may be
// negative when the window is larger than the screen).
PixelPoint CentredPosition(PixelSize window, int screenWidth, int screenHeight);

// Client pixels to design units, each axis divided by the scale and truncated toward zero.
// A scale that is not positive counts as 1.
DesignPoint ToDesign(int px, int py, float scale);
bool PointInRect(const DesignRect& rect, int x, int y);

// The painted title-bar buttons.
constexpr DesignRect kTitleMinRect = {695, 0, 730, 27};
constexpr DesignRect kTitleMaxRect = {730, 0, 765, 27};
constexpr DesignRect kTitleCloseRect = {765, 0, 800, 27};
enum TitleButton : int { kTitleNone = 0, kTitleMin = 1, kTitleMax = 2, kTitleClose = 3 };
// Which title-bar button a design point is over (kTitleNone for none).
int TitleButtonAt(int x, int y);

// Hit-test codes, the same numbers the system uses.
enum HitCode : int {
  kHitClient = 1,
  kHitCaption = 2,
  kHitLeft = 10,
  kHitRight = 11,
  kHitTop = 12,
  kHitTopLeft = 13,
  kHitTopRight = 14,
  kHitBottom = 15,
  kHitBottomLeft = 16,
  kHitBottomRight = 17,
};
// Frame behaviour for a point in client pixels: the title strip drags the window except over
// its buttons and its first 5 pixels; a 10-pixel border resizes unless the window is zoomed.
int NcHitTest(int px, int py, int clientWidth, int clientHeight, float scale, bool zoomed);

// Maximised size and position (relative to the monitor's top-left) of the largest 4:3
// rectangle in the work area, centred along the axis that has room to spare.
struct Placement {
  int32_t x, y, width, height;
};
Placement MaximisedPlacement(const PixelRect& work, const PixelRect& monitor);

// Sizing edges as the system numbers them.
enum SizingEdge : int {
  kEdgeLeft = 1,
  kEdgeRight = 2,
  kEdgeTop = 3,
  kEdgeTopLeft = 4,
  kEdgeTopRight = 5,
  kEdgeBottom = 6,
  kEdgeBottomLeft = 7,
  kEdgeBottomRight = 8,
};
// The proposed window rectangle made 4:3 by moving the edge opposite to the one dragged.
PixelRect AspectLock(int edge, PixelRect proposed);

// The "What's new" panel for a measured text height (the sum of the line heights).
struct NotesGeometry {
  float panelHeight;   // P: heading, text and margins, at most 396
  float viewHeight;    // V: the visible text band below the heading
  int32_t panelBottom;
  int32_t notesMax;    // largest scroll offset, 0 when the text fits
  float thumbHeight;   // scroll thumb height, 0 when the text fits
  DesignRect box;      // the panel, for wheel hit tests
  DesignRect track;    // the scroll bar's hit area; left = right = 0 when it does not scroll
};
constexpr int kNotesTextTop = 64;
NotesGeometry NotesLayout(float totalHeight);
// The scroll offset kept within 0..notesMax.
int ClampScroll(int scroll, int notesMax);
// Thumb height: the view's share of the text, at least 24 units.
float ThumbHeight(float viewHeight, float totalHeight);
// Thumb top for a scroll offset; the top of the track when nothing scrolls.
float ThumbY(int scroll, float viewHeight, float thumbHeight, int notesMax);
// Scroll offset while the thumb is dragged: the mouse's travel since the drag began, in
// proportion to the track's free travel, added to the offset at the start, clamped.
int ThumbDragScroll(int y, int dragY, int dragStart, int trackTop, int trackBottom, int thumbHeight,
                    int notesMax);
// Scroll offset after a wheel turn: one notch (120) moves 48 units, away from the user moves
// up; clamped. Unchanged when the panel does not scroll.
int WheelScroll(int scroll, int wheelDelta, int notesMax);

// Which push buttons a phase (0..7) enables; EXIT is always enabled and not listed. An
// unknown phase enables none.
struct EnabledButtons {
  bool play, retry, account, settings;
};
EnabledButtons ButtonEnables(int phase);
// UpdateFailed and Offline draw their headline in the error colour.
bool IsErrorPhase(int phase);

// Width of the progress fill in design units: 0 for no (or no valid) progress, at most 750.
float ProgressFillWidth(double progress);

// A release-note line drawn as a heading: at least 8 bytes, beginning with "Version ".
bool IsNoteHeadingLine(const std::string& line);
