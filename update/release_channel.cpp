// Channels and staged rollouts; see release_channel.h.
#include "update/release_channel.h"
#include "core/sha256.h"
#include "core/text.h"

namespace {
constexpr size_t kMaxReleaseName = 64;

bool IsNameByte(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'; }

std::string ChannelBase(const std::string& channel) { return channel.empty() ? "" : "/channels/" + channel; }

// Each line of the text (LF, one CR dropped) that begins with prefix, without the prefix.
std::vector<std::string> LinesWith(const std::string& text, const char* prefix) {
  std::vector<std::string> found;
  for (const std::string& line : SplitLines(text)) {
    if (StartsWith(line, prefix)) found.push_back(line.substr(strlen(prefix)));
  }
  return found;
}

// Only the form RolloutLine writes: no leading zero, 0 to 100.
bool ParsePercent(const std::string& digits, unsigned& percent) {
  if (digits.empty() || digits.size() > 3 || (digits[0] == '0' && digits.size() > 1)) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 100) return false;
  percent = value;
  return true;
}
}  // namespace

bool IsKeptReleaseName(const std::string& name) {
  if (name.empty() || name.size() > kMaxReleaseName || name[0] == '.') return false;
  for (char c : name) {
    if (!IsNameByte(c) && c != '.' && !(c >= 'A' && c <= 'Z')) return false;
  }
  return name != "." && name != "..";
}

std::string ChannelManifestPath(const std::string& channel) { return ChannelBase(channel) + "/manifest"; }
std::string ChannelFilesPath(const std::string& channel) { return ChannelBase(channel) + "/files/"; }

std::string ReleaseFilesPath(const std::string& channel, const std::string& release) {
  return ChannelBase(channel) + "/releases/" + release + "/files/";
}

std::string ReleaseManifestPath(const std::string& channel, const std::string& release) {
  return ChannelBase(channel) + "/releases/" + release + "/manifest";
}

bool ReadManifestChannel(const std::string& text, std::string& channel, std::string& reason) {
  std::vector<std::string> lines = LinesWith(text, kChannelLinePrefix);
  channel.clear();
  if (lines.empty()) return true;
  if (lines.size() > 1) {
    reason = "two channel lines";
    return false;
  }
  if (!IsChannelName(lines[0])) {
    reason = "a malformed channel line";
    return false;
  }
  channel = lines[0];
  return true;
}

bool ReadRollout(const std::string& text, Rollout& rollout, std::string& reason) {
  std::vector<std::string> lines = LinesWith(text, kRolloutLinePrefix);
  rollout = Rollout();
  if (lines.empty()) return true;
  if (lines.size() > 1) {
    reason = "two rollout lines";
    return false;
  }
  const std::string& line = lines[0];
  size_t first = line.find(' '), second = first == std::string::npos ? first : line.find(' ', first + 1);
  Rollout read;
  read.present = true;
  bool ok = second != std::string::npos && ParsePercent(line.substr(0, first), read.percent);
  if (ok) {
    read.release = line.substr(first + 1, second - first - 1);
    read.previous = line.substr(second + 1);
    ok = IsKeptReleaseName(read.release) && IsKeptReleaseName(read.previous) && read.release != read.previous;
  }
  if (!ok) {
    reason = "a malformed rollout line";
    return false;
  }
  rollout = read;
  return true;
}

bool ReadPreload(const std::string& text, std::string& release, std::string& reason) {
  std::vector<std::string> lines = LinesWith(text, kPreloadLinePrefix);
  release.clear();
  if (lines.empty()) return true;
  if (lines.size() > 1 || !IsKeptReleaseName(lines[0])) {
    reason = lines.size() > 1 ? "two preload lines" : "a malformed preload line";
    return false;
  }
  release = lines[0];
  return true;
}

std::string RolloutLine(const Rollout& rollout) {
  return kRolloutLinePrefix + std::to_string(rollout.percent) + " " + rollout.release + " " + rollout.previous + "\n";
}

unsigned CohortOf(const std::string& installId, const std::string& release) {
  std::string keyed = installId + "\n" + release;
  unsigned char digest[32];
  sha256(keyed.data(), keyed.size(), digest);
  uint64_t high = 0;
  for (int i = 0; i < 8; i++) high = high << 8 | digest[i];
  return static_cast<unsigned>(high % 100);
}

bool InRollout(const Rollout& rollout, const std::string& installId) {
  return !rollout.present || rollout.percent >= 100 || CohortOf(installId, rollout.release) < rollout.percent;
}
