// Rollouts that halt themselves; see release_halt.h.
#include "tools/kmcontent/release_halt.h"
#include "tools/kmcontent/release_layout.h"
#include "update/release_channel.h"
#include <fstream>
#include <sstream>
#include <sys/stat.h>

unsigned DefaultFailingOutcomes() {
  return 1u << static_cast<int>(OutcomeClass::Certificate) | 1u << static_cast<int>(OutcomeClass::Crc) |
         1u << static_cast<int>(OutcomeClass::Failed);
}

bool ParseFailingOutcomes(const std::string& list, unsigned& mask) {
  mask = 0;
  std::stringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) {
    OutcomeClass outcome;
    if (!OutcomeFromName(item, outcome)) return false;
    mask |= 1u << static_cast<int>(outcome);
  }
  return mask != 0;
}

namespace {
std::string ManifestIdentity(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::string();
  return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) +
         "." + std::to_string(info.st_mtim.tv_nsec);
}

// Where the installs a rollout leaves out stay, or the release before in the history.
std::string PreviousRelease(const std::string& releaseDir, const std::string& current) {
  std::ifstream file(releaseDir + "/releases/" + current + "/manifest", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Rollout rollout;
  std::string reason;
  if (ReadRollout(text, rollout, reason) && rollout.present) return rollout.previous;
  return release_layout::Previous(releaseDir);
}
}  // namespace

void ReleaseHalt::Refresh() {
  std::string current = release_layout::Current(releaseDir_);
  std::string identity = current.empty() ? "" : ManifestIdentity(releaseDir_ + "/releases/" + current + "/manifest");
  if (current == current_ && identity == identity_) return;
  if (!haltedTo_.empty()) {
    fprintf(stderr, "kmcontent serve: the halt of release %s ends: the current release changed\n", current_.c_str());
  }
  current_ = current;
  identity_ = identity;
  total_ = failing_ = 0;
  haltedTo_.clear();
}

void ReleaseHalt::Count(const OutcomeReport& report) {
  if (rule_.above <= 0 || report.channel != "live") return;
  std::lock_guard<std::mutex> hold(lock_);
  Refresh();
  if (report.release != current_ || !haltedTo_.empty()) return;
  total_++;
  if (rule_.failing >> static_cast<int>(report.outcome) & 1) failing_++;
  if (total_ < rule_.minReports || failing_ <= rule_.above * total_) return;
  std::string previous = PreviousRelease(releaseDir_, current_);
  struct stat info;
  if (previous.empty() || stat((releaseDir_ + "/releases/" + previous + "/manifest").c_str(), &info) != 0) {
    return;  // nothing kept to go back to; counting goes on
  }
  haltedTo_ = previous;
  fprintf(stderr,
          "kmcontent serve: halting release %s: %llu of %llu reports failed (%.1f %%, above %.1f %%); /manifest "
          "answers %s until the release is rolled out again, rolled back or replaced\n",
          current_.c_str(), static_cast<unsigned long long>(failing_), static_cast<unsigned long long>(total_),
          100.0 * failing_ / total_, 100.0 * rule_.above, previous.c_str());
}

std::string ReleaseHalt::ManifestFolder() {
  if (rule_.above <= 0) return releaseDir_;
  std::lock_guard<std::mutex> hold(lock_);
  Refresh();
  return haltedTo_.empty() ? releaseDir_ : releaseDir_ + "/releases/" + haltedTo_;
}

std::string ReleaseHalt::MetricsText() {
  if (rule_.above <= 0) return std::string();
  std::lock_guard<std::mutex> hold(lock_);
  Refresh();
  std::string release = current_.empty() ? "none" : current_;
  return "# HELP kmcontent_rollout_halted 1 while /manifest answers the previous release instead of this one.\n"
         "# TYPE kmcontent_rollout_halted gauge\n"
         "kmcontent_rollout_halted{release=\"" + release + "\"} " + (haltedTo_.empty() ? "0" : "1") + "\n" +
         "# HELP kmcontent_rollout_reports Reports counted for the halt of the current release.\n"
         "# TYPE kmcontent_rollout_reports gauge\n"
         "kmcontent_rollout_reports{release=\"" + release + "\",kind=\"total\"} " + std::to_string(total_) + "\n" +
         "kmcontent_rollout_reports{release=\"" + release + "\",kind=\"failing\"} " + std::to_string(failing_) + "\n";
}
