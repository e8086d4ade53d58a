// Rollouts that halt themselves; see release_halt.h.
#include "tools/kmcontent/release_halt.h"
#include "tools/kmcontent/release_layout.h"
#include "core/sha256.h"
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

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string DigestPrefix(const std::string& text) {
  uint8_t digest[32];
  sha256(text.data(), text.size(), digest);
  char hex[33];
  for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

constexpr auto kSyncEvery = std::chrono::milliseconds(300);

// Where the installs a rollout leaves out stay, or the release before in the history.
std::string PreviousRelease(const std::string& releaseDir, const std::string& current) {
  std::string text = ReadAll(releaseDir + "/releases/" + current + "/manifest");
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
  // The file's time too, so a rollout that writes the same bytes again still resumes.
  std::string manifest = releaseDir_ + "/releases/" + current + "/manifest";
  struct stat info;
  std::string written = "0";
  if (stat(manifest.c_str(), &info) == 0) {
    written = std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
  }
  sharedKey_ = current + ":" + DigestPrefix(ReadAll(manifest)) + ":" + written;
}

bool ReleaseHalt::OverThreshold(uint64_t total, uint64_t failing) const {
  return total >= rule_.minReports && failing > rule_.above * total;
}

std::string ReleaseHalt::PreviousOfCurrent() {
  std::string previous = PreviousRelease(releaseDir_, current_);
  struct stat info;
  if (previous.empty() || stat((releaseDir_ + "/releases/" + previous + "/manifest").c_str(), &info) != 0) return "";
  return previous;
}

void ReleaseHalt::Share(std::unique_ptr<HaltStore> store) {
  store_ = std::move(store);
  syncer_ = std::thread(&ReleaseHalt::SyncLoop, this);
}

ReleaseHalt::~ReleaseHalt() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (syncer_.joinable()) syncer_.join();
}

void ReleaseHalt::SyncLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    wake_.wait_for(hold, kSyncEvery);
    hold.unlock();
    SyncWithStore();
    hold.lock();
  }
}

// The reports counted here go to the store; the store's counts and halt come back.
void ReleaseHalt::SyncWithStore() {
  std::vector<std::pair<std::string, bool>> reports;
  std::string key, current, previous;
  bool halted = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    Refresh();
    reports.swap(pending_);
    key = sharedKey_;
    current = current_;
    halted = !haltedTo_.empty();
  }
  for (const auto& report : reports) store_->Add(report.first, report.second);
  uint64_t total = 0, failing = 0;
  std::string haltedTo;
  if (!store_->Read(key, total, failing, haltedTo)) return;
  if (haltedTo.empty() && OverThreshold(total, failing)) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      previous = PreviousOfCurrent();
    }
    if (!previous.empty() && store_->Halt(key, previous)) store_->Read(key, total, failing, haltedTo);
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (key != sharedKey_) return;  // the release changed meanwhile
  total_ = total;
  failing_ = failing;
  if (!halted && !haltedTo.empty()) {
    fprintf(stderr,
            "kmcontent serve: halting release %s: %llu of %llu reports failed (%.1f %%, above %.1f %%, counted by "
            "every instance); /manifest answers %s until the release is rolled out again, rolled back or replaced\n",
            current.c_str(), static_cast<unsigned long long>(failing), static_cast<unsigned long long>(total),
            total ? 100.0 * failing / total : 0.0, 100.0 * rule_.above, haltedTo.c_str());
  }
  haltedTo_ = haltedTo;
}

void ReleaseHalt::Count(const OutcomeReport& report) {
  if (rule_.above <= 0 || report.channel != "live") return;
  std::lock_guard<std::mutex> hold(lock_);
  Refresh();
  if (report.release != current_ || !haltedTo_.empty()) return;
  bool failing = rule_.failing >> static_cast<int>(report.outcome) & 1;
  if (store_) {
    pending_.emplace_back(sharedKey_, failing);
    return;
  }
  total_++;
  if (failing) failing_++;
  if (!OverThreshold(total_, failing_)) return;
  std::string previous = PreviousOfCurrent();
  if (previous.empty()) return;  // nothing kept to go back to; counting goes on
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
