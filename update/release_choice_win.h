// Which release this install follows: the manifest of its channel (Channel= in
// KMLauncher.cfg, live without one), and within a staged rollout either the newest release or
// the one before it, by the install's cohort (update/release_channel.h).
//
// A manifest of another channel is refused, so a beta cannot be served as live or back. A
// keyed launcher never goes below a release it installed: when a lowered percentage leaves it
// out, it keeps the newest. Launchers without a key follow the percentage both ways.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

enum class ManifestFetch { Ok, Failed, Refused };

// Fetches, checks and parses the manifest to follow; Refused is logged with the reason.
ManifestFetch FetchReleaseManifest(Manifest& manifest);

// The content server's base for the files of the release the last fetch chose ("/files/"
// for the live channel's current release). Update worker only.
std::string ContentFilesPath();

// The install's random id (32 hex digits), drawn once and kept in the file-state cache under
// a key no manifest path can take. Update worker only.
std::string InstallId();

// The name of the release the last successful fetch chose ("v" + version without a rollout
// line), for the outcome report; empty before any.
std::string ReleaseChosen();

// The release the last fetch's manifest announces for pre-loading (empty: none, or the
// install follows the release before a rollout).
std::string PreloadAnnounced();

// The manifest of a kept release of the channel, to pre-load: its signature and channel
// checked, not its serial; false when it cannot be fetched or is refused (logged).
bool FetchKeptRelease(const std::string& release, Manifest& manifest);

// The rollout percentage of the release the last fetch found (100 without a rollout), for
// the outcome report.
unsigned RolloutPercentSeen();
