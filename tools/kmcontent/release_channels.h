// Channels and staged rollouts on the operator's side. A channel is a release tree of its own
// inside the live one (RELEASE/channels/NAME, the same layout), so publish, rollback and
// serve treat it like any tree and a static server serves it under /channels/NAME/. Serials
// are counted over the whole tree, so a launcher moved between channels never sees one
// repeat. `kmcontent rollout` changes the percentage of the current release's rollout line
// and signs the manifest again (with the next serial) when the release is signed.
#pragma once
#include "core/base.h"
#include <filesystem>

extern const char kChannelsFolder[];  // "channels"
extern const char kRolloutHelp[];

// "" for the live channel, "/channels/NAME" otherwise: the prefix of the channel's URLs.
std::string ChannelPrefix(const std::string& channel);

// The live tree a channel's tree (or the live tree itself) belongs to.
std::filesystem::path TreeRootOf(const std::filesystem::path& tree, const std::string& channel);

// The highest serial given anywhere in the tree, its channels included.
uint64_t TreeLastSerial(const std::filesystem::path& root);

struct RolloutRequest {
  std::string release;  // the live tree
  std::string channel;
  int percent = -1;
  bool live = false;  // make the pre-loaded release current instead
  std::string signKeyFile;
};

// Replaces the lines of one kind (prefix) of the tree's current manifest by line (empty:
// none), signing it again with the next serial when it is signed; false with the reason.
bool ReplaceLineOfCurrent(const std::filesystem::path& root, const std::filesystem::path& tree, const char* prefix,
                          const std::string& line, const std::string& signKeyFile, uint64_t& serial,
                          std::string& error);

// kmcontent rollout; exit code.
int RunRollout(const RolloutRequest& request);
