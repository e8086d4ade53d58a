// The main window's painting and message handling, driven directly: Paint into a memory
// bitmap (this test program has none of the launcher's pictures, so the flat fallbacks show)
// and messages sent to a real, hidden window of the launcher's class.
#include "core/globals_win.h"
#include "core/status_win.h"
#include "ui/buttons_win.h"
#include "ui/main_window_win.h"
#include "ui/notes_panel_win.h"
#include "ui/paint_win.h"
#include <gdiplus.h>
#include <gtest/gtest.h>
#include <cmath>
#include <functional>

namespace {
struct Rgb {
  int r, g, b;
};

// What the screen shows when argb is drawn over an opaque colour.
Rgb Over(uint32_t argb, Rgb under) {
  double alpha = (argb >> 24) / 255.0;
  auto mix = [&](int shift, int base) {
    return int(std::lround(alpha * ((argb >> shift) & 255) + (1 - alpha) * base));
  };
  return {mix(16, under.r), mix(8, under.g), mix(0, under.b)};
}

int Distance(Rgb a, Rgb b) { return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)}); }

const Rgb kFlatBackground = {8, 8, 12};
const Rgb kTrack = {16, 18, 24};
const Rgb kUnderPanel = Over(0xB904060A, kFlatBackground);

// The status lock and GDI+ for the whole program, as start-up sets them up.
class GraphicsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitializeCriticalSection(&g_lock);
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};
::testing::Environment* const kGraphics = ::testing::AddGlobalTestEnvironment(new GraphicsEnvironment);

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_scale = 1.0f;
    g_notesScroll = 0;
    SetNotes("", {});
    SetStatus(Ready, "Up to date", "Press PLAY to enter Kelmorra.", 1);
  }
  void TearDown() override {
    if (target_) DeleteObject(target_);
    if (dc_) DeleteDC(dc_);
  }

  static void SetNotes(const std::string& name, const std::vector<std::string>& notes) {
    EnterCriticalSection(&g_lock);
    g_updateName = name;
    g_notes = notes;
    LeaveCriticalSection(&g_lock);
  }

  // Paints at the scale into a zeroed bitmap of width x height pixels.
  void PaintAt(float scale, int width = 800, int height = 600) {
    g_scale = scale;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc_ = CreateCompatibleDC(nullptr);
    target_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    width_ = width;
    SelectObject(dc_, target_);
    Paint(dc_);
  }

  Rgb Pixel(int x, int y) const {
    uint32_t value = bits_[y * width_ + x];
    return {int((value >> 16) & 255), int((value >> 8) & 255), int(value & 255)};
  }

  HDC dc_ = nullptr;
  HBITMAP target_ = nullptr;
  uint32_t* bits_ = nullptr;
  int width_ = 0;
};

TEST_F(MainWindowTest, ProgressFillIsClampedAboveOneAndAbsentAtZero) {
  SetStatus(Ready, "", "", 1.7);
  PaintAt(1.0f);
  EXPECT_GT(Distance(Pixel(773, 509), kTrack), 60) << "the fill reaches the end of the track";
  EXPECT_LE(Distance(Pixel(780, 509), kUnderPanel), 2) << "and stops there";
  SetStatus(Updating, "", "", 0.5);
  PaintAt(1.0f);
  EXPECT_GT(Distance(Pixel(395, 509), kTrack), 60);
  EXPECT_LE(Distance(Pixel(405, 509), kTrack), 2);
  SetStatus(Connecting, "", "", 0);
  PaintAt(1.0f);
  EXPECT_LE(Distance(Pixel(30, 509), kTrack), 2);
}

TEST_F(MainWindowTest, WithoutPicturesTheBackgroundAndButtonsAreFlat) {
  PaintAt(1.0f);
  EXPECT_LE(Distance(Pixel(600, 300), kFlatBackground), 1);
  EXPECT_LE(Distance(Pixel(500, 13), Over(0xEB060E1A, kFlatBackground)), 2);
  EXPECT_LE(Distance(Pixel(790, 520), kUnderPanel), 2);
  // EXIT: a dark face inside a light outline.
  EXPECT_LE(Distance(Pixel(705, 535), Over(0xDC0A0A0E, kUnderPanel)), 2);
  EXPECT_LE(Distance(Pixel(696, 553), Rgb{140, 205, 255}), 30);
}

