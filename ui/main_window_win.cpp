// The main window procedure: a dispatch switch with one small handler per message.
//
// The window has no system frame or caption (the whole window is client area), so the
// handlers supply them: the title strip and every part of the window that does nothing drag
// it, the 10-pixel border resizes it at 4:3, and the maximised size is the largest 4:3 box in
// the work area. Workers never message the window: the 100 ms timer reads the phase, sets
// which buttons work and repaints. A push button acts only when the left button goes down and
// comes up on it, like a system button; a press on anything that does not act moves the
// window. The keyboard works them too: Tab and Shift+Tab move a focus ring over the enabled
// buttons, Space or Return presses the one with the ring, Alt plus a label's letter presses
// that button; before the first Tab, Return keeps its old meaning (PLAY in Ready). While a pass
// downloads, the RETRY place offers PAUSE, and RESUME once the pass has stopped. Screen readers
// get the same buttons through ui/accessible_win. All arithmetic on points and rectangles
// lives in ui/geometry.
#include "ui/main_window_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/status_win.h"
#include "core/worker_flags.h"
#include "gameconfig/game_start_win.h"
#include "ui/settings_window_win.h"
#include "install/install_choose_win.h"
#include "ui/accessible_win.h"
#include "ui/account_window_win.h"
#include "ui/button_keys.h"
#include "ui/buttons_win.h"
#include "ui/notes_panel_win.h"
#include "ui/paint_win.h"
#include "update/unfinished_update_win.h"
#include "update/update_pass_win.h"
#include "update/update_pause_win.h"
#include <windowsx.h>

DesignRect g_tbMin = kTitleMinRect;
DesignRect g_tbMax = kTitleMaxRect;
DesignRect g_tbClose = kTitleCloseRect;
int g_tbHover = kTitleNone;
int g_tbDown = kTitleNone;
bool g_notesDrag = false;
int g_notesDragY = 0;
int g_notesDragStart = 0;
int g_focus = kNoFocus;

namespace {
constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT kStatusPeriodMs = 100;

Button* const kButtons[5] = {&g_play, &g_exit, &g_retry, &g_account, &g_settings};

void Repaint(HWND window) { InvalidateRect(window, nullptr, FALSE); }

// A repaint only when it would show something new: an idle window costs next to nothing, and
// a paint never waits behind another that shows the same.
void RepaintIfChanged(HWND window) {
  if (FrameOutdated()) Repaint(window);
}

DesignPoint ClientToDesign(LPARAM lParam) { return ToDesign(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), g_scale); }

POINT ScreenToClientPoint(HWND window, LPARAM lParam) {
  POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(window, &point);
  return point;
}

bool Inside(const Button& button, DesignPoint point) {
  return PointInRect(DesignRect{button.left, button.top, button.right, button.bottom}, point.x, point.y);
}

const DesignRect& TitleRect(int code) {
  if (code == kTitleMin) return g_tbMin;
  if (code == kTitleMax) return g_tbMax;
  return g_tbClose;
}

// The Offline question; it names an update that stopped midway first, since the game folder
// then mixes two releases.
std::string OfflineQuestion() {
  std::string question = "The game could not be checked for updates.\n\nPlay anyway?";
  std::string release;
  if (!LastUpdateUnfinished(release)) return question;
  LogLine("The last update (%s) did not finish; the game may not start", release.c_str());
  return "The last update (" + release + ") did not finish: some game files are from the new release and some "
         "from the old one, so the game may not start.\n\n" + question;
}

// Ready plays at once; Offline asks first, because the files may be out of date; without a
// game folder the button is INSTALL. The phase is read again: it may have moved on since the
// tick that enabled the button.
void PlayAction(HWND window) {
  Phase phase = CurrentPhase();
  if (phase == NotInstalled) {
    ChooseInstallFolder();
  } else if (phase == Offline) {
    int answer = MessageBoxA(window, OfflineQuestion().c_str(), "Kelmorra", MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES) Play();
  } else {
    Play();
  }
}

void OpenOrRaise(HWND open, void (*show)()) {
  if (open) {
    SetForegroundWindow(open);
  } else {
    show();
  }
}

