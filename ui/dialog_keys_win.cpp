// Dialog keys for plain popup windows; see dialog_keys_win.h.
#include "ui/dialog_keys_win.h"

namespace {
constexpr const char* kFocusProperty = "KMLauncherFocus";

// A plain window's default activation puts the focus on the window itself, where typing goes
// nowhere; the control that had it is kept in a window property instead.
void OnActivate(HWND window, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus && IsChild(window, focus)) SetPropA(window, kFocusProperty, focus);
    return;
  }
  if (HIWORD(wParam)) return;  // minimised
  HWND saved = static_cast<HWND>(GetPropA(window, kFocusProperty));
  if (!saved || !IsChild(window, saved) || !IsWindowEnabled(saved)) saved = GetNextDlgTabItem(window, nullptr, FALSE);
  SetFocus(saved ? saved : window);
}
}  // namespace

bool HandleDialogKeys(HWND window, UINT message, WPARAM wParam, int defaultId, int cancelId, LRESULT& result) {
  result = 0;
  switch (message) {
    case DM_GETDEFID: result = MAKELRESULT(defaultId, DC_HASDEFID); return true;
    case WM_ACTIVATE: OnActivate(window, wParam); return true;
    case WM_DESTROY: RemovePropA(window, kFocusProperty); return false;
    case WM_COMMAND:
      // Only Escape sends IDCANCEL here; Return goes to the default button through DM_GETDEFID.
      if (LOWORD(wParam) == IDCANCEL) {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(cancelId, BN_CLICKED), 0);
        return true;
      }
      return false;
    default: return false;
  }
}
