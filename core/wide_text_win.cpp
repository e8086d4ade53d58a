// Code-page conversions; see wide_text_win.h.
#include "core/wide_text_win.h"

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string AnsiFromWide(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], length, nullptr, nullptr);
  narrow.pop_back();  // the terminator
  return narrow;
}

size_t WindowsPathLength(const std::string& path) { return WideFromAnsi(path).size(); }

bool ModulePath(std::string& path) {
  // UTF-16 first: its length is in characters, and the buffer grows until the path fits.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::vector<wchar_t> buffer(size);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      path = AnsiFromWide(buffer.data());
      return !path.empty();
    }
  }
  return false;
}