// The RETRY place while a pass downloads: PAUSE, then RESUME once the pass has stopped.
void OfferPause() {
  if (!UpdatePauseRequested()) {
    g_retry.label = kPauseLabel;
    g_retry.enabled = true;
  } else {
    g_retry.label = kResumeLabel;
    g_retry.enabled = UpdatePaused();
  }
}

void ShowFocus() {
  for (int i = 0; i < kButtonCount; i++) g_tabOrder[i]->focused = i == g_focus;
}

// The status poll: which buttons work follows the phase (and a pause); the repaint shows the
// record, and screen readers hear what changed.
LRESULT OnTimer(HWND window) {
  Phase phase = CurrentPhase();
  EnabledButtons enables = ButtonEnables(phase);
  g_play.enabled = enables.play;
  g_retry.enabled = enables.retry;
  g_retry.label = kRetryLabel;
  g_account.enabled = enables.account;
  g_settings.enabled = enables.settings;
  if (phase == Updating) OfferPause();
  ShowFocus();
  AnnounceChanges(window);
  RepaintIfChanged(window);
  return 0;
}

LRESULT OnCreate(HWND window) {
  SetTimer(window, kStatusTimer, kStatusPeriodMs, nullptr);
  return 0;
}

LRESULT OnDestroy() {
  EndAccessibility();
  g_quit.exchange(1);
  PostQuitMessage(0);
  return 0;
}

// A minimised window reports width 0 and keeps its scale.
LRESULT OnSize(HWND window, LPARAM lParam) {
  int width = LOWORD(lParam);
  if (width != 0) {
    g_scale = width / 800.0f;
    Repaint(window);
  }
  return 0;
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  Paint(dc);
  EndPaint(window, &paint);
  return 0;
}

LRESULT OnGetMinMaxInfo(HWND window, MINMAXINFO* limits) {
  limits->ptMinTrackSize.x = 640;
  limits->ptMinTrackSize.y = 480;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return 0;
  const RECT& w = monitor.rcWork;
  const RECT& m = monitor.rcMonitor;
  Placement placement = MaximisedPlacement(PixelRect{w.left, w.top, w.right, w.bottom},
                                           PixelRect{m.left, m.top, m.right, m.bottom});
  limits->ptMaxSize = {placement.width, placement.height};
  limits->ptMaxPosition = {placement.x, placement.y};
  return 0;
}

LRESULT OnNcHitTest(HWND window, LPARAM lParam) {
  POINT point = ScreenToClientPoint(window, lParam);
  RECT client;
  GetClientRect(window, &client);
  return NcHitTest(point.x, point.y, client.right, client.bottom, g_scale, IsZoomed(window) != FALSE);
}

LRESULT OnSizing(WPARAM edge, RECT* proposed) {
  PixelRect locked = AspectLock(static_cast<int>(edge),
                                PixelRect{proposed->left, proposed->top, proposed->right, proposed->bottom});
  *proposed = RECT{locked.left, locked.top, locked.right, locked.bottom};
  return TRUE;
}

void ActOn(HWND window, Button* button);

bool Takes(const Button& button) { return &button == &g_exit || button.enabled; }

// Tab and Shift+Tab: the ring moves over the buttons that work, in the order they are painted.
void MoveFocus(HWND window, bool backwards) {
  bool enabled[kButtonCount];
  for (int i = 0; i < kButtonCount; i++) enabled[i] = Takes(*g_tabOrder[i]);
  g_focus = NextFocus(g_focus, enabled, backwards);
  g_keyboardCues = true;
  ShowFocus();
  AnnounceFocus(window, g_focus);
  RepaintIfChanged(window);
}

Button* FocusedButton() {
  if (g_focus < 0 || !Takes(*g_tabOrder[g_focus])) return nullptr;
  return g_tabOrder[g_focus];
}

LRESULT OnKeyDown(HWND window, WPARAM key) {
  Button* focused = FocusedButton();
  if (key == VK_ESCAPE) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else if (key == VK_TAB) {
    MoveFocus(window, GetKeyState(VK_SHIFT) < 0);
  } else if ((key == VK_SPACE || key == VK_RETURN) && focused) {
    ActOn(window, focused);
  } else if (key == VK_RETURN && g_play.enabled && CurrentPhase() == Ready) {
    Play();
  }
  return 0;
}

