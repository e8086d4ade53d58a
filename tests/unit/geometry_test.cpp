// The main window's geometry arithmetic: scale and window size, design units, the frame hit
// test, maximised placement, aspect lock, the notes panel and its scrolling, button enables.
#include "ui/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(WindowScale, WorkAreaOf1920x1040GivesTheHeightLimitedScale) {
  float scale = ScaleForWorkArea(1920, 1040);
  EXPECT_NEAR(scale, 1.38667f, 1e-4f);
  PixelSize size = WindowSizeForScale(scale);
  EXPECT_EQ(size.width, 1109);
  EXPECT_EQ(size.height, 832);
}

TEST(WindowScale, NarrowWorkAreaUsesTheWidthLimit) {
  EXPECT_NEAR(ScaleForWorkArea(1000, 2000), 1.125f, 1e-6f);
}

TEST(WindowScale, ClampsBetweenOneAndTwo) {
  EXPECT_EQ(ScaleForWorkArea(1024, 600), 1.0f);
  EXPECT_EQ(ScaleForWorkArea(640, 480), 1.0f);
  EXPECT_EQ(ScaleForWorkArea(7680, 4320), 2.0f);
  EXPECT_EQ(WindowSizeForScale(1.0f).width, 800);
  EXPECT_EQ(WindowSizeForScale(1.0f).height, 600);
  EXPECT_EQ(WindowSizeForScale(2.0f).width, 1600);
  EXPECT_EQ(WindowSizeForScale(2.0f).height, 1200);
}

TEST(WindowScale, SizeRoundsToNearestPixel) {
  EXPECT_EQ(WindowSizeForScale(1.25f).width, 1000);
  EXPECT_EQ(WindowSizeForScale(1.25f).height, 750);
  EXPECT_EQ(WindowSizeForScale(1.0006f).width, 800);   // 800.48
  EXPECT_EQ(WindowSizeForScale(1.0007f).width, 801);   // 800.56
}

TEST(WindowScale, CentringTruncatesTowardZero) {
  PixelPoint at = CentredPosition({1109, 832}, 1920, 1080);
  EXPECT_EQ(at.x, 405);
  EXPECT_EQ(at.y, 124);
  at = CentredPosition({800, 600}, 699, 500);  // larger than the screen
  EXPECT_EQ(at.x, -50);                        // -101 / 2, not -51
  EXPECT_EQ(at.y, -50);
}

TEST(DesignUnits, DividesEachAxisByTheScale) {
  DesignPoint p = ToDesign(300, 810, 1.5f);
  EXPECT_EQ(p.x, 200);
  EXPECT_EQ(p.y, 540);
}

TEST(DesignUnits, TruncatesTowardZero) {
  DesignPoint p = ToDesign(299, 2, 1.5f);
  EXPECT_EQ(p.x, 199);
  EXPECT_EQ(p.y, 1);
  p = ToDesign(-1, -2, 1.5f);  // a point just left of or above the client area
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, -1);
}

TEST(DesignUnits, NonPositiveScaleCountsAsOne) {
  DesignPoint p = ToDesign(123, 45, 0.0f);
  EXPECT_EQ(p.x, 123);
  EXPECT_EQ(p.y, 45);
  p = ToDesign(123, 45, std::nanf(""));
  EXPECT_EQ(p.x, 123);
}

TEST(DesignUnits, RectangleIncludesLeftTopExcludesRightBottom) {
  DesignRect r = {10, 20, 30, 40};
  EXPECT_TRUE(PointInRect(r, 10, 20));
  EXPECT_TRUE(PointInRect(r, 29, 39));
  EXPECT_FALSE(PointInRect(r, 30, 25));
  EXPECT_FALSE(PointInRect(r, 15, 40));
  EXPECT_FALSE(PointInRect(r, 9, 25));
  EXPECT_FALSE(PointInRect(r, 15, 19));
  EXPECT_FALSE(PointInRect({0, 0, 0, 600}, 0, 10));  // an empty rectangle holds nothing
}

