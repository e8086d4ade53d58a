// Channels and staged rollouts, the byte rules both the launcher and kmcontent use.
//
// A channel is a release tree of its own under "/channels/NAME/" on the content server (a
// test realm, a beta); the live channel is the tree's root, "/manifest" as ever. A manifest
// of a channel says so in a line "channel NAME" (inside the signed text when signed); a
// manifest without one is the live channel's.
//
// A staged rollout is a line in the newest release's manifest:
//
//     rollout <percent 0-100> <this release's name> <the release before it>
//
// Installs whose cohort for this release is below the percentage take it; the others take
// the release before it from its own URL ("/releases/NAME/manifest" in the same channel). The
// cohort is a hash of the install's random id and the release name, so raising the
// percentage keeps everyone who was in, and each release draws its cohorts afresh.
//
// Both lines begin with a word that is no hexadecimal number followed by a size, so the
// manifest grammar reads them as malformed file lines and skips them: a launcher that knows
// neither reads the manifest exactly as one without them.
#pragma once
#include "core/base.h"
#include "core/launcher_config.h"  // IsChannelName

constexpr char kChannelLinePrefix[] = "channel ";
constexpr char kRolloutLinePrefix[] = "rollout ";

// "/manifest" for the live channel (empty name), "/channels/NAME/manifest" otherwise.
std::string ChannelManifestPath(const std::string& channel);
// The content server's base for the files of the current release: "/files/" or
// "/channels/NAME/files/"; and for one kept release "/releases/R/files/" in that channel.
std::string ChannelFilesPath(const std::string& channel);
std::string ReleaseFilesPath(const std::string& channel, const std::string& release);
std::string ReleaseManifestPath(const std::string& channel, const std::string& release);

// The channel a manifest text names: empty for the live channel. False, with the reason,
// for two channel lines or a malformed name.
bool ReadManifestChannel(const std::string& text, std::string& channel, std::string& reason);

// A release name as publish gives them: "v12", "v12.2" (letters, digits, '.', '-', '_', not
// starting with '.', at most 64 bytes).
bool IsKeptReleaseName(const std::string& name);

struct Rollout {
  bool present = false;
  unsigned percent = 100;
  std::string release;   // the release this manifest is
  std::string previous;  // where the others stay
};

// The rollout line of a manifest text (present false without one). False, with the reason,
// for two rollout lines or a malformed one.
bool ReadRollout(const std::string& text, Rollout& rollout, std::string& reason);
std::string RolloutLine(const Rollout& rollout);  // with its LF

// "preload NAME": the next release, in place under its own URL but not live yet. Empty
// without one; false, with the reason, for two lines or a malformed name.
constexpr char kPreloadLinePrefix[] = "preload ";
bool ReadPreload(const std::string& text, std::string& release, std::string& reason);

// 0 to 99: where an install stands in a release's rollout.
unsigned CohortOf(const std::string& installId, const std::string& release);

// Whether an install takes the rollout's release.
bool InRollout(const Rollout& rollout, const std::string& installId);
