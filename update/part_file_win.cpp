// Part files; see part_file_win.h.
#include "update/part_file_win.h"
#include "core/log.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "update/release_trust_win.h"
#include <algorithm>

namespace {
// Pieces go to the part file in small writes: a large write makes the system cache take
// large blocks of free memory, which a virtual machine's host may have taken back, and the
// first touch of those costs more than the copy (1 MiB writes ran at a sixth of 16 KiB ones).
constexpr size_t kWriteSlice = 16384;
}  // namespace

std::string PartPathOf(const std::string& localPath) { return localPath + ".part"; }

void CreateParentFolders(const std::string& path) {
  for (size_t i = 3; i < path.size(); i++) {
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

bool MovePartIntoPlace(const std::string& partPath, const std::string& localPath, HANDLE openPart) {
  if (openPart == INVALID_HANDLE_VALUE) {
    return MoveFileExA(partPath.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  // The same rename MoveFileExA makes, without opening the file again. A rename within one
  // folder involves no copy, so there is nothing for a write-through to wait for.
  int length = MultiByteToWideChar(CP_ACP, 0, localPath.c_str(), -1, nullptr, 0);
  if (length <= 1) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>((length - 1) * sizeof(WCHAR));
  MultiByteToWideChar(CP_ACP, 0, localPath.c_str(), -1, rename->FileName, length);
  return SetFileInformationByHandle(openPart, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

PartFile::PartFile(const RemoteFile& file, const std::string& path, const std::atomic<bool>* cancel)
    : file_(file), path_(path), cancel_(cancel), crc_(kCrc32Start) {}

bool PartFile::Stopping() const { return QuitRequested() || (cancel_ && cancel_->load()); }

bool PartFile::Resume() {
  have_ = 0;
  crc_ = kCrc32Start;
  uint64_t size = 0, mtime = 0;
  if (!FileInfo(path_, size, mtime)) {
    // A missing part file needs no delete: under Wine every look-up of a missing name reads
    // its whole folder.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) DeleteFileA(path_.c_str());
    return true;
  }
  if (size == 0) return true;
  uint32_t running = kCrc32Start;
  if (size > file_.size || !HashFile(path_, running)) {
    if (Stopping()) return false;
    DeleteFileA(path_.c_str());
    return true;
  }
  have_ = size;
  crc_ = running;
  return true;
}

void PartFile::Restart() {
  Close();
  DeleteFileA(path_.c_str());
  have_ = 0;
  crc_ = kCrc32Start;
  if (sha_) sha_->Restart();
  shaWhole_ = true;
}

void PartFile::HashSha256WhileWriting() {
  if (file_.hasSha256 && !sha_) sha_ = std::make_unique<BackgroundSha256>();
  shaWhole_ = have_ == 0;
}

bool PartFile::OpenForWriting(bool keepOpen) {
  DWORD access = keepOpen ? GENERIC_WRITE | DELETE : GENERIC_WRITE;
  handle_ = CreateFileA(path_.c_str(), access, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    LogLine("Cannot write %s (error %lu)", path_.c_str(), GetLastError());
    return false;
  }
  // A file just created needs no cut: one request less to the Wine server per small file.
  if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(have_);
  if (SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle_)) return true;
  Close();
  return false;
}

bool PartFile::Append(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t done = 0; done < size; done += kWriteSlice) {
    DWORD slice = static_cast<DWORD>(std::min<size_t>(kWriteSlice, size - done));
    DWORD written = 0;
    if (!WriteFile(handle_, bytes + done, slice, &written, nullptr) || written != slice) return false;
  }
  crc_ = Crc32Update(crc_, bytes, size);
  if (sha_) sha_->Add(bytes, size);
  have_ += size;
  return true;
}

bool PartFile::CreateEmpty() {
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogLine("Cannot write %s (error %lu)", path_.c_str(), GetLastError());
    return false;
  }
  CloseHandle(file);
  return true;
}

void PartFile::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

HANDLE PartFile::TakeHandle() {
  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  return handle;
}

bool PartFile::Sha256Matches() {
  if (!file_.hasSha256) return true;
  if (!sha_ || !shaWhole_) return FileMatchesSha256(path_, file_);
  if (sha_->Finish() == file_.sha256) return true;
  LogLine("SHA-256 mismatch on %s - deleting the download", file_.path.c_str());
  return false;
}

PartFile::Check PartFile::VerifyOrDelete() {
  Check check = Check::Ok;
  if (Crc() != file_.crc) {
    check = Check::BadCrc;
  } else {
    if (file_.hasSha256 && (!sha_ || !shaWhole_)) Close();  // read once more, by name
    if (!Sha256Matches()) check = Check::BadSha256;
  }
  if (check != Check::Ok) {
    Close();
    DeleteFileA(path_.c_str());
  }
  return check;
}