TEST(TitleButtons, BoundariesBetweenTheThreeButtons) {
  EXPECT_EQ(TitleButtonAt(694, 10), kTitleNone);
  EXPECT_EQ(TitleButtonAt(695, 0), kTitleMin);
  EXPECT_EQ(TitleButtonAt(729, 26), kTitleMin);
  EXPECT_EQ(TitleButtonAt(730, 10), kTitleMax);
  EXPECT_EQ(TitleButtonAt(765, 10), kTitleClose);
  EXPECT_EQ(TitleButtonAt(799, 10), kTitleClose);
  EXPECT_EQ(TitleButtonAt(800, 10), kTitleNone);
  EXPECT_EQ(TitleButtonAt(770, 27), kTitleNone);
}

// Hit test on an 800 x 600 client at scale 1 unless a test says otherwise.
int Hit(int px, int py, bool zoomed = false) { return NcHitTest(px, py, 800, 600, 1.0f, zoomed); }

TEST(HitTest, TitleStripDragsTheWindow) {
  EXPECT_EQ(Hit(100, 10), kHitCaption);
  EXPECT_EQ(Hit(100, 26), kHitCaption);
  EXPECT_EQ(Hit(694, 6), kHitCaption);
  EXPECT_EQ(Hit(100, 27), kHitClient);  // just below the strip
}

TEST(HitTest, StripCornerInsideFivePixelsStillResizes) {
  EXPECT_EQ(Hit(3, 3), kHitTopLeft);
  EXPECT_EQ(Hit(100, 5), kHitTop);
  EXPECT_EQ(Hit(5, 20), kHitLeft);
  EXPECT_EQ(Hit(6, 6), kHitCaption);    // the strip wins over the rest of the border
  EXPECT_EQ(Hit(795, 6), kHitTopRight);  // over the close button the border codes apply
}

TEST(HitTest, TitleButtonsAreNotCaption) {
  EXPECT_EQ(Hit(700, 10), kHitClient);
  EXPECT_EQ(Hit(750, 20), kHitClient);
  EXPECT_EQ(Hit(789, 20), kHitClient);
  EXPECT_EQ(Hit(795, 20), kHitRight);
  EXPECT_EQ(Hit(795, 3), kHitTopRight);
}

TEST(HitTest, EveryBorderCode) {
  EXPECT_EQ(Hit(9, 300), kHitLeft);
  EXPECT_EQ(Hit(10, 300), kHitClient);
  EXPECT_EQ(Hit(790, 300), kHitRight);
  EXPECT_EQ(Hit(789, 300), kHitClient);
  EXPECT_EQ(Hit(400, 590), kHitBottom);
  EXPECT_EQ(Hit(400, 589), kHitClient);
  EXPECT_EQ(Hit(0, 599), kHitBottomLeft);
  EXPECT_EQ(Hit(799, 599), kHitBottomRight);
  EXPECT_EQ(Hit(400, 300), kHitClient);
  // The top edge outside the strip's caption part, e.g. over the minimise button.
  EXPECT_EQ(Hit(700, 2), kHitTop);
}

TEST(HitTest, MaximisedWindowOnlyDragsFromTheStrip) {
  EXPECT_EQ(Hit(3, 3, true), kHitCaption);
  EXPECT_EQ(Hit(100, 10, true), kHitCaption);
  EXPECT_EQ(Hit(700, 10, true), kHitClient);
  EXPECT_EQ(Hit(795, 3, true), kHitClient);
  EXPECT_EQ(Hit(3, 300, true), kHitClient);
  EXPECT_EQ(Hit(799, 599, true), kHitClient);
  EXPECT_EQ(Hit(400, 595, true), kHitClient);
}

TEST(HitTest, StripAndButtonsScaleButBorderStaysInPixels) {
  auto hit = [](int px, int py) { return NcHitTest(px, py, 1600, 1200, 2.0f, false); };
  EXPECT_EQ(hit(100, 53), kHitCaption);   // design y 26
  EXPECT_EQ(hit(100, 54), kHitClient);    // design y 27
  EXPECT_EQ(hit(1389, 20), kHitCaption);  // design x 694
  EXPECT_EQ(hit(1390, 20), kHitClient);   // minimise at design x 695
  EXPECT_EQ(hit(1590, 300), kHitRight);
  EXPECT_EQ(hit(1589, 300), kHitClient);
}

