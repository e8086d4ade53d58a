// The INSTALL button's folder pick: the system folder picker opens with the default install
// folder's parent selected; the pick (a parent, or a "KelmorraGold" folder itself) becomes
// g_chosenInstallDir, the phase becomes Installing and the install worker starts.
#include "install/install_choose_win.h"
#include "core/globals_win.h"
#include "core/status_win.h"
#include "core/wide_text_win.h"
#include "install/install_folder.h"
#include "install/install_location_win.h"
#include "install/install_run_win.h"
#include <objbase.h>
#include <shlobj.h>

namespace {
constexpr const char* kPickerTitle =
    "Choose where to install Kelmorra Gold. A folder named \"KelmorraGold\" is made inside the one you pick.";

// The picked folder's path; false when the picker was cancelled or the choice is no
// file-system folder.
bool PickFolder(const std::string& startFolder, std::string& picked) {
  char displayName[MAX_PATH] = {};
  BROWSEINFOA info = {};
  info.hwndOwner = g_wnd;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = kPickerTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseInit;
  info.lParam = reinterpret_cast<LPARAM>(startFolder.c_str());
  CoInitialize(nullptr);
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (!item) {
    CoUninitialize();
    return false;
  }
  // The UTF-16 call: MAX_PATH characters always fit, where MAX_PATH bytes of UTF-8 may not.
  wchar_t path[MAX_PATH] = {};
  bool counts = SHGetPathFromIDListW(item, path) && path[0] != L'\0';
  CoTaskMemFree(item);
  CoUninitialize();
  if (counts) picked = AnsiFromWide(path);
  return counts && !picked.empty();
}
}  // namespace

int CALLBACK BrowseInit(HWND picker, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

void ChooseInstallFolder() {
  // The window dispatches only in NotInstalled; a second pick during an install would
  // change the folder under the running worker.
  if (CurrentPhase() != NotInstalled) return;
  std::string picked;
  if (!PickFolder(PickerStartFolder(DefaultInstallDir()), picked)) return;
  g_chosenInstallDir = InstallDirFromPick(picked);
  SetStatus(Installing, "Installing...", InstallDir(), 0);
  HANDLE thread = CreateThread(nullptr, 0, InstallThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}
