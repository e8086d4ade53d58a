// The settings window. Opening reads coinit.tmp (creating it from the manifest's game server
// when it is missing) and startcfg.aut and shows their values in standard controls; Save
// writes startcfg.aut, then coinit.tmp with its encrypted part copied unchanged, and closes.
// A group of its own holds the launcher's download speed cap, which Save writes to
// KMLauncher.cfg (not to the game's files) and applies at once.
// Before the launcher has reached the update server there may be no coinit.tmp: the window
// then opens with the game's settings shown disabled and the launcher's own usable.
// Like a dialog box it works from the keyboard (ui/dialog_keys_win.h): Tab through the lists,
// Return saves, Escape cancels.
//
// Save holds the coinit lock from its read of coinit.tmp to its write, so an ApplyGameServer
// on the update worker cannot slip a new file in between; message boxes come after the lock
// is released so that a player reading one never stalls the update pass.
#include "ui/settings_window_win.h"
#include "core/download_cap_win.h"
#include "core/globals_win.h"
#include "core/launcher_config_file_win.h"
#include "core/log.h"
#include "core/text.h"
#include "gameconfig/coinit_file_win.h"
#include "gameconfig/startcfg_file_win.h"
#include "ui/account_window_win.h"
#include "ui/dialog_keys_win.h"

HWND g_setWnd = nullptr;
std::vector<DisplayMode> g_modes;

