// Real-folder checks of the install step; see real_folder_win.h.
//
// The drive root ("C:\") is not judged: it is a volume, which only an administrator can
// mount or map for the elevated process. Under Wine a drive root may even report itself as
// a link (Z:\ is the Linux root through a symbolic link in the prefix).
#include "install/real_folder_win.h"
#include <aclapi.h>
#include <sddl.h>

namespace {
constexpr DWORD kOpenItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum class Part { Missing, RealFolder, Other };

// Wine's handles follow a link to its target, but the path's own attributes show the link:
// a part counts as a real folder only when both say so.
Part JudgeHandle(HANDLE handle, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle, &info)) return Part::Other;
  DWORD own = GetFileAttributesA(path.c_str());
  DWORD attributes = info.dwFileAttributes | (own == INVALID_FILE_ATTRIBUTES ? 0 : own);
  bool real = own != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
              !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  return real ? Part::RealFolder : Part::Other;
}

Part JudgePart(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, kOpenItself,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Part::Missing : Part::Other;
  }
  Part part = JudgeHandle(handle, path);
  CloseHandle(handle);
  return part;
}
}  // namespace

bool NoReparsePointOnPath(const std::string& folder) {
  if (folder.size() < 4 || folder[1] != ':' || folder[2] != '\\') return false;
  for (size_t end = 4; end <= folder.size(); end++) {
    if (end < folder.size() && folder[end] != '\\' && folder[end] != '/') continue;
    Part part = JudgePart(folder.substr(0, end));
    if (part == Part::Missing) return true;  // nothing below it exists either
    if (part == Part::Other) return false;
  }
  return true;
}

HANDLE HoldRealFolder(const std::string& folder) {
  HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, kOpenItself, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  if (JudgeHandle(handle, folder) != Part::RealFolder) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

std::string FolderOwner(const std::string& folder) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::string();
  }
  std::string text;
  char* sid = nullptr;
  if (owner && ConvertSidToStringSidA(owner, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  LocalFree(descriptor);
  return text;
}
