// The release this install follows; see release_choice_win.h.
#include "update/release_choice_win.h"
#include "core/globals_win.h"
#include "core/launcher_config_file_win.h"
#include "core/log.h"
#include "core/text.h"
#include "update/file_state_win.h"
#include "update/http_win.h"
#include "update/release_channel.h"
#include "update/release_trust_win.h"
#include <bcrypt.h>

namespace {
// The id lives in KMLauncher.crc: the ':' keeps every manifest path away from it, and
// launchers without rollouts keep the entry like any other.
constexpr char kInstallIdKey[] = ":install id";

std::string g_filesPath = "/files/";
unsigned g_rolloutPercent = 100;
std::string g_releaseChosen;
std::string g_preload;

std::string ChannelLabel(const std::string& channel) { return channel.empty() ? "live" : channel; }

void LogRefusal(const std::string& reason) {
  LogLine("Refusing the release of %s: %s", g_server.c_str(), reason.c_str());
}

// The parse of one body (verified when the launcher has a key, and then also held against
// the releases installed here unless told otherwise), and its channel checked.
ManifestFetch ReadBody(const std::string& body, Manifest& manifest, bool againstInstalled = true) {
  std::string refusal;
  if (!g_releaseKey.empty() && !CheckReleaseBody(body, againstInstalled, manifest, refusal)) {
    LogRefusal(refusal);
    return ManifestFetch::Refused;
  }
  if (g_releaseKey.empty()) manifest = ParseManifest(body);
  for (const std::string& path : manifest.unsafePaths) LogLine("Ignoring unsafe path in manifest: %s", path.c_str());
  if (!manifest.accepted) return ManifestFetch::Failed;
  std::string channel, reason;
  if (!ReadManifestChannel(body, channel, reason)) {
    LogRefusal(reason);
    return ManifestFetch::Refused;
  }
  if (channel != g_channel) {
    LogRefusal(Fmt("it is a manifest of the %s channel; this launcher follows the %s channel",
                   ChannelLabel(channel).c_str(), ChannelLabel(g_channel).c_str()));
    manifest = Manifest();
    return ManifestFetch::Refused;
  }
  return ManifestFetch::Ok;
}

// A keyed launcher left out of a rollout it already has (or has passed): the release before
// would be refused as older, but it verifies, so the launcher stays where it is.
bool BelowInstalledFloor(const std::string& body) {
  Manifest manifest;
  std::string reason;
  return !g_releaseKey.empty() && !CheckReleaseBody(body, true, manifest, reason) &&
         CheckReleaseBody(body, false, manifest, reason);
}

// The release before the rollout's, for an install the rollout leaves out.
ManifestFetch FetchPrevious(const Rollout& rollout, Manifest& manifest) {
  std::string body;
  if (!HttpGetText(ReleaseManifestPath(g_channel, rollout.previous), body)) return ManifestFetch::Failed;
  if (BelowInstalledFloor(body)) {
    LogLine("Release %s reaches %u %% of installs, not this one, but a newer release than %s is installed "
            "here: keeping %s", rollout.release.c_str(), rollout.percent, rollout.previous.c_str(),
            rollout.release.c_str());
    g_releaseChosen = rollout.release;
    return ManifestFetch::Ok;
  }
  Manifest previous;
  ManifestFetch read = ReadBody(body, previous);
  if (read != ManifestFetch::Ok) return read;
  LogLine("Release %s reaches %u %% of installs, not this one yet: staying on %s", rollout.release.c_str(),
          rollout.percent, rollout.previous.c_str());
  manifest = std::move(previous);
  g_preload.clear();  // the next release is not this install's yet
  g_filesPath = ReleaseFilesPath(g_channel, rollout.previous);
  g_releaseChosen = rollout.previous;
  return ManifestFetch::Ok;
}

std::string Hex64(uint64_t value) { return Fmt("%016llx", static_cast<unsigned long long>(value)); }
}  // namespace

std::string InstallId() {
  CacheEntry entry;
  if (!FindCacheEntry(kInstallIdKey, entry)) {
    uint64_t random[2] = {0, 0};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(random), sizeof random,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      LogLine("Cannot draw an install id; this pass counts as outside every rollout");
      return std::string();
    }
    entry = CacheEntry{0, random[0], random[1]};
    StoreCacheEntry(kInstallIdKey, entry);
    SaveCache();
  }
  return Hex64(entry.size) + Hex64(entry.mtime);
}

ManifestFetch FetchReleaseManifest(Manifest& manifest) {
  g_filesPath = ChannelFilesPath(g_channel);
  g_rolloutPercent = 100;
  g_preload.clear();
  std::string body;
  if (!HttpGetText(ChannelManifestPath(g_channel), body)) return ManifestFetch::Failed;
  ManifestFetch read = ReadBody(body, manifest);
  if (read != ManifestFetch::Ok) return read;
  Rollout rollout;
  std::string reason;
  if (!ReadRollout(body, rollout, reason)) {
    LogRefusal(reason);
    manifest = Manifest();
    return ManifestFetch::Refused;
  }
  std::string preload;
  if (ReadPreload(body, preload, reason)) g_preload = preload;
  if (!rollout.present) {
    g_releaseChosen = Fmt("v%d", manifest.version);
    return ManifestFetch::Ok;
  }
  g_rolloutPercent = rollout.percent;
  std::string id = InstallId();
  if (!id.empty() && InRollout(rollout, id)) {
    LogLine("Release %s reaches %u %% of installs, this one among them", rollout.release.c_str(), rollout.percent);
    g_releaseChosen = rollout.release;
    return ManifestFetch::Ok;
  }
  return FetchPrevious(rollout, manifest);
}

std::string ContentFilesPath() { return g_filesPath; }

unsigned RolloutPercentSeen() { return g_rolloutPercent; }

std::string ReleaseChosen() { return g_releaseChosen; }

std::string PreloadAnnounced() { return g_preload; }

bool FetchKeptRelease(const std::string& release, Manifest& manifest) {
  std::string body;
  if (!HttpGetText(ReleaseManifestPath(g_channel, release), body)) return false;
  // Signed before the manifest that announces it, so its serial may be lower: it only fills
  // part files, which the pass checks against the release it makes live.
  return ReadBody(body, manifest, false) == ManifestFetch::Ok;
}
