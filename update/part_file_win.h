// The ".part" file beside a game file, where a new version is built before it replaces the
// old one. Its one rule: the part file always holds a prefix of the new file, and the running
// CRC-32 (and, for a signed release, SHA-256) covers exactly its bytes. So any later attempt,
// in this pass, the next pass or the next run, whether it downloads or patches, resumes from
// its size, and a complete part file is verified before it is moved into place.
//
// A part file is held on one handle from the resume to the rename: no other program can
// write, cut, delete or swap it between the check and the move. One
// that is gone or shorter than its checked prefix when writing resumes, or gone when it is
// verified, starts again from zero; bytes are never written at a wrong offset.
#pragma once
#include "core/base.h"
#include "update/manifest.h"
#include "update/sha256_background.h"
#include <windows.h>
#include <atomic>
#include <memory>

// The part file of a file in the game folder.
std::string PartPathOf(const std::string& localPath);

// Creates every folder on the way to path (after a drive root such as C:\).
void CreateParentFolders(const std::string& path);

// Moves a verified part file into place, replacing what is there, through openPart when it is
// given (it stays the caller's), else through the handle its verification kept (closed once
// moved). When the move fails, the part stays held for another try, which passes no handle. A part file no verification holds is not moved
// (ERROR_FILE_NOT_FOUND). False with the system error number in GetLastError.
bool MovePartIntoPlace(const std::string& partPath, const std::string& localPath, HANDLE openPart);

class PartFile {
 public:
  enum class Check { Ok, BadCrc, BadSha256, Gone };

  // cancel, when given and set, stops reading back like the launcher's quit request does.
  PartFile(const RemoteFile& file, const std::string& path, const std::atomic<bool>* cancel = nullptr);
  // A verified part file's handle is kept for MovePartIntoPlace; any other is closed.
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Takes what an earlier attempt left: its size and its CRC-32 read back. A part file longer
  // than the file, or one that cannot be read, is deleted and the build starts empty. False
  // when the launcher started closing (or cancel was set) while it was read back.
  bool Resume();
  // The build starts empty: the caller has just found no part file.
  void StartEmpty() {}
  // Forgets every byte: the part file is deleted (a server that ignored a range sends all).
  void Restart();
  // From now on the SHA-256 of a signed release's file grows with every byte appended, on a
  // thread of its own; without it (or after a resume) the file is read once more to verify.
  void HashSha256WhileWriting();

  // Opens the part file for appending (the resume's handle when it had one), cut after Size()
  // bytes so that it holds exactly the bytes the CRC-32 covers. False (logged) when it cannot
  // be opened, and when the resumed part is gone or shorter than Size(): it then starts again
  // from zero and this attempt, whose answer begins at the old size, ends.
  bool OpenForWriting(bool keepOpen = false);
  // Writes the bytes and grows the CRC-32 and SHA-256 over them: the only place either grows.
  bool Append(const void* data, size_t size);
  // An empty file's part file, created empty. False (logged) when it cannot be written.
  bool CreateEmpty();
  // Ends the writing; the handle stays with the part file until it is verified or dropped.
  void Close() {}

  // Checks the complete part file against the manifest's CRC-32, that it is still the file
  // at its name (Gone, logged, when not), then a signed release's SHA-256 (a mismatch of that
  // is logged). A part file that fails is closed and deleted.
  Check VerifyOrDelete();
  // A verified part file's open handle for MovePartIntoPlace, now the caller's; any other is
  // closed (INVALID_HANDLE_VALUE).
  HANDLE TakeHandle();

  // The last write, open or cut failed because the volume is full.
  bool DiskFull() const { return writeError_ == ERROR_DISK_FULL || writeError_ == ERROR_HANDLE_DISK_FULL; }
  // A write for the same download (a side file's) found the volume full; call on the thread
  // that writes the part file, or once no thread does.
  void NoteDiskFull() { writeError_ = ERROR_DISK_FULL; }

  uint64_t Size() const { return have_; }
  uint32_t Crc() const { return ~crc_; }
  const std::string& Path() const { return path_; }

 private:
  bool Stopping() const;
  bool Sha256Matches();
  bool OpenNew();
  bool StillInPlace(uint64_t atLeast) const;
  void ForgetBytes();
  void Release();
  void Discard();

  const RemoteFile& file_;
  std::string path_;
  const std::atomic<bool>* cancel_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  uint64_t have_ = 0;
  uint32_t crc_;
  std::unique_ptr<BackgroundSha256> sha_;  // only while hashing the stream
  bool shaWhole_ = false;                  // sha_ has seen every byte of the part file
  DWORD writeError_ = 0;                   // of the last failed write (on the writing thread)
  bool verified_ = false;
};