// Alt plus a label's letter presses that button, as a dialog's mnemonic would.
LRESULT OnSysChar(HWND window, WPARAM wParam, LPARAM lParam) {
  char typed = static_cast<char>(wParam);
  for (Button* button : g_tabOrder) {
    if (!IsMnemonic(button->label, typed)) continue;
    g_keyboardCues = true;
    if (Takes(*button)) ActOn(window, button);
    RepaintIfChanged(window);
    return 0;
  }
  return DefWindowProcA(window, WM_SYSCHAR, wParam, lParam);
}

// The accessible object's default action, here on the window thread.
LRESULT OnPressButton(HWND window, WPARAM place) {
  if (place < kButtonCount && Takes(*g_tabOrder[place])) ActOn(window, g_tabOrder[place]);
  return 0;
}

// A changed hover shows at once; the leave notice is asked for again on every move.
void UpdateHover(HWND window, DesignPoint point) {
  for (Button* button : kButtons) button->hover = Inside(*button, point);
  g_tbHover = TitleButtonAt(point.x, point.y);
  RepaintIfChanged(window);
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof track;
  track.dwFlags = TME_LEAVE;
  track.hwndTrack = window;
  TrackMouseEvent(&track);
}

LRESULT OnMouseMove(HWND window, LPARAM lParam) {
  DesignPoint point = ClientToDesign(lParam);
  if (!g_notesDrag) {
    UpdateHover(window, point);
    return 0;
  }
  g_notesScroll = ThumbDragScroll(point.y, g_notesDragY, g_notesDragStart, g_notesTrack.top, g_notesTrack.bottom,
                                  g_notesThumbH, g_notesMax);
  RepaintIfChanged(window);
  return 0;
}

LRESULT OnMouseLeave(HWND window) {
  for (Button* button : kButtons) button->hover = false;
  g_tbHover = kTitleNone;
  RepaintIfChanged(window);
  return 0;
}

// True when the press landed on a push button that takes it (EXIT takes it in any state).
bool PressButton(HWND window, DesignPoint point) {
  for (Button* button : kButtons) {
    bool takes = button == &g_exit || button->enabled;
    if (takes && Inside(*button, point)) {
      button->pressed = true;
      SetCapture(window);
      return true;
    }
  }
  return false;
}

bool StartThumbDrag(HWND window, DesignPoint point) {
  if (g_notesMax <= 0 || !PointInRect(g_notesTrack, point.x, point.y)) return false;
  g_notesDragY = point.y;
  g_notesDrag = true;
  g_notesDragStart = g_notesScroll;
  SetCapture(window);
  return true;
}

LRESULT OnLButtonDown(HWND window, LPARAM lParam) {
  DesignPoint point = ClientToDesign(lParam);
  g_tbDown = TitleButtonAt(point.x, point.y);
  if (g_tbDown != kTitleNone) {
    SetCapture(window);
    return 0;
  }
  if (PressButton(window, point)) {
    RepaintIfChanged(window);
    return 0;
  }
  if (StartThumbDrag(window, point)) return 0;
  if (g_notesMax > 0 && PointInRect(g_notesBox, point.x, point.y)) return 0;
  // Nothing here acts: the press moves the window, as a caption would.
  ReleaseCapture();
  SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
  return 0;
}

