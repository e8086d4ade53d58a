// Fetching a file through its packed form (packed_form.h): the answer's bytes pass the one
// body loop (body_loop_win.h), are inflated a block at a time and appended to the part file,
// which stays the verified prefix of the file itself, so its resume, CRC-32, SHA-256 and move
// are those of any download. A part file of P bytes resumes the packed form from the block
// P falls in: one range request for the header and index, then "bytes=<that block's packed
// offset>-", dropping the bytes of the block the part file already holds.
#pragma once
#include "core/base.h"
#include "update/packed_form.h"
#include "update/part_file_win.h"
#include <functional>

enum class PackedEnd {
  Complete,   // the part file holds the whole file (not yet verified)
  Failed,     // the transfer or a write stopped; the part file holds a prefix to resume
  Stopped,    // the launcher is closing
  NotServed,  // no packed form at that URL (404 or another status): fetch the file itself
  Damaged,    // the packed form is not a sound packed form of the file (why says how)
};

struct PackedTransfer {
  const RemoteFile& file;
  PartFile& part;  // open for writing
  std::string url;  // of the packed form
  std::function<bool()> stopping;
  std::function<void(uint64_t held)> report;  // progress: bytes of the file held
  bool overlap = false;  // write and inflate on a second thread while the next pieces arrive
  std::string why{};     // what was wrong with a damaged packed form
};

PackedEnd FetchPackedForm(PackedTransfer& transfer);
// The same over several connections (split_download_win.h) for the file at localPath: each
// asks from the packed offset of the block its stretch starts in, and its side file holds
// the inflated bytes. A server that does not answer ranges leaves it to one connection.
PackedEnd FetchPackedOverConnections(PackedTransfer& transfer, const std::string& localPath);

// Whether file is to be fetched through its packed form: the manifest announces one and
// none of this file was damaged in this run (RefusePackedForm).
bool UsesPackedForm(const RemoteFile& file);
void RefusePackedForm(const RemoteFile& file);

// Whether the source of fileUrl (a mirror, the content server) may have file's packed form:
// it did not lack this one, nor the last three it was asked for, in this run. A static
// mirror that was never given packed forms so costs three requests, not one a file, and a
// packed form one source lacks is still asked of the other.
bool SourceMayServePacked(const RemoteFile& file, const std::string& fileUrl);
void NotePackedServed(const RemoteFile& file, const std::string& fileUrl, bool served);

// The header and index alone, by a range request for their bytes (Complete, NotServed for a
// server that does not answer it with 206, Damaged, Failed or Stopped).
PackedEnd FetchPackedIndex(PackedTransfer& transfer, PackedIndex& index);
// Appends the file's bytes first .. end (exclusive; end at a block's end or the file's end)
// to the part file, which holds first bytes, by one closed range request for their blocks
// on the packed form. wire grows by the packed bytes received. False when the range was not
// answered exactly, the transfer stopped, or the blocks did not inflate (why then says how).
bool InflateRange(PackedTransfer& transfer, const PackedIndex& index, uint64_t first, uint64_t end, uint64_t& wire);
