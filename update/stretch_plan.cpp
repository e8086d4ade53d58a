// Stretches of a file fetched over several connections; see stretch_plan.h.
#include "update/stretch_plan.h"
#include "core/text.h"
#include "update/line_scan.h"
#include <algorithm>

namespace {
// The governor's steps, measured with bench/network_vs_curl.py (line): on loopback one
// connection ends a file before the first window closes; across a distant line each added
// connection adds its own share until the line is full.
constexpr uint64_t kFirstWindowMs = 50;
constexpr uint64_t kWindowMs = 1000;
constexpr double kWorthSharingSeconds = 2.0;  // one connection would need longer than this
// ... and gives less than this: a stretch's connection is closed before its answer ends, and
// Windows' HTTP library (Wine's at least) first reads on whatever is already there, so on a
// fast line a close would read the rest of the file.
constexpr double kSharingBelowRate = 16.0 * 1048576;
constexpr unsigned kFirstStep = 6;
constexpr unsigned kStep = 2;
constexpr double kHelped = 1.2;  // a step that raised the rate less than this is the last
}  // namespace

bool ContentRangeFits(const std::string& contentRange, uint64_t start, uint64_t fileSize) {
  const std::string unit = "bytes ";
  if (contentRange.compare(0, unit.size(), unit) != 0) return false;
  size_t pos = unit.size();
  uint64_t first = 0, last = 0, total = 0;
  if (!ScanDecimal64(contentRange, pos, first) || pos >= contentRange.size() || contentRange[pos++] != '-') return false;
  if (!ScanDecimal64(contentRange, pos, last) || pos >= contentRange.size() || contentRange[pos++] != '/') return false;
  if (!ScanDecimal64(contentRange, pos, total) || pos != contentRange.size()) return false;
  return first == start && total == fileSize && last + 1 == fileSize;
}

StretchPlan::StretchPlan(uint64_t fileSize, uint64_t partSize, std::vector<SidePiece> pieces, uint64_t stretchMax,
                         std::vector<SidePiece>* unusable)
    : size_(fileSize), stretchMax_(std::max<uint64_t>(stretchMax, 1)) {
  std::sort(pieces.begin(), pieces.end(), [](const SidePiece& a, const SidePiece& b) { return a.start < b.start; });
  Stretch part;
  part.filled = std::min(partSize, fileSize);
  stretches_.push_back(part);
  for (const SidePiece& piece : pieces) {
    uint64_t heldTo = stretches_.back().Next();
    bool usable = piece.size > 0 && piece.start >= heldTo && piece.start < fileSize &&
                  piece.size <= fileSize - piece.start;
    if (!usable) {
      if (unusable) unusable->push_back(piece);
      continue;
    }
    Stretch side;
    side.start = piece.start;
    side.filled = piece.size;
    stretches_.push_back(side);
  }
  for (size_t i = 0; i < stretches_.size(); i++) {
    stretches_[i].end = i + 1 < stretches_.size() ? stretches_[i + 1].start : fileSize;
  }
}

uint64_t StretchPlan::Held() const {
  uint64_t held = 0;
  for (const Stretch& stretch : stretches_) held += stretch.filled;
  return held;
}

size_t StretchPlan::IndexOf(uint64_t start) const {
  for (size_t i = 0; i < stretches_.size(); i++) {
    if (stretches_[i].start == start) return i;
  }
  return stretches_.size();
}

bool StretchPlan::ClaimFirst() {
  if (stretches_[0].busy || stretches_[0].Complete()) return false;
  stretches_[0].busy = true;
  return true;
}

bool StretchPlan::Claim(uint64_t& start, bool share) {
  for (size_t i = 0; i < stretches_.size(); i++) {
    Stretch& stretch = stretches_[i];
    if (stretch.busy || stretch.Complete()) continue;
    if (share && stretch.end - stretch.Next() > stretchMax_) {
      Stretch rest;
      rest.start = stretch.Next() + stretchMax_;
      rest.end = stretch.end;
      stretch.end = rest.start;
      stretches_.insert(stretches_.begin() + i + 1, rest);
    }
    stretches_[i].busy = true;
    start = stretches_[i].start;
    return true;
  }
  return share && Steal(start);
}

bool StretchPlan::Steal(uint64_t& start) {
  size_t most = stretches_.size();
  for (size_t i = 0; i < stretches_.size(); i++) {
    const Stretch& stretch = stretches_[i];
    uint64_t left = stretch.end - std::min(stretch.end, stretch.Next());
    if (stretch.busy && left >= 2 * kStealMargin &&
        (most == stretches_.size() || left > stretches_[most].end - stretches_[most].Next())) {
      most = i;
    }
  }
  if (most == stretches_.size()) return false;
  Stretch& victim = stretches_[most];
  Stretch rest;
  rest.start = victim.Next() + std::max(kStealMargin, (victim.end - victim.Next()) / 2);
  rest.end = victim.end;
  rest.busy = true;
  victim.end = rest.start;
  stretches_.insert(stretches_.begin() + most + 1, rest);
  start = rest.start;
  return true;
}

