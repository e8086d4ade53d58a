// A big file over several connections at once (see stretch_plan.h for how it is cut up).
// What a server and the player's disk see stays as for one connection: the part file is
// always a prefix of the file and resumes with "bytes=<its size>-"; the other connections
// also ask open-ended ranges and stop at the end of their stretch; their bytes wait in side
// files beside the part file ("<file>.<CRC>-<start>.part", at most a stretch each) and are
// joined onto it as the prefix reaches them, through the part file's Append, so the CRC-32
// and SHA-256 still cover the whole file in order. A kill leaves the part file and the side
// files, which the next attempt takes up. A server that answers a range with 200, or with a
// 206 for other bytes, has the file go on over one connection; so has a file that was found
// wrong after a split download. A second source (the content server beside the mirror) takes
// every other side stretch of a file fetched whole; when it fails one, or answers with anything
// but the range asked for, the stretch is asked again at the first source and the second gets
// no more of the file.
#pragma once
#include "core/base.h"
#include "update/http_win.h"
#include "update/manifest.h"
#include "update/packed_form.h"
#include "update/part_file_win.h"
#include <functional>

struct SplitFetch {
  const RemoteFile& file;
  PartFile& part;  // open for writing, holding its size
  std::string url;
  std::string localPath;
  std::function<bool()> stopping;                       // the attempt's stop request
  std::function<void(uint64_t held)> report;            // progress: bytes held of the file
  std::function<void()> firstDone;  // closes the first answer's request once it is no longer read
  uint64_t answerMs = 0;  // how long the first answer's headers took to come
  // Set for a packed form (packed_form.h) at url: each connection asks from the packed offset
  // of the block its stretch starts in and inflates into the stretch's file.
  const PackedIndex* packed = nullptr;
  std::string damage{};  // what was wrong with a packed form that failed to inflate
  std::string secondUrl{};  // the file at a second source, or empty; not for a packed form
};

// Whether file (at localPath) is fetched over several connections when the line allows.
bool SplitsDownload(const RemoteFile& file, const std::string& localPath);

// Fetches the rest of the file: first is the answer to the part file's request (status 206,
// or 200 from byte 0), streamed by the first connection; more connections join as the
// governor asks. Returns when the part file is complete, or when it cannot go on (stopped,
// too many failures, a write error): the part file then holds its prefix and the side
// files stay for the next attempt. overlap: the first connection writes on a second thread.
void FetchOverConnections(SplitFetch& fetch, AnswerBody& first, bool overlap);

// The download of file turned out wrong after a split: it goes on over one connection for
// the rest of this run, and its side files are removed.
void UseOneConnection(const RemoteFile& file, const std::string& localPath);

// Removes every side file of the file at localPath.
void RemoveSideFiles(const std::string& localPath);
