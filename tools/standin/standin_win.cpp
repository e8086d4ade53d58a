// Kelmorra.exe, the stand-in game client: writes Kelmorra-report.txt into its working
// folder (what the launcher passed and wrote, see standin_report.h), then shows a small
// window naming the game server it would join; Escape or the close box ends it. Started
// with /report-only it writes the report and exits at once.
#include "core/system_dlls_win.h"
#include "tools/standin/standin_report.h"
#include <windows.h>

namespace {

std::string g_message;

bool ReadWholeFile(const char* path, std::string& bytes) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  bytes.clear();
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return true;
}

// Written aside and moved into place, so a reader never sees half a report.
void WriteReport(const std::string& report) {
  std::string fresh = std::string(kStandinReportName) + ".new";
  HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD wrote = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &wrote, nullptr);
  CloseHandle(file);
  MoveFileExA(fresh.c_str(), kStandinReportName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// A path from a UTF-16 call, in the program's code page (UTF-8, from its manifest). The UTF-16
// calls count characters; Wine's "A" ones miscount UTF-8 bytes.
std::string Narrow(const wchar_t* wide) {
  int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, &narrow[0], length, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

template <typename Call>
std::string Utf8Path(Call call) {
  wchar_t wide[MAX_PATH * 2] = {};
  DWORD length = call(MAX_PATH * 2, wide);
  return length == 0 || length >= MAX_PATH * 2 ? std::string() : Narrow(wide);
}

StandinInputs GatherInputs() {
  StandinInputs inputs;
  inputs.commandLine = Narrow(GetCommandLineW());
  inputs.workDir = Utf8Path(GetCurrentDirectoryW);
  inputs.exePath = Utf8Path([](DWORD size, wchar_t* path) { return GetModuleFileNameW(nullptr, path, size); });
  inputs.haveCoinit = ReadWholeFile("coinit.tmp", inputs.coinit);
  inputs.haveStartCfg = ReadWholeFile("startcfg.aut", inputs.startCfg);
  return inputs;
}

bool HasArgument(const char* wanted) {
  for (int i = 1; i < __argc; i++) {
    if (lstrcmpiA(__argv[i], wanted) == 0) return true;
  }
  return false;
}

// Paints the one line of text in the middle of the window.
void OnPaint(HWND wnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(wnd, &ps);
  RECT area;
  GetClientRect(wnd, &area);
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(230, 200, 120));
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  DrawTextA(dc, g_message.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(wnd, &ps);
}

LRESULT CALLBACK StandinWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: OnPaint(wnd); return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) DestroyWindow(wnd);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcA(wnd, message, wParam, lParam);
}

int ShowWindowUntilClosed(HINSTANCE instance, int show) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = StandinWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = "KelmorraStandIn";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowA("KelmorraStandIn", "Kelmorra", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 160,
                           nullptr, nullptr, instance, nullptr);
  if (wnd == nullptr) return 1;
  ShowWindow(wnd, show);
  SetForegroundWindow(wnd);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  LoadSystemDllsFromSystem32Only();
  StandinInputs inputs = GatherInputs();
  WriteReport(StandinReport(inputs));
  if (HasArgument("/report-only")) return 0;
  std::string server = StandinGameServer(inputs);
  g_message = "Would join game server " + (server.empty() ? std::string("(none)") : server);
  return ShowWindowUntilClosed(instance, show);
}