void StretchPlan::Release(uint64_t start) {
  size_t i = IndexOf(start);
  if (i < stretches_.size()) stretches_[i].busy = false;
}

void StretchPlan::SetFilled(uint64_t start, uint64_t filled) {
  size_t i = IndexOf(start);
  if (i < stretches_.size()) stretches_[i].filled = filled;
}

uint64_t StretchPlan::EndOf(uint64_t start) const {
  size_t i = IndexOf(start);
  return i < stretches_.size() ? stretches_[i].end : 0;
}

bool StretchPlan::ShareFirst() {
  Stretch& first = stretches_[0];
  uint64_t cut = first.Next() + stretchMax_;
  if (!first.busy || cut >= first.end) return false;
  Stretch rest;
  rest.start = cut;
  rest.end = first.end;
  first.end = cut;
  stretches_.insert(stretches_.begin() + 1, rest);
  return true;
}

bool StretchPlan::BeginJoin(SidePiece& next) {
  if (stretches_.size() < 2 || stretches_[0].busy || !stretches_[0].Complete() || stretches_[1].busy) return false;
  stretches_[0].busy = stretches_[1].busy = true;
  next.start = stretches_[1].start;
  next.size = stretches_[1].filled;
  return true;
}

void StretchPlan::Joined(uint64_t copied) {
  Stretch& first = stretches_[0];
  first.filled += copied;
  first.end = stretches_[1].end;
  first.busy = false;
  stretches_.erase(stretches_.begin() + 1);
}

void StretchPlan::Collapse() {
  stretches_.resize(1);
  stretches_[0].end = size_;
}

std::string SidePath(const std::string& localPath, uint32_t crc, uint64_t start) {
  return localPath + Fmt(".%08X-%llu.part", static_cast<unsigned>(crc), static_cast<unsigned long long>(start));
}

namespace {
// The text between base + "." and ".part" of a side file's name; false when name has not
// that shape.
bool SideMiddle(const std::string& name, const std::string& base, std::string& middle) {
  const std::string suffix = ".part";
  if (name.size() < base.size() + 1 + suffix.size() || Lower(name.substr(0, base.size())) != Lower(base) ||
      name[base.size()] != '.' || Lower(name.substr(name.size() - suffix.size())) != suffix) {
    return false;
  }
  middle = name.substr(base.size() + 1, name.size() - base.size() - 1 - suffix.size());
  return middle.size() > 9 && middle[8] == '-';
}
}  // namespace

bool ParseSideName(const std::string& name, const std::string& base, uint32_t crc, uint64_t& start) {
  std::string middle;
  if (!SideMiddle(name, base, middle)) return false;
  if (Lower(middle.substr(0, 8)) != Lower(Fmt("%08X", static_cast<unsigned>(crc)))) return false;
  size_t pos = 9;
  if (!isdigit(static_cast<unsigned char>(middle[pos]))) return false;
  return ScanDecimal64(middle, pos, start) && pos == middle.size() && start > 0;
}

bool IsSideNameOf(const std::string& name, const std::string& base) {
  std::string middle;
  if (!SideMiddle(name, base, middle)) return false;
  for (size_t i = 0; i < 8; i++) {
    if (!isxdigit(static_cast<unsigned char>(middle[i]))) return false;
  }
  for (size_t i = 9; i < middle.size(); i++) {
    if (!isdigit(static_cast<unsigned char>(middle[i]))) return false;
  }
  return true;
}

unsigned ConnectionGovernor::Update(uint64_t nowMs, uint64_t received) {
  if (!started_) {
    started_ = true;
    windowStartMs_ = nowMs;
    windowStartBytes_ = received;
    return wanted_;
  }
  uint64_t elapsed = nowMs - windowStartMs_;
  if (single_ || elapsed < (wanted_ == 1 ? kFirstWindowMs : kWindowMs)) return wanted_;
  if (wanted_ == 1 && received == windowStartBytes_) return wanted_;  // no rate to judge by yet
  double rate = (received - windowStartBytes_) * 1000.0 / static_cast<double>(elapsed);
  windowStartMs_ = nowMs;
  windowStartBytes_ = received;
  uint64_t left = remaining_ > received ? remaining_ - received : 0;
  if (wanted_ == 1) {
    if (rate < kSharingBelowRate && left / rate > kWorthSharingSeconds) {
      rateBeforeStep_ = rate;
      wanted_ = std::min(max_, kFirstStep);
    }
    return wanted_;
  }
  if (rateBeforeStep_ >= 0 && rate >= rateBeforeStep_ * kHelped && wanted_ < max_) {
    rateBeforeStep_ = rate;
    wanted_ = std::min(max_, wanted_ + kStep);
  } else {
    rateBeforeStep_ = -1;  // the last step did not help: no more steps for this file
  }
  return wanted_;
}

void ConnectionGovernor::Share() {
  if (single_ || wanted_ > 1) return;
  wanted_ = std::min(max_, kFirstStep);
  rateBeforeStep_ = 0;
}