TEST(Maximise, WideWorkAreaCentresHorizontally) {
  Placement p = MaximisedPlacement({0, 0, 1920, 1040}, {0, 0, 1920, 1080});
  EXPECT_EQ(p.width, 1386);
  EXPECT_EQ(p.height, 1040);
  EXPECT_EQ(p.x, 267);
  EXPECT_EQ(p.y, 0);
}

TEST(Maximise, TallWorkAreaCentresVertically) {
  Placement p = MaximisedPlacement({0, 0, 1024, 1280}, {0, 0, 1024, 1280});
  EXPECT_EQ(p.width, 1024);
  EXPECT_EQ(p.height, 768);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 256);
}

TEST(Maximise, PositionIsRelativeToTheMonitor) {
  // A second monitor to the right whose task bar sits at the top.
  Placement p = MaximisedPlacement({1920, 40, 3840, 1080}, {1920, 0, 3840, 1080});
  EXPECT_EQ(p.width, 1386);
  EXPECT_EQ(p.height, 1040);
  EXPECT_EQ(p.x, 267);
  EXPECT_EQ(p.y, 40);
}

TEST(Maximise, ExactFourByThreeFillsTheWorkArea) {
  Placement p = MaximisedPlacement({0, 0, 1600, 1200}, {0, 0, 1600, 1200});
  EXPECT_EQ(p.width, 1600);
  EXPECT_EQ(p.height, 1200);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
}

TEST(AspectLock, SideEdgesMoveTheBottom) {
  PixelRect r = AspectLock(kEdgeLeft, {0, 0, 1000, 600});
  EXPECT_EQ(r.right - r.left, 1000);
  EXPECT_EQ(r.bottom - r.top, 750);
  EXPECT_EQ(r.top, 0);
  r = AspectLock(kEdgeRight, {100, 50, 1101, 700});
  EXPECT_EQ(r.bottom, 50 + 750);  // 1001 * 600 / 800 = 750.75, truncated
}

TEST(AspectLock, TopAndBottomEdgesMoveTheRight) {
  PixelRect r = AspectLock(kEdgeTop, {100, 100, 900, 1000});
  EXPECT_EQ(r.right, 100 + 1200);
  EXPECT_EQ(r.left, 100);
  r = AspectLock(kEdgeBottom, {0, 0, 500, 601});
  EXPECT_EQ(r.right, 801);  // 601 * 800 / 600 = 801.33
}

TEST(AspectLock, TopCornersMoveTheTop) {
  PixelRect r = AspectLock(kEdgeTopLeft, {0, 0, 1000, 900});
  EXPECT_EQ(r.top, 150);
  EXPECT_EQ(r.bottom, 900);
  r = AspectLock(kEdgeTopRight, {0, 0, 1000, 900});
  EXPECT_EQ(r.top, 150);
}

TEST(AspectLock, BottomCornersAndUnknownEdgesMoveTheBottom) {
  const int edges[] = {kEdgeBottomLeft, kEdgeBottomRight, 0, 9};
  for (int edge : edges) {
    PixelRect r = AspectLock(edge, {10, 20, 1210, 100});
    EXPECT_EQ(r.bottom, 20 + 900) << "edge " << edge;
    EXPECT_EQ(r.right, 1210) << "edge " << edge;
  }
}

TEST(NotesPanel, TextThatFitsGrowsThePanel) {
  NotesGeometry n = NotesLayout(300);
  EXPECT_FLOAT_EQ(n.panelHeight, 356);
  EXPECT_FLOAT_EQ(n.viewHeight, 308);
  EXPECT_EQ(n.panelBottom, 380);
  EXPECT_EQ(n.notesMax, 0);
  EXPECT_EQ(n.track.left, 0);
  EXPECT_EQ(n.track.right, 0);
  EXPECT_EQ(n.box.left, 24);
  EXPECT_EQ(n.box.top, 24);
  EXPECT_EQ(n.box.right, 404);
  EXPECT_EQ(n.box.bottom, 380);
}