namespace {
constexpr const char* kSettingsClass = "KMLauncherSettings";
constexpr int kWidth = 320;
constexpr int kHeight = 412;
constexpr int kSizeId = 401, kFullscreenId = 402, kSaveId = 403, kCancelId = 404;
// The graphics lists use 405 to 407 (gameconfig/settings_choices.cpp).
constexpr int kSpeedCapId = 410;
constexpr int kButtonsY = 324;
constexpr DWORD kListStyle = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;

constexpr int kGameControlIds[] = {kSizeId, kFullscreenId, 405, 406, 407};
// Whether the open window offers the game's settings (coinit.tmp could be read).
bool g_gameSettingsOffered = false;

enum class SaveOutcome { NoCoinit, Saved, GraphicsFailed, CoinitFailed, BothFailed };

HWND AddControl(HWND window, const char* className, const char* text, int id, DWORD style, int x, int y,
                int width, int height) {
  HWND control = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                                 nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

// Reads coinit.tmp; a missing file is created first when the manifest named a game server.
bool ReadOrCreateCoinit(std::string plain[kCoinitPlainCount]) {
  std::string encrypted;
  if (ReadCoinit(encrypted, plain)) return true;
  std::string gameServer = ManifestGameServer();
  if (!gameServer.empty()) ApplyGameServer(gameServer);
  return ReadCoinit(encrypted, plain);
}

std::vector<ReportedMode> DisplayModes() {
  std::vector<ReportedMode> modes;
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  for (DWORD number = 0; EnumDisplaySettingsA(nullptr, number, &mode); number++) {
    modes.push_back({static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight),
                     static_cast<int>(mode.dmBitsPerPel)});
  }
  return modes;
}

void RegisterSettingsClass() {
  static bool reg = false;
  if (reg) return;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = SetWndProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = AccountBrush();
  windowClass.lpszClassName = kSettingsClass;
  RegisterClassA(&windowClass);
  reg = true;
}

HWND CreateSettingsWindow() {
  RECT main = {};
  GetWindowRect(g_wnd, &main);
  int x = main.left + (static_cast<int>(800 * g_scale + 0.5f) - kWidth) / 2;
  int y = main.top + (static_cast<int>(600 * g_scale + 0.5f) - kHeight) / 2;
  return CreateWindowExA(WS_EX_DLGMODALFRAME, kSettingsClass, "Kelmorra settings", WS_POPUPWINDOW | WS_DLGFRAME,
                         x, y, kWidth, kHeight, g_wnd, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void AddScreenControls(HWND window, const std::string plain[kCoinitPlainCount]) {
  AddControl(window, "STATIC", "Screen size", 0, 0, 20, 16, 270, 16);
  HWND list = AddControl(window, "COMBOBOX", "", kSizeId, kListStyle, 20, 34, 270, 300);
  for (const DisplayMode& mode : g_modes) {
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ModeLabel(mode).c_str()));
  }
  int saved = ModeIndex(g_modes, ParseIntLikeAtoi(plain[2].c_str()), ParseIntLikeAtoi(plain[3].c_str()));
  if (saved >= 0) SendMessageA(list, CB_SETCURSEL, saved, 0);
  AddControl(window, "BUTTON", "Fullscreen", kFullscreenId, BS_AUTOCHECKBOX | WS_TABSTOP, 20, 72, 270, 20);
  CheckDlgButton(window, kFullscreenId, plain[0] == "1" ? BST_CHECKED : BST_UNCHECKED);
}

// A label at y = 100 + 46 row, its list 18 pixels lower.
void AddGraphicsControls(HWND window) {
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  for (int row = 0; row < 3; row++) {
    const GraphicsRow& graphics = kGraphicsRows[row];
    int y = 100 + 46 * row;
    AddControl(window, "STATIC", graphics.label, 0, 0, 20, y, 270, 16);
    HWND list = AddControl(window, "COMBOBOX", "", graphics.id, kListStyle, 20, y + 18, 270, 200);
    for (const char* choice : graphics.choices) {
      SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    }
    int count = static_cast<int>(graphics.choices.size());
    int selected = ChoiceSelection(values[graphics.value], count, kCfgDefaults[graphics.value]);
    SendMessageA(list, CB_SETCURSEL, selected, 0);
  }
}

// The Downloads group: the cap in KB/s, empty or 0 for none.
void AddDownloadControls(HWND window) {
  AddControl(window, "BUTTON", "Downloads", 0, BS_GROUPBOX, 12, 244, 286, 66);
  AddControl(window, "STATIC", "Speed limit in KB/s (0 = no limit)", 0, 0, 24, 264, 190, 16);
  uint32_t cap = DownloadCap();
  HWND field = AddControl(window, "EDIT", cap ? Fmt("%u", static_cast<unsigned>(cap)).c_str() : "0", kSpeedCapId,
                          ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 24, 282, 110, 20);
  SendMessageA(field, EM_LIMITTEXT, 7, 0);
}

// The cap typed in the field: empty counts as 0; false for anything that is not a cap.
bool TypedSpeedCap(HWND window, uint32_t& cap) {
  char text[16] = {};
  GetDlgItemTextA(window, kSpeedCapId, text, sizeof text);
  if (!text[0]) {
    cap = 0;
    return true;
  }
  return ParseSpeedCap(text, cap);
}

// Writes and applies the cap when it changed; false (with a message box) when it could not.
bool SaveDownloadCap(HWND window) {
  uint32_t cap = 0;
  if (!TypedSpeedCap(window, cap)) {
    MessageBoxA(window, Fmt("Enter the download speed limit in KB/s: a whole number up to %u, 0 for no limit.",
                            static_cast<unsigned>(kMaxSpeedCap)).c_str(), "Kelmorra", MB_ICONINFORMATION);
    SetFocus(GetDlgItem(window, kSpeedCapId));
    return false;
  }
  if (cap == DownloadCap()) return true;
  if (!SaveSpeedCap(g_exeDir + "KMLauncher.cfg", cap)) {
    MessageBoxA(window, "Could not save the download speed limit in KMLauncher.cfg.", "Kelmorra", MB_ICONWARNING);
    return false;
  }
  SetDownloadCap(cap);
  if (cap > 0) {
    LogLine("Download speed limit set to %u KB/s", static_cast<unsigned>(cap));
  } else {
    LogLine("Download speed limit removed");
  }
  return true;
}

int Selection(HWND window, int id) {
  return static_cast<int>(SendDlgItemMessageA(window, id, CB_GETCURSEL, 0, 0));
}

bool SaveGraphics(HWND window) {
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  for (const GraphicsRow& row : kGraphicsRows) {
    int selection = Selection(window, row.id);
    if (selection >= 0) values[row.value] = Fmt("%d", selection);
  }
  if (!WriteStartCfg(values)) return false;
  LogLine("Graphics saved: AA %s, filtering %s, vsync %s", values[kCfgAntiAliasing].c_str(),
          values[kCfgFiltering].c_str(), values[kCfgVsync].c_str());
  return true;
}

SaveOutcome Save(HWND window) {
  CoinitLock lock;
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  if (!ReadCoinit(encrypted, plain)) return SaveOutcome::NoCoinit;
  bool fullscreen = IsDlgButtonChecked(window, kFullscreenId) == BST_CHECKED;
  ApplyScreenChoice(plain, g_modes, Selection(window, kSizeId), fullscreen);
  bool graphicsSaved = SaveGraphics(window);
  bool coinitSaved = WriteCoinit(CoinitContent(encrypted, plain));
  if (coinitSaved) LogLine("Settings saved: %sx%s %s", plain[2].c_str(), plain[3].c_str(), ScreenModeWord(plain[0]));
  if (graphicsSaved) return coinitSaved ? SaveOutcome::Saved : SaveOutcome::CoinitFailed;
  return coinitSaved ? SaveOutcome::GraphicsFailed : SaveOutcome::BothFailed;
}

void OnSave(HWND window) {
  if (!SaveDownloadCap(window)) return;
  if (!g_gameSettingsOffered) {
    DestroyWindow(window);
    return;
  }
  SaveOutcome outcome = Save(window);
  if (outcome == SaveOutcome::NoCoinit) {
    MessageBoxA(window, "Press PLAY once first, then change the settings.", "Kelmorra", MB_ICONINFORMATION);
    return;
  }
  if (outcome == SaveOutcome::GraphicsFailed || outcome == SaveOutcome::BothFailed) {
    MessageBoxA(window, "Could not save the graphics settings (see KMLauncher.log).", "Kelmorra", MB_ICONWARNING);
  }
  if (outcome == SaveOutcome::CoinitFailed || outcome == SaveOutcome::BothFailed) {
    MessageBoxA(window, "Could not save the settings (see KMLauncher.log).", "Kelmorra", MB_ICONWARNING);
    return;
  }
  DestroyWindow(window);
}

// The game's settings greyed out, with the reason where the player looks next.
void OfferLauncherSettingsOnly(HWND window) {
  for (int id : kGameControlIds) EnableWindow(GetDlgItem(window, id), FALSE);
  AddControl(window, "STATIC", "The game's settings can be changed once the launcher has reached the update server.",
             0, 0, 20, 356, 280, 28);
}

LRESULT OnCtlColorStatic(WPARAM wParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBkColor(dc, RGB(16, 18, 24));
  SetTextColor(dc, RGB(170, 215, 255));
  return reinterpret_cast<LRESULT>(AccountBrush());
}

void OnDestroy() {
  g_setWnd = nullptr;
  EnableWindow(g_wnd, TRUE);
  SetForegroundWindow(g_wnd);
}

bool OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case kSaveId: OnSave(window); return true;
    case kCancelId: DestroyWindow(window); return true;
    default: return false;
  }
}
}  // namespace

