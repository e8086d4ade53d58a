// Holders of a file; see file_holder_win.h. A Restart Manager session of our own, with the
// one file registered, lists the processes that have it open.
#include "update/file_holder_win.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include <restartmanager.h>

namespace {
constexpr UINT kMostNamed = 4;  // more would not fit the detail line

std::string NameOf(const RM_PROCESS_INFO& process) {
  std::string name = AnsiFromWide(process.strAppName);
  return name.empty() ? Fmt("process %lu", static_cast<unsigned long>(process.Process.dwProcessId)) : name;
}
}  // namespace

std::string ProgramsHoldingFile(const std::string& path) {
  std::wstring widePath = WideFromAnsi(path);
  if (widePath.empty()) return std::string();
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) return std::string();
  std::string names;
  LPCWSTR files[] = {widePath.c_str()};
  if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    RM_PROCESS_INFO processes[kMostNamed] = {};
    UINT needed = 0, count = kMostNamed;
    DWORD reasons = 0;
    DWORD result = RmGetList(session, &needed, &count, processes, &reasons);
    if (result == ERROR_SUCCESS) {  // with more holders than kMostNamed the list stays empty
      for (UINT i = 0; i < count && i < kMostNamed; i++) names += (names.empty() ? "" : ", ") + NameOf(processes[i]);
    }
  }
  RmEndSession(session);
  return names;
}