TEST(NotesPanel, LongTextStopsAtTheTallestPanelAndScrolls) {
  NotesGeometry n = NotesLayout(500);
  EXPECT_FLOAT_EQ(n.panelHeight, 396);
  EXPECT_FLOAT_EQ(n.viewHeight, 348);
  EXPECT_EQ(n.panelBottom, 420);
  EXPECT_EQ(n.notesMax, 152);
  EXPECT_NEAR(n.thumbHeight, 242.208f, 1e-3f);
  EXPECT_EQ(static_cast<int>(n.thumbHeight), 242);
  EXPECT_EQ(n.track.left, 388);
  EXPECT_EQ(n.track.top, 64);
  EXPECT_EQ(n.track.right, 402);
  EXPECT_EQ(n.track.bottom, 412);
}

TEST(NotesPanel, UpdateNameAloneGivesTheSmallestPanel) {
  NotesGeometry n = NotesLayout(0);
  EXPECT_FLOAT_EQ(n.panelHeight, 56);
  EXPECT_FLOAT_EQ(n.viewHeight, 8);
  EXPECT_EQ(n.panelBottom, 80);
  EXPECT_EQ(n.notesMax, 0);
}

TEST(NotesPanel, ScrollStartsOnlyWhenOverflowRoundsToAUnit) {
  EXPECT_EQ(NotesLayout(340).notesMax, 0);    // panel exactly 396, view 348
  EXPECT_EQ(NotesLayout(340).panelBottom, 420);
  EXPECT_EQ(NotesLayout(348.4f).notesMax, 0);  // 0.4 over rounds to nothing
  EXPECT_EQ(NotesLayout(348.4f).track.right, 0);
  EXPECT_EQ(NotesLayout(348.6f).notesMax, 1);
  EXPECT_EQ(NotesLayout(348.6f).track.right, 402);
}

TEST(NotesPanel, FractionalPanelBottomTruncates) {
  EXPECT_EQ(NotesLayout(100.9f).panelBottom, 180);  // P 156.9 + 24 = 180.9
}

TEST(NotesScroll, ClampKeepsTheOffsetInRange) {
  EXPECT_EQ(ClampScroll(200, 152), 152);
  EXPECT_EQ(ClampScroll(-5, 152), 0);
  EXPECT_EQ(ClampScroll(70, 152), 70);
  EXPECT_EQ(ClampScroll(10, 0), 0);
}

TEST(NotesScroll, ThumbHeightHasAMinimum) {
  EXPECT_FLOAT_EQ(ThumbHeight(348, 10000), 24);
  EXPECT_NEAR(ThumbHeight(348, 400), 302.76f, 1e-2f);
}

TEST(NotesScroll, ThumbRunsFromTrackTopToTrackEnd) {
  EXPECT_FLOAT_EQ(ThumbY(0, 348, 242.208f, 152), 64);
  EXPECT_NEAR(ThumbY(152, 348, 242.208f, 152), 64 + 348 - 242.208f, 1e-3f);
  EXPECT_NEAR(ThumbY(76, 348, 242.208f, 152), 64 + (348 - 242.208f) / 2, 1e-3f);
  EXPECT_FLOAT_EQ(ThumbY(10, 308, 0, 0), 64);  // nothing scrolls: no division by zero
}

TEST(ThumbDrag, FollowsTheMouseInProportion) {
  // Track 64..412, thumb 242: 106 units of travel for 152 units of scroll.
  EXPECT_EQ(ThumbDragScroll(153, 100, 0, 64, 412, 242, 152), 76);
  EXPECT_EQ(ThumbDragScroll(90, 100, 100, 64, 412, 242, 152), 86);  // -14.3 truncates to -14
  EXPECT_EQ(ThumbDragScroll(100, 100, 40, 64, 412, 242, 152), 40);
}

TEST(ThumbDrag, PinsAtBothEnds) {
  EXPECT_EQ(ThumbDragScroll(5000, 100, 0, 64, 412, 242, 152), 152);
  EXPECT_EQ(ThumbDragScroll(-5000, 100, 150, 64, 412, 242, 152), 0);
  EXPECT_EQ(ThumbDragScroll(300, 200, 100, 64, 412, 242, 152), 152);
}