void ShowSettingsWindow() {
  if (g_setWnd) {
    SetForegroundWindow(g_setWnd);
    return;
  }
  std::string plain[kCoinitPlainCount];
  g_gameSettingsOffered = ReadOrCreateCoinit(plain);
  if (!g_gameSettingsOffered) {
    LogLine("Settings opened without coinit.tmp: only the launcher's settings can be changed");
  }
  RegisterSettingsClass();
  g_modes = BuildModeList(DisplayModes(), ParseIntLikeAtoi(plain[2].c_str()), ParseIntLikeAtoi(plain[3].c_str()));
  HWND window = CreateSettingsWindow();
  if (!window) return;
  g_setWnd = window;
  AddScreenControls(window, plain);
  AddGraphicsControls(window);
  AddDownloadControls(window);
  AddControl(window, "BUTTON", "Save", kSaveId, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 100, kButtonsY, 90, 28);
  AddControl(window, "BUTTON", "Cancel", kCancelId, BS_PUSHBUTTON | WS_TABSTOP, 200, kButtonsY, 90, 28);
  if (!g_gameSettingsOffered) OfferLauncherSettingsOnly(window);
  EnableWindow(g_wnd, FALSE);
  ShowWindow(window, SW_SHOW);
  SetFocus(GetDlgItem(window, g_gameSettingsOffered ? kSizeId : kSpeedCapId));
}

LRESULT CALLBACK SetWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT handled = 0;
  if (HandleDialogKeys(window, message, wParam, kSaveId, kCancelId, handled)) return handled;
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(window, wParam)) return 0;
      break;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_CTLCOLORSTATIC: return OnCtlColorStatic(wParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