void ReleaseTitleButton(HWND window, DesignPoint point) {
  int code = g_tbDown;
  g_tbDown = kTitleNone;
  if (!PointInRect(TitleRect(code), point.x, point.y)) return;
  g_tbHover = kTitleNone;
  if (code == kTitleMin) {
    ShowWindow(window, SW_MINIMIZE);
  } else if (code == kTitleMax) {
    ShowWindow(window, IsZoomed(window) ? SW_RESTORE : SW_MAXIMIZE);
  } else {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
}

// The push button pressed and released over itself, if any; every button is released.
Button* ReleasedButton(DesignPoint point) {
  Button* clicked = nullptr;
  for (Button* button : kButtons) {
    if (button->pressed && Inside(*button, point)) clicked = button;
    button->pressed = false;
  }
  return clicked;
}

void RetryPlaceAction() {
  if (g_retry.label == kPauseLabel) {
    PauseUpdate();
  } else if (g_retry.label == kResumeLabel) {
    ResumeUpdate();
  } else {
    StartUpdate();
  }
}

// What a click on the button does; the enabled flags tested are those of the last tick.
void ActOn(HWND window, Button* button) {
  if (button == &g_exit) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else if (button == &g_play && g_play.enabled) {
    PlayAction(window);
  } else if (button == &g_retry && g_retry.enabled) {
    RetryPlaceAction();
  } else if (button == &g_account && g_account.enabled) {
    OpenOrRaise(g_accWnd, ShowAccountWindow);
  } else if (button == &g_settings && g_settings.enabled) {
    OpenOrRaise(g_setWnd, ShowSettingsWindow);
  }
}

void ReleasePushButtons(HWND window, DesignPoint point) {
  Button* clicked = ReleasedButton(point);
  if (clicked) ActOn(window, clicked);
}

LRESULT OnLButtonUp(HWND window, LPARAM lParam) {
  DesignPoint point = ClientToDesign(lParam);
  ReleaseCapture();
  if (g_notesDrag) {
    g_notesDrag = false;
  } else if (g_tbDown != kTitleNone) {
    ReleaseTitleButton(window, point);
  } else {
    ReleasePushButtons(window, point);
  }
  RepaintIfChanged(window);
  return 0;
}

// The wheel scrolls the notes only while the pointer is over a panel that scrolls.
LRESULT OnMouseWheel(HWND window, WPARAM wParam, LPARAM lParam) {
  POINT client = ScreenToClientPoint(window, lParam);
  DesignPoint point = ToDesign(client.x, client.y, g_scale);
  if (g_notesMax < 1 || !PointInRect(g_notesBox, point.x, point.y)) return 0;
  g_notesScroll = WheelScroll(g_notesScroll, GET_WHEEL_DELTA_WPARAM(wParam), g_notesMax);
  RepaintIfChanged(window);
  return 0;
}
}  // namespace

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY: return OnDestroy();
    case WM_SIZE: return OnSize(window, lParam);
    case WM_PAINT: return OnPaint(window);
    case WM_ERASEBKGND: return 1;  // Paint covers every pixel
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
    case WM_NCCALCSIZE:
      if (wParam) return 0;  // no frame: the whole window is client area
      break;
    case WM_NCHITTEST: return OnNcHitTest(window, lParam);
    case WM_SIZING: return OnSizing(wParam, reinterpret_cast<RECT*>(lParam));
    case WM_KEYDOWN: return OnKeyDown(window, wParam);
    case WM_SYSCHAR: return OnSysChar(window, wParam, lParam);
    case WM_GETOBJECT: return AnswerGetObject(window, wParam, lParam);
    case kMsgPressButton: return OnPressButton(window, wParam);
    case WM_TIMER: return OnTimer(window);
    case WM_MOUSEMOVE: return OnMouseMove(window, lParam);
    case WM_LBUTTONDOWN: return OnLButtonDown(window, lParam);
    case WM_LBUTTONUP: return OnLButtonUp(window, lParam);
    case WM_MOUSEWHEEL: return OnMouseWheel(window, wParam, lParam);
    case WM_MOUSELEAVE: return OnMouseLeave(window);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
  if (!windowClass.hIcon) windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassA(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand) {
  PixelSize size = WindowSizeForScale(g_scale);
  PixelPoint at = CentredPosition(size, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  g_wnd = CreateWindowExA(WS_EX_APPWINDOW, kMainWindowClass, "Kelmorra",
                          WS_POPUP | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, at.x, at.y,
                          size.width, size.height, nullptr, nullptr, instance, nullptr);
  // Creation asks for the frame with wParam 0 (default frame); ask again so that the whole
  // window becomes client area from the first paint on.
  SetWindowPos(g_wnd, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(g_wnd, showCommand);
  UpdateWindow(g_wnd);
  return g_wnd;
}