TEST(ThumbDrag, NoTravelKeepsTheStartOffset) {
  EXPECT_EQ(ThumbDragScroll(300, 100, 7, 64, 412, 348, 152), 7);
  EXPECT_EQ(ThumbDragScroll(300, 100, 7, 64, 412, 400, 152), 7);
}

TEST(Wheel, OneNotchMovesFortyEightUnits) {
  EXPECT_EQ(WheelScroll(0, -120, 152), 48);
  EXPECT_EQ(WheelScroll(0, -120, 30), 30);
  EXPECT_EQ(WheelScroll(100, 120, 152), 52);
  EXPECT_EQ(WheelScroll(0, 120, 152), 0);
  EXPECT_EQ(WheelScroll(150, -240, 152), 152);
}

TEST(Wheel, FineDeltasTruncateTowardZero) {
  EXPECT_EQ(WheelScroll(10, -60, 152), 34);
  EXPECT_EQ(WheelScroll(10, -2, 152), 10);  // 0.8 units
  EXPECT_EQ(WheelScroll(10, -3, 152), 11);  // 1.2 units
  EXPECT_EQ(WheelScroll(10, 3, 152), 9);
}

TEST(Wheel, PanelThatDoesNotScrollIgnoresTheWheel) {
  EXPECT_EQ(WheelScroll(0, -120, 0), 0);
}

TEST(Buttons, EnableTableForEveryPhase) {
  struct Row {
    int phase;
    bool play, retry, account, settings;
  };
  const Row rows[] = {
      {0, false, false, false, false},  // Connecting
      {1, false, false, true, true},    // Checking
      {2, false, false, true, true},    // Updating
      {3, true, false, true, true},     // Ready
      {4, false, true, false, true},    // UpdateFailed
      {5, true, true, false, true},     // Offline
      {6, true, false, false, false},   // NotInstalled
      {7, false, false, false, true},   // Installing
      {-1, false, false, false, false},
      {8, false, false, false, false},
  };
  for (const Row& row : rows) {
    EnabledButtons e = ButtonEnables(row.phase);
    EXPECT_EQ(e.play, row.play) << "phase " << row.phase;
    EXPECT_EQ(e.retry, row.retry) << "phase " << row.phase;
    EXPECT_EQ(e.account, row.account) << "phase " << row.phase;
    EXPECT_EQ(e.settings, row.settings) << "phase " << row.phase;
  }
}

TEST(Buttons, OnlyUpdateFailedAndOfflineAreErrors) {
  for (int phase = -1; phase <= 8; ++phase)
    EXPECT_EQ(IsErrorPhase(phase), phase == 4 || phase == 5) << "phase " << phase;
}

TEST(Progress, FillWidth) {
  EXPECT_EQ(ProgressFillWidth(0), 0);
  EXPECT_EQ(ProgressFillWidth(-0.5), 0);
  EXPECT_EQ(ProgressFillWidth(std::nan("")), 0);
  EXPECT_FLOAT_EQ(ProgressFillWidth(0.5), 375);
  EXPECT_FLOAT_EQ(ProgressFillWidth(1.0), 750);
  EXPECT_FLOAT_EQ(ProgressFillWidth(1.7), 750);
  EXPECT_GT(ProgressFillWidth(1e-6), 0);
}

TEST(NoteLines, HeadingNeedsVersionAndABlank) {
  EXPECT_TRUE(IsNoteHeadingLine("Version 2"));
  EXPECT_TRUE(IsNoteHeadingLine("Version 1.4 - winter"));
  EXPECT_TRUE(IsNoteHeadingLine("Version "));
  EXPECT_FALSE(IsNoteHeadingLine("Version"));
  EXPECT_FALSE(IsNoteHeadingLine("Versions 3"));
  EXPECT_FALSE(IsNoteHeadingLine("version 2"));
  EXPECT_FALSE(IsNoteHeadingLine(" Version 2"));
  EXPECT_FALSE(IsNoteHeadingLine(""));
}

}  // namespace
