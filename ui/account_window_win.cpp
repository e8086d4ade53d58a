// The account-creation window: four edits, a status line and two buttons, modal over the
// main window. "Create account" checks the input, then a worker posts the form (see
// register_request_win.cpp) and the answer comes back as kMsgAccountReply. It works from the
// keyboard alone, like a dialog box (ui/dialog_keys_win.h): the caret starts in the user name,
// Tab moves between the fields and Return creates the account.
#include "ui/account_window_win.h"
#include "core/wide_text_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "ui/account_form.h"
#include "ui/dialog_keys_win.h"
#include "ui/register_request_win.h"
#include <memory>

std::atomic<HWND> g_accWnd{nullptr};
HWND g_accStatus = nullptr;
HBRUSH g_accBrush = nullptr;

namespace {
constexpr const char* kAccountClass = "KMLauncherAccount";
constexpr int kWidth = 380;
constexpr int kHeight = 330;
constexpr int kUserId = 301, kPasswordId = 302, kRepeatId = 303, kEmailId = 304;
constexpr int kCreateId = 305, kCancelId = 306;
constexpr COLORREF kBackground = RGB(16, 18, 24);
constexpr COLORREF kText = RGB(170, 215, 255);
constexpr COLORREF kStatusText = RGB(240, 140, 100);

struct Control {
  const char* className;
  const char* text;
  int id;  // 0: a label; -1: the status line
  DWORD style;
  int x, y, width, height;
  int limit;
};

constexpr DWORD kEditStyle = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

// Labels and edits on a 52-pixel rhythm: label i at 14 + 52 i, its edit 18 pixels lower.
const Control kControls[] = {
    {"STATIC", "Username (3-16 letters, numbers, _)", 0, 0, 20, 14, 330, 16, 0},
    {"EDIT", "", kUserId, kEditStyle, 20, 32, 330, 22, 16},
    {"STATIC", "Password (4-20)", 0, 0, 20, 66, 330, 16, 0},
    {"EDIT", "", kPasswordId, kEditStyle | ES_PASSWORD, 20, 84, 330, 22, 20},
    {"STATIC", "Password again", 0, 0, 20, 118, 330, 16, 0},
    {"EDIT", "", kRepeatId, kEditStyle | ES_PASSWORD, 20, 136, 330, 22, 20},
    {"STATIC", "Email (optional)", 0, 0, 20, 170, 330, 16, 0},
    {"EDIT", "", kEmailId, kEditStyle, 20, 188, 330, 22, 100},
    {"STATIC", "", -1, 0, 20, 222, 330, 32, 0},
    {"BUTTON", "Create account", kCreateId, BS_DEFPUSHBUTTON | WS_TABSTOP, 130, 260, 120, 28, 0},
    {"BUTTON", "Cancel", kCancelId, BS_PUSHBUTTON | WS_TABSTOP, 260, 260, 90, 28, 0},
};

void RegisterAccountClass() {
  static bool reg = false;
  if (reg) return;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = AccWndProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = AccountBrush();
  windowClass.lpszClassName = kAccountClass;
  RegisterClassA(&windowClass);
  reg = true;
}

void CreateControls(HWND window) {
  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
  for (const Control& c : kControls) {
    HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id > 0 ? c.id : 0));
    HWND control = CreateWindowExA(0, c.className, c.text, WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.width,
                                   c.height, window, id, GetModuleHandleA(nullptr), nullptr);
    if (c.limit) SendMessageA(control, EM_LIMITTEXT, c.limit, 0);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.id == -1) g_accStatus = control;
  }
}

void SetAccountStatus(const char* text) { SetWindowTextA(g_accStatus, text); }

