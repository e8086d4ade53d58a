// Part files; see part_file_win.h.
#include "update/part_file_win.h"
#include "core/log.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "update/release_trust_win.h"
#include <algorithm>
#include <map>
#include <winternl.h>

namespace {
// Pieces go to the part file in small writes: a large write makes the system cache take
// large blocks of free memory, which a virtual machine's host may have taken back, and the
// first touch of those costs more than the copy (1 MiB writes ran at a sixth of 16 KiB ones).
constexpr size_t kWriteSlice = 16384;
// Read back, written, checked and renamed on one handle; other programs may only read.
constexpr DWORD kPartAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
constexpr DWORD kPartSharing = FILE_SHARE_READ;

// Verified part files still open, by part path, until they are moved into place or resumed.
SRWLOCK g_heldLock = SRWLOCK_INIT;
std::map<std::string, HANDLE> g_heldParts;

void HoldVerifiedPart(const std::string& path, HANDLE handle) {
  AcquireSRWLockExclusive(&g_heldLock);
  HANDLE& slot = g_heldParts[path];
  HANDLE old = slot;
  slot = handle;
  ReleaseSRWLockExclusive(&g_heldLock);
  if (old && old != handle) CloseHandle(old);
}

HANDLE TakeVerifiedPart(const std::string& path) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  AcquireSRWLockExclusive(&g_heldLock);
  auto held = g_heldParts.find(path);
  if (held != g_heldParts.end()) {
    handle = held->second;
    g_heldParts.erase(held);
  }
  ReleaseSRWLockExclusive(&g_heldLock);
  return handle;
}

// Which file a handle has open (its number within its volume), and how it stands.
struct FileIdentity {
  LONGLONG number = 0;
  uint64_t size = 0;
  bool linked = false;  // it still has a name
};

// Both handles compared are opened by the same path, so the volume is the same: its serial
// (in BY_HANDLE_FILE_INFORMATION and FILE_ID_INFO) would cost a request to Wine's mount
// manager, another process, each time; two a small file were a third of its time.
bool IdentityOf(HANDLE handle, FileIdentity& identity) {
  IO_STATUS_BLOCK io{};
  FILE_INTERNAL_INFORMATION internal{};
  FILE_STANDARD_INFO standard{};
  if (NtQueryInformationFile(handle, &io, &internal, sizeof internal, FileInternalInformation) < 0) return false;
  if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) return false;
  identity.number = internal.IndexNumber.QuadPart;
  identity.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  identity.linked = standard.NumberOfLinks > 0;
  return true;
}

// The same rename MoveFileExA makes, without opening the file again. A rename within one
// folder involves no copy, so there is nothing for a write-through to wait for.
bool RenameThrough(HANDLE openPart, const std::string& localPath) {
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
}  // namespace

std::string PartPathOf(const std::string& localPath) { return localPath + ".part"; }

// The nearest folder is tried first: it nearly always exists, and each call is a round trip
// to the Wine server, which thousands of small files would pay once per folder on the way.
void CreateParentFolders(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos || slash < 3) return;
  std::string folder = path.substr(0, slash);
  if (CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() != ERROR_PATH_NOT_FOUND) return;
  CreateParentFolders(folder);
  CreateDirectoryA(folder.c_str(), nullptr);
}