TEST_F(MainWindowTest, BitmapIsTheWindowSizeAtTheScaleAndCopiedUnscaled) {
  PaintAt(1.25f, 1100, 850);
  EXPECT_LE(Distance(Pixel(999, 749), kUnderPanel), 2);
  EXPECT_EQ(Distance(Pixel(1000, 749), Rgb{0, 0, 0}), 0);
  EXPECT_EQ(Distance(Pixel(999, 750), Rgb{0, 0, 0}), 0);
  EXPECT_LE(Distance(Pixel(600, 600), kUnderPanel), 2) << "the panel starts at 440 x 1.25 = 550";
  EXPECT_LE(Distance(Pixel(600, 540), kFlatBackground), 1);
}

// Text is converted for drawing with a limit of 1023 UTF-16 units: a longer headline is cut
// there, not dropped because it did not fit.
TEST_F(MainWindowTest, OverlongHeadlineIsStillDrawn) {
  SetStatus(UpdateFailed, std::string(3000, 'W'), std::string(5000, 'x'), 0);
  PaintAt(1.0f);
  int closest = 255;
  for (int y = 456; y < 474; y++) {
    for (int x = 24; x < 300; x++) closest = std::min(closest, Distance(Pixel(x, y), Rgb{240, 120, 90}));
  }
  EXPECT_LT(closest, 40) << "no headline strokes in the error colour";
}

TEST_F(MainWindowTest, NoNotesAndNoNameShowNoPanel) {
  g_notesBox = {24, 24, 404, 420};
  PaintAt(1.0f);
  EXPECT_EQ(g_notesBox.left, g_notesBox.right);
  EXPECT_EQ(g_notesMax, 0);
}

TEST_F(MainWindowTest, NameAloneGivesTheSmallestPanel) {
  SetNotes("Winter Gate", {});
  PaintAt(1.0f);
  EXPECT_EQ(g_notesBox.left, 24);
  EXPECT_EQ(g_notesBox.right, 404);
  EXPECT_EQ(g_notesBox.bottom, 80);
  EXPECT_EQ(g_notesMax, 0);
  EXPECT_EQ(g_notesTrack.left, g_notesTrack.right);
}

TEST_F(MainWindowTest, LongNotesScrollAndTheOffsetIsClamped) {
  std::vector<std::string> notes = {"Version 3"};
  for (int i = 0; i < 60; i++) notes.push_back("A line of the release notes");
  SetNotes("", notes);
  g_notesScroll = 100000;
  PaintAt(1.0f);
  ASSERT_GT(g_notesMax, 0);
  EXPECT_EQ(g_notesScroll, g_notesMax);
  EXPECT_EQ(g_notesBox.bottom, 420);
  EXPECT_EQ(g_notesTrack.left, 388);
  EXPECT_EQ(g_notesTrack.right, 402);
  EXPECT_EQ(g_notesTrack.top, 64);
  EXPECT_EQ(g_notesTrack.bottom, 412);
  EXPECT_NEAR(g_notesThumbH, 348.0 * 348.0 / (g_notesMax + 348), 1.5);
  g_notesScroll = -5;
  PaintAt(1.0f);
  EXPECT_EQ(g_notesScroll, 0);
}

// Paints at the scale into a fresh bitmap of the window's size and returns its pixels.
std::vector<uint32_t> PaintedPixels(float scale) {
  g_scale = scale;
  PixelSize size = WindowSizeForScale(scale);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), size.width, -size.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC dc = CreateCompatibleDC(nullptr);
  uint32_t* bits = nullptr;
  HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
  HGDIOBJ old = SelectObject(dc, target);
  Paint(dc);
  std::vector<uint32_t> pixels(bits, bits + size.width * size.height);
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteDC(dc);
  return pixels;
}

size_t Differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size()) return std::max(a.size(), b.size());
  size_t count = 0;
  for (size_t i = 0; i < a.size(); i++) count += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF);
  return count;
}