// "Create account": the checks, then the request on a worker of its own.
void Submit(HWND window) {
  std::string user = GetText(kUserId);
  std::string password = GetText(kPasswordId);
  std::string repetition = GetText(kRepeatId);
  std::string email = GetText(kEmailId);
  const char* problem = AccountInputProblem(user, password, repetition);
  if (problem) {
    SetAccountStatus(problem);
    return;
  }
  SetAccountStatus("Creating your account...");
  EnableWindow(GetDlgItem(window, kCreateId), FALSE);
  RegisterRequest* request = new RegisterRequest{AccountRequestBody(user, password, email), window};
  HANDLE thread = CreateThread(nullptr, 0, RegisterThread, request, 0, nullptr);
  if (!thread) {
    delete request;
    return;
  }
  CloseHandle(thread);
}

// The server's answer; the window owns the string from here on.
void OnReply(HWND window, LPARAM lParam) {
  std::unique_ptr<std::string> answer(reinterpret_cast<std::string*>(lParam));
  EnableWindow(GetDlgItem(window, kCreateId), TRUE);
  AccountReply reply = ReadAccountAnswer(*answer);
  if (!reply.created) {
    SetAccountStatus(reply.message.c_str());
    return;
  }
  std::string user = GetText(kUserId);
  LogLine("New account created: %s", user.c_str());
  MessageBoxA(window, AccountCreatedText(user).c_str(), "Kelmorra", MB_ICONINFORMATION);
  DestroyWindow(window);
}

LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBkColor(dc, kBackground);
  SetTextColor(dc, reinterpret_cast<HWND>(lParam) == g_accStatus ? kStatusText : kText);
  return reinterpret_cast<LRESULT>(AccountBrush());
}

// Answers already queued for this window are freed here: nobody else would.
void OnDestroy(HWND window) {
  MSG pending;
  while (PeekMessageA(&pending, window, kMsgAccountReply, kMsgAccountReply, PM_REMOVE)) {
    delete reinterpret_cast<std::string*>(pending.lParam);
  }
  g_accWnd = nullptr;
  g_accStatus = nullptr;
  EnableWindow(g_wnd, TRUE);
  SetForegroundWindow(g_wnd);
}

bool OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case kCreateId: Submit(window); return true;
    case kCancelId: DestroyWindow(window); return true;
    default: return false;
  }
}
}  // namespace

HBRUSH AccountBrush() {
  if (!g_accBrush) g_accBrush = CreateSolidBrush(kBackground);
  return g_accBrush;
}

// At most 255 characters, counted as characters: read as UTF-16 and turned into the
// program's UTF-8, so a cut never falls inside a character's bytes.
std::string GetText(int controlId) {
  wchar_t buffer[256] = {};
  GetDlgItemTextW(g_accWnd, controlId, buffer, 256);
  return AnsiFromWide(buffer);
}

void ShowAccountWindow() {
  if (g_accWnd) {
    SetForegroundWindow(g_accWnd);
    return;
  }
  RegisterAccountClass();
  RECT main = {};
  GetWindowRect(g_wnd, &main);
  int x = main.left + (static_cast<int>(800 * g_scale + 0.5f) - kWidth) / 2;
  int y = main.top + (static_cast<int>(600 * g_scale + 0.5f) - kHeight) / 2;
  HWND window = CreateWindowExA(WS_EX_DLGMODALFRAME, kAccountClass, "Create an Kelmorra account",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y, kWidth, kHeight, g_wnd, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (!window) return;
  g_accWnd = window;
  CreateControls(window);
  EnableWindow(g_wnd, FALSE);
  ShowWindow(window, SW_SHOW);
  SetFocus(GetDlgItem(window, kUserId));
}

LRESULT CALLBACK AccWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT handled = 0;
  if (HandleDialogKeys(window, message, wParam, kCreateId, kCancelId, handled)) return handled;
  switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: return OnCtlColor(wParam, lParam);
    case WM_COMMAND:
      if (OnCommand(window, wParam)) return 0;
      break;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: OnDestroy(window); return 0;
    case kMsgAccountReply: OnReply(window, lParam); return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