bool MovePartIntoPlace(const std::string& partPath, const std::string& localPath, HANDLE openPart) {
  if (openPart != INVALID_HANDLE_VALUE) {
    if (RenameThrough(openPart, localPath)) return true;
    DWORD error = GetLastError();
    HANDLE copy = INVALID_HANDLE_VALUE;
    HANDLE self = GetCurrentProcess();
    if (DuplicateHandle(self, openPart, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) HoldVerifiedPart(partPath, copy);
    SetLastError(error);
    return false;
  }
  HANDLE held = TakeVerifiedPart(partPath);
  if (held == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  bool moved = RenameThrough(held, localPath);
  DWORD error = GetLastError();
  if (moved) {
    CloseHandle(held);
  } else {
    HoldVerifiedPart(partPath, held);  // a held file is tried again
  }
  SetLastError(error);
  return moved;
}

PartFile::PartFile(const RemoteFile& file, const std::string& path, const std::atomic<bool>* cancel)
    : file_(file), path_(path), cancel_(cancel), crc_(kCrc32Start) {}

PartFile::~PartFile() {
  if (verified_ && handle_ != INVALID_HANDLE_VALUE) {
    HoldVerifiedPart(path_, handle_);
  } else {
    Release();
  }
}

bool PartFile::Stopping() const { return QuitRequested() || (cancel_ && cancel_->load()); }

void PartFile::ForgetBytes() {
  have_ = 0;
  crc_ = kCrc32Start;
  verified_ = false;
  if (sha_) sha_->Restart();
  shaWhole_ = true;
}

void PartFile::Release() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

// Deletes the part file this handle holds (not whatever may stand at its name by now).
void PartFile::Discard() {
  if (handle_ == INVALID_HANDLE_VALUE) {
    DeleteFileA(path_.c_str());
    return;
  }
  FILE_DISPOSITION_INFO dispose = {TRUE};
  bool marked = SetFileInformationByHandle(handle_, FileDispositionInfo, &dispose, sizeof dispose);
  Release();
  if (!marked) DeleteFileA(path_.c_str());
}

// The held handle still names the file at the part path, with at least atLeast bytes.
bool PartFile::StillInPlace(uint64_t atLeast) const {
  FileIdentity held, named;
  if (handle_ == INVALID_HANDLE_VALUE || !IdentityOf(handle_, held) || !held.linked) return false;
  if (held.size < atLeast) return false;
  HANDLE byName = CreateFileA(path_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (byName == INVALID_HANDLE_VALUE) return false;
  bool same = IdentityOf(byName, named) && held.number == named.number;
  CloseHandle(byName);
  return same;
}

bool PartFile::Resume() {
  Release();
  ForgetBytes();
  handle_ = TakeVerifiedPart(path_);
  if (handle_ == INVALID_HANDLE_VALUE) {
    handle_ = CreateFileA(path_.c_str(), kPartAccess, kPartSharing, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                          nullptr);
  }
  if (handle_ == INVALID_HANDLE_VALUE) {
    // A missing part file needs no delete: under Wine every look-up of a missing name reads
    // its whole folder. One that cannot be opened cannot be trusted.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) DeleteFileA(path_.c_str());
    return true;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_, &size)) {
    Discard();
    return true;
  }
  if (size.QuadPart == 0) return true;
  uint32_t running = kCrc32Start;
  if (static_cast<uint64_t>(size.QuadPart) > file_.size || !HashOpenFile(handle_, running)) {
    if (Stopping()) {
      Release();
      return false;
    }
    Discard();
    return true;
  }
  have_ = static_cast<uint64_t>(size.QuadPart);
  crc_ = running;
  return true;
}

void PartFile::Restart() {
  Discard();
  ForgetBytes();
}

void PartFile::HashSha256WhileWriting() {
  if (file_.hasSha256 && !sha_) sha_ = std::make_unique<BackgroundSha256>();
  shaWhole_ = have_ == 0;
}

bool PartFile::OpenNew() {
  handle_ = CreateFileA(path_.c_str(), kPartAccess, kPartSharing, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    writeError_ = GetLastError();
    LogLine("Cannot write %s (error %lu)", path_.c_str(), writeError_);
    return false;
  }
  // A file just created needs no cut: one request less to the Wine server per small file.
  return GetLastError() != ERROR_ALREADY_EXISTS;
}

bool PartFile::OpenForWriting(bool) {
  verified_ = false;
  if (handle_ == INVALID_HANDLE_VALUE) {
    if (OpenNew()) return true;
    if (handle_ == INVALID_HANDLE_VALUE) return false;
  } else if (!StillInPlace(have_)) {
    LogLine("The part file of %s is gone or shorter than the %llu bytes checked - starting it again from zero",
            file_.path.c_str(), static_cast<unsigned long long>(have_));
    Discard();
    ForgetBytes();
    return false;
  }
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(have_);
  if (SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle_)) return true;
  writeError_ = GetLastError();
  Release();
  return false;
}

bool PartFile::Append(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t done = 0; done < size; done += kWriteSlice) {
    DWORD slice = static_cast<DWORD>(std::min<size_t>(kWriteSlice, size - done));
    DWORD written = 0;
    BOOL wrote = WriteFile(handle_, bytes + done, slice, &written, nullptr);
    if (!wrote || written != slice) {
      writeError_ = wrote ? ERROR_DISK_FULL : GetLastError();  // a short write: the disk filled up
      return false;
    }
  }
  crc_ = Crc32Update(crc_, bytes, size);
  if (sha_) sha_->Add(bytes, size);
  have_ += size;
  return true;
}

bool PartFile::CreateEmpty() {
  ForgetBytes();
  if (handle_ != INVALID_HANDLE_VALUE) return OpenForWriting();
  if (!OpenNew() && handle_ == INVALID_HANDLE_VALUE) return false;
  if (SetEndOfFile(handle_)) return true;  // at 0: a file found there is emptied
  writeError_ = GetLastError();
  Release();
  return false;
}

HANDLE PartFile::TakeHandle() {
  if (!verified_) Release();
  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  verified_ = false;
  return handle;
}

bool PartFile::Sha256Matches() {
  if (!file_.hasSha256) return true;
  if (!sha_ || !shaWhole_) return OpenFileMatchesSha256(handle_, file_);
  if (sha_->Finish() == file_.sha256) return true;
  LogLine("SHA-256 mismatch on %s - deleting the download", file_.path.c_str());
  return false;
}

PartFile::Check PartFile::VerifyOrDelete() {
  Check check = Check::Ok;
  if (Crc() != file_.crc) {
    check = Check::BadCrc;
  } else if (!StillInPlace(file_.size)) {
    LogLine("The part file of %s went away while it was written - starting it again from zero", file_.path.c_str());
    check = Check::Gone;
  } else if (!Sha256Matches()) {
    check = Check::BadSha256;
  }
  if (check != Check::Ok) {
    Discard();
    return check;
  }
  verified_ = true;
  return check;
}
