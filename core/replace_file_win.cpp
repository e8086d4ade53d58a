// Whole-file replacement through ".new"; see replace_file_win.h.
#include "core/replace_file_win.h"
#include <io.h>

ReplaceResult ReplaceFileWhole(const std::string& path, const std::string& content, DWORD* error) {
  std::string newPath = path + ".new";
  FILE* file = fopen(newPath.c_str(), "wb");
  if (!file) return ReplaceResult::CannotWriteNew;
  size_t written = fwrite(content.data(), 1, content.size(), file);
  // On disk before the move: a power cut then leaves the old file or the new, never an empty one.
  bool flushed = fflush(file) == 0 && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
  bool closed = fclose(file) == 0;
  if (written != content.size() || !flushed || !closed) return ReplaceResult::CannotWriteNew;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(newPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (error) *error = GetLastError();
    return ReplaceResult::CannotMove;
  }
  return ReplaceResult::Replaced;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  content.clear();
  char chunk[4096];
  for (;;) {
    size_t got = fread(chunk, 1, sizeof chunk, file);
    if (got == 0) break;
    content.append(chunk, got);
  }
  fclose(file);
  return true;
}