// Every kind of change a frame can show makes the frame outdated, and the repaint that reuses
// the kept layers shows exactly what a paint from nothing shows.
TEST_F(MainWindowTest, KeptLayersPaintWhatAPaintFromNothingPaints) {
  std::vector<std::string> notes = {"Version 3"}, other = {"Version 4"};
  for (int i = 0; i < 40; i++) {
    notes.push_back("A line of the release notes, long enough to wrap in the panel " + std::to_string(i));
    other.push_back("Another line " + std::to_string(i));
  }
  SetNotes("Winter Gate", notes);
  const Button saved[5] = {g_play, g_exit, g_retry, g_account, g_settings};
  struct Change {
    const char* what;
    std::function<void()> make;
  };
  const Change changes[] = {
      {"progress", [] { PublishProgress("Downloading a file", 0.4); }},
      {"detail", [] { PublishProgress("Downloading another file", 0.4); }},
      {"error colour", [] { SetStatus(UpdateFailed, "Update failed", "No answer", 0.4); }},
      {"scroll", [] { g_notesScroll = 60; }},
      {"notes", [&] { SetNotes("Winter Gate", other); }},
      {"update name", [&] { SetNotes("Spring Gate", other); }},
      {"enabled", [] { g_retry.enabled = true; }},
      {"hover", [] { g_retry.hover = true; }},
      {"pressed", [] { g_retry.pressed = true; }},
      {"label", [] { g_play.label = "INSTALL"; }},
      {"title hover", [] { g_tbHover = kTitleClose; }},
      {"scale", [] { g_scale = 1.25f; }},
      {"scroll at a scale", [] { g_notesScroll = 0; }},
  };
  PaintedPixels(1.0f);
  for (const Change& change : changes) {
    change.make();
    EXPECT_TRUE(FrameOutdated()) << change.what;
    std::vector<uint32_t> kept = PaintedPixels(g_scale);
    EXPECT_FALSE(FrameOutdated()) << change.what;
    ReleasePaintLayers();
    EXPECT_EQ(Differing(kept, PaintedPixels(g_scale)), 0u) << change.what;
  }
  g_play = saved[0], g_exit = saved[1], g_retry = saved[2], g_account = saved[3], g_settings = saved[4];
  g_tbHover = kTitleNone;
}

// --- messages ---

class WindowMessageTest : public MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    RegisterMainWindowClass(GetModuleHandleA(nullptr));
    CreateMainWindow(GetModuleHandleA(nullptr), SW_HIDE);
  }

  static LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
  static LPARAM OnScreen(int x, int y) {
    POINT point = {x, y};
    ClientToScreen(g_wnd, &point);
    return MAKELPARAM(point.x, point.y);
  }
  // True when the handlers posted WM_CLOSE; takes it off the queue so the window stays.
  static bool ClosePosted() {
    MSG message;
    return PeekMessageA(&message, g_wnd, WM_CLOSE, WM_CLOSE, PM_REMOVE) != FALSE;
  }
};

TEST_F(WindowMessageTest, TimerSetsWhichButtonsWorkByPhase) {
  struct Row {
    Phase phase;
    bool play, retry, account, settings;
  };
  // While a pass downloads the RETRY place offers PAUSE.
  const Row rows[] = {{Connecting, 0, 0, 0, 0}, {Checking, 0, 0, 1, 1}, {Updating, 0, 1, 1, 1},
                      {Ready, 1, 0, 1, 1},      {UpdateFailed, 0, 1, 0, 1}, {Offline, 1, 1, 0, 1},
                      {NotInstalled, 1, 0, 0, 0}, {Installing, 0, 0, 0, 1}};
  for (const Row& row : rows) {
    SetStatus(row.phase, "", "", 0);
    SendMessageA(g_wnd, WM_TIMER, 1, 0);
    EXPECT_EQ(g_play.enabled, row.play) << row.phase;
    EXPECT_EQ(g_retry.enabled, row.retry) << row.phase;
    EXPECT_STREQ(g_retry.label, row.phase == Updating ? "PAUSE" : "RETRY") << row.phase;
    EXPECT_EQ(g_account.enabled, row.account) << row.phase;
    EXPECT_EQ(g_settings.enabled, row.settings) << row.phase;
    EXPECT_TRUE(g_exit.enabled);
  }
}

