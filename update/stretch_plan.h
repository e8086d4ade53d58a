// How one big file is fetched over several connections. The file is cut into stretches that
// cover it end to end; the first always lives in the part file (so the part file stays a
// prefix of the file and resumes from its size), every other in a side file of its own named
// by where it starts. A connection fetches one stretch at a time from where the stretch's
// bytes end, with an open-ended range, and stops at the stretch's end. When the part file's
// stretch is complete, the stretch after it is joined onto it. Stretches are at most a
// fixed size, so side files stay bounded and are joined while the download goes on.
#pragma once
#include "core/base.h"

struct Stretch {
  uint64_t start = 0;   // the file's first byte it holds
  uint64_t filled = 0;  // bytes held from start on
  uint64_t end = 0;     // the next stretch's start, or the file's size
  bool busy = false;    // a connection fetches it, or it is being joined

  uint64_t Next() const { return start + filled; }
  bool Complete() const { return Next() >= end; }
};

// A side file found beside the part file: where it starts and how many bytes it holds.
struct SidePiece {
  uint64_t start = 0;
  uint64_t size = 0;
};

// Chosen with bench/network_vs_curl.py (line): below kSplitFrom a file is over before more
// connections pay for their requests; stretches of kStretchMax keep side files small and are
// joined while the download goes on.
constexpr uint64_t kSplitFrom = 32u << 20;
constexpr uint64_t kStretchMax = 8u << 20;

constexpr uint64_t kStealMargin = 2u << 20;

class StretchPlan {
 public:
  // partSize: what the part file holds; pieces: side files left by an earlier run, those that
  // cannot be used (overlapping, past the end, empty) are listed in unusable.
  StretchPlan(uint64_t fileSize, uint64_t partSize, std::vector<SidePiece> pieces, uint64_t stretchMax,
              std::vector<SidePiece>* unusable = nullptr);

  const std::vector<Stretch>& Stretches() const { return stretches_; }
  // Bytes held over all stretches.
  uint64_t Held() const;
  bool Done() const { return stretches_.size() == 1 && stretches_[0].Complete(); }

  // Claims the lowest stretch that no connection fetches and is not complete, first cutting
  // it to stretchMax unfetched bytes (the rest becomes a stretch of its own); when there is
  // none, the second half of the busy stretch with most left to fetch (so that no connection
  // idles while one ends the file alone). False when there is nothing to share.
  //
  // A busy stretch's end only moves closer by more than kStealMargin beyond the bytes it holds,
  // more than one read of a connection can bring in at once.
  // Without share a stretch is claimed whole: one connection goes on to its end.
  bool Claim(uint64_t& start, bool share = true);
  // Claims the part file's stretch whole, for the connection that resumes it; false when it
  // is complete.
  bool ClaimFirst();
  // Ends a claim or a join on the stretch at start.
  void Release(uint64_t start);
  // The claimed stretch at start now holds filled bytes.
  void SetFilled(uint64_t start, uint64_t filled);
  // Where the stretch at start ends now (0 when there is none).
  uint64_t EndOf(uint64_t start) const;
  // Cuts the busy part-file stretch so that it ends stretchMax after where it has got to (a
  // margin past any piece in flight); its rest becomes a new unclaimed stretch. False when it
  // has too little left to share.
  bool ShareFirst();

  // True, with both stretches marked busy, when the part file's stretch is complete and the
  // stretch after it can be joined onto it; then call Joined.
  bool BeginJoin(SidePiece& next);
  // The stretch after the part file's has been appended to it (copied bytes of it).
  void Joined(uint64_t copied);

  // Gives up on side stretches: the part file's stretch covers the whole file again.
  void Collapse();

 private:
  size_t IndexOf(uint64_t start) const;
  bool Steal(uint64_t& start);

  uint64_t size_;
  uint64_t stretchMax_;
  std::vector<Stretch> stretches_;  // by start; stretches_[0].start == 0
};

// The side file of the stretch at start of the file at localPath whose CRC-32 is crc:
// "<localPath>.<CRC as 8 hex digits>-<start>.part" (".part": never a file of a release).
std::string SidePath(const std::string& localPath, uint32_t crc, uint64_t start);
// The start of a side file named name (without folder) beside the file named base whose CRC-32
// is crc; false when name is no such side file.
bool ParseSideName(const std::string& name, const std::string& base, uint32_t crc, uint64_t& start);
// Whether a 206 answer's Content-Range ("bytes first-last/size") is the rest of the file
// from start on.
bool ContentRangeFits(const std::string& contentRange, uint64_t start, uint64_t fileSize);

// Whether name is a side file of base of any CRC-32 (one of another release is stale).
bool IsSideNameOf(const std::string& name, const std::string& base);

// How many connections a big file should have, from what the line gave so far: one until a
// first sample shows the rest would take long on one (and that one is not fast), then a
// jump, then more while each step still raised the rate, never above a fixed number.
class ConnectionGovernor {
 public:
  ConnectionGovernor(uint64_t remaining, unsigned maxConnections) : remaining_(remaining), max_(maxConnections) {}
  // received: bytes of this file received since the start; returns the connections wanted.
  unsigned Update(uint64_t nowMs, uint64_t received);
  unsigned Wanted() const { return wanted_; }
  // The server will not share the file: one connection from now on.
  void Single() { single_ = true, wanted_ = 1; }
  // Side files of an earlier run wait: share at once, and grow from there while it helps.
  void Share();

 private:
  uint64_t remaining_;
  unsigned max_;
  unsigned wanted_ = 1;
  bool single_ = false;
  uint64_t windowStartMs_ = 0;
  uint64_t windowStartBytes_ = 0;
  bool started_ = false;
  double rateBeforeStep_ = 0;  // bytes a second in the window before the last step up
};
