// Shortcut files through the system's shell-link object; see shortcut_win.h. The link's texts
// are ANSI (IShellLinkA, UTF-8 in this program); only the file name it is saved under is
// converted to UTF-16, whole.
#include "install/shortcut_win.h"
#include "core/wide_text_win.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

void MakeShortcut(const std::string& shortcutPath, const std::string& target, const std::string& workingDir) {
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    return;
  }
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingDir.c_str());
  link->SetDescription("Kelmorra Gold");
  link->SetIconLocation(target.c_str(), 0);
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    std::wstring widePath = WideFromAnsi(shortcutPath);
    if (!widePath.empty()) file->Save(widePath.c_str(), TRUE);
    file->Release();
  }
  link->Release();
}