TEST_F(WindowMessageTest, SizeSetsTheScaleButMinimisingKeepsIt) {
  SendMessageA(g_wnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(1000, 750));
  EXPECT_FLOAT_EQ(g_scale, 1.25f);
  SendMessageA(g_wnd, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
  EXPECT_FLOAT_EQ(g_scale, 1.25f);
}

TEST_F(WindowMessageTest, SizingKeepsFourToThreeAndLimitsKeepTheMinimum) {
  RECT proposed = {0, 0, 1000, 600};
  EXPECT_EQ(SendMessageA(g_wnd, WM_SIZING, WMSZ_LEFT, reinterpret_cast<LPARAM>(&proposed)), TRUE);
  EXPECT_EQ(proposed.bottom, 750);
  MINMAXINFO limits = {};
  SendMessageA(g_wnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, 640);
  EXPECT_EQ(limits.ptMinTrackSize.y, 480);
  ASSERT_GT(limits.ptMaxSize.y, 0) << "the monitor's work area was not used";
  EXPECT_NEAR(limits.ptMaxSize.x * 600.0 / 800.0, limits.ptMaxSize.y, 1.0) << "maximised at 4:3";
}

TEST_F(WindowMessageTest, ExitActsOnlyWhenReleasedOnIt) {
  SendMessageA(g_wnd, WM_LBUTTONDOWN, MK_LBUTTON, At(740, 553));
  EXPECT_TRUE(g_exit.pressed);
  SendMessageA(g_wnd, WM_LBUTTONUP, 0, At(100, 100));
  EXPECT_FALSE(g_exit.pressed);
  EXPECT_FALSE(ClosePosted());
  SendMessageA(g_wnd, WM_LBUTTONDOWN, MK_LBUTTON, At(740, 553));
  SendMessageA(g_wnd, WM_LBUTTONUP, 0, At(700, 530));
  EXPECT_TRUE(ClosePosted());
}

TEST_F(WindowMessageTest, CloseButtonReleasedElsewhereDoesNothing) {
  SendMessageA(g_wnd, WM_LBUTTONDOWN, MK_LBUTTON, At(782, 13));
  EXPECT_EQ(g_tbDown, 3);
  SendMessageA(g_wnd, WM_LBUTTONUP, 0, At(750, 13));
  EXPECT_EQ(g_tbDown, 0);
  EXPECT_FALSE(ClosePosted());
  SendMessageA(g_wnd, WM_LBUTTONDOWN, MK_LBUTTON, At(782, 13));
  SendMessageA(g_wnd, WM_LBUTTONUP, 0, At(790, 20));
  EXPECT_TRUE(ClosePosted());
}

TEST_F(WindowMessageTest, WheelScrollsOnlyAPanelThatScrollsUnderThePointer) {
  g_scale = 1.0f;
  g_notesBox = {24, 24, 404, 420};
  g_notesMax = 152;
  g_notesScroll = 0;
  SendMessageA(g_wnd, WM_MOUSEWHEEL, MAKEWPARAM(0, -120), OnScreen(600, 300));
  EXPECT_EQ(g_notesScroll, 0) << "outside the panel";
  SendMessageA(g_wnd, WM_MOUSEWHEEL, MAKEWPARAM(0, -120), OnScreen(200, 200));
  EXPECT_EQ(g_notesScroll, 48);
  g_notesMax = 0;
  SendMessageA(g_wnd, WM_MOUSEWHEEL, MAKEWPARAM(0, -120), OnScreen(200, 200));
  EXPECT_EQ(g_notesScroll, 48) << "a panel that does not scroll";
}

TEST_F(WindowMessageTest, ThumbDragFollowsTheMouseAndPinsAtTheEnds) {
  g_scale = 1.0f;
  g_notesBox = {24, 24, 404, 420};
  g_notesTrack = {388, 64, 402, 412};
  g_notesMax = 152;
  g_notesThumbH = 242;
  g_notesScroll = 0;
  SendMessageA(g_wnd, WM_LBUTTONDOWN, MK_LBUTTON, At(395, 70));
  ASSERT_TRUE(g_notesDrag);
  SendMessageA(g_wnd, WM_MOUSEMOVE, MK_LBUTTON, At(395, 70 + 53));
  EXPECT_EQ(g_notesScroll, 53 * 152 / 106);
  SendMessageA(g_wnd, WM_MOUSEMOVE, MK_LBUTTON, At(395, 590));
  EXPECT_EQ(g_notesScroll, 152);
  SendMessageA(g_wnd, WM_MOUSEMOVE, MK_LBUTTON, At(395, 30));
  EXPECT_EQ(g_notesScroll, 0);
  SendMessageA(g_wnd, WM_LBUTTONUP, 0, At(395, 30));
  EXPECT_FALSE(g_notesDrag);
}
}  // namespace
