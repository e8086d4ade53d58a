// Channels and rollouts of the release tree; see release_channels.h.
#include "tools/kmcontent/release_channels.h"
#include "tools/kmcontent/release_key.h"
#include "tools/kmcontent/release_layout.h"
#include "core/text.h"
#include "update/release_channel.h"
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char kChannelsFolder[] = "channels";

const char kRolloutHelp[] =
    "kmcontent rollout: let the current release reach a share of the installs, or make a\n"
    "pre-loaded release live.\n"
    "\n"
    "  --release RELEASE  the tree written by publish\n"
    "  --channel NAME     the channel's current release instead of the live one\n"
    "  --percent N        0 to 100: installs whose cohort is below N take the current release,\n"
    "                     the others stay on the release before it; 100 ends the rollout\n"
    "  --live             make the release the current one announces for pre-loading\n"
    "                     (publish --preload) the current release\n"
    "  --sign KEYFILE     the private key; required when the release is signed (it is signed\n"
    "                     again with the next serial)\n"
    "\n"
    "Raising N keeps every install that had the release. Launchers built with a release key\n"
    "never go back when N is lowered; launchers without one follow N both ways.\n";

std::string ChannelPrefix(const std::string& channel) { return channel.empty() ? "" : "/channels/" + channel; }

fs::path TreeRootOf(const fs::path& tree, const std::string& channel) {
  return channel.empty() ? tree : tree.parent_path().parent_path();
}

uint64_t TreeLastSerial(const fs::path& root) {
  uint64_t last = release_layout::LastSerial(root);
  std::error_code ec;
  for (fs::directory_iterator it(root / kChannelsFolder, ec), end; !ec && it != end; it.increment(ec)) {
    last = std::max(last, release_layout::LastSerial(it->path()));
  }
  return last;
}

namespace {
constexpr char kSignaturePrefix[] = "signature ";
constexpr char kSerialPrefix[] = "serial ";
constexpr char kHashPrefix[] = "sha256 ";

bool ReadText(const fs::path& path, std::string& text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  bool ok = ferror(file) == 0;
  fclose(file);
  return ok;
}

// Written beside the manifest and renamed over it: a server reads the old text or the new.
bool ReplaceText(const fs::path& path, const std::string& text, std::string& error) {
  fs::path temporary = path.parent_path() / (".manifest.new-" + std::to_string(getpid()));
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path.string() + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

struct ManifestParts {
  std::string kept;  // every line but the rollout, serial, SHA-256 and signature lines
  std::vector<std::pair<std::string, Sha256Digest>> hashes;
  bool signedText = false;
  bool malformedHash = false;
};

bool HexDigest(const std::string& hex, Sha256Digest& digest) {
  if (hex.size() != 64) return false;
  for (size_t i = 0; i < 32; i++) {
    unsigned value = 0;
    if (sscanf(hex.substr(2 * i, 2).c_str(), "%2x", &value) != 1) return false;
    digest[i] = static_cast<uint8_t>(value);
  }
  return true;
}

// The manifest without its signature lines and the lines of the one kind being replaced
// (none when replaced is null).
ManifestParts SplitManifest(const std::string& text, const char* replaced) {
  ManifestParts parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    start = end;
    if (StartsWith(line, kSignaturePrefix)) {
      parts.signedText = true;
    } else if (StartsWith(line, kHashPrefix)) {
      std::string body = line.substr(strlen(kHashPrefix));
      while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
      Sha256Digest digest;
      size_t blank = body.find(' ');
      if (blank == std::string::npos || !HexDigest(body.substr(0, blank), digest)) parts.malformedHash = true;
      if (blank != std::string::npos) parts.hashes.emplace_back(body.substr(blank + 1), digest);
    } else if (!(replaced && StartsWith(line, replaced)) && !StartsWith(line, kSerialPrefix)) {
      parts.kept += line;
    }
  }
  if (!parts.kept.empty() && parts.kept.back() != '\n') parts.kept += '\n';
  return parts;
}

int Fail(const std::string& message, int code = 1) {
  fprintf(stderr, "kmcontent rollout: %s\n", message.c_str());
  return code;
}

// Where the others stay: the rollout line's release before, or the one before in history.
std::string PreviousOf(const std::string& text, const fs::path& tree) {
  Rollout rollout;
  std::string reason;
  if (ReadRollout(text, rollout, reason) && rollout.present) return rollout.previous;
  return release_layout::Previous(tree);
}

// Rewrites one kept release's manifest with the lines of prefix replaced by line, signing it
// again with the tree's next serial when it is signed.
bool RewriteManifest(const fs::path& root, const fs::path& tree, const std::string& release, const char* prefix,
                     const std::string& line, const std::string& signKeyFile, uint64_t& serial, std::string& error) {
  fs::path manifestPath = tree / "releases" / release / "manifest";
  std::string text;
  if (!ReadText(manifestPath, text)) return error = "cannot read " + manifestPath.string(), false;
  ManifestParts parts = SplitManifest(text, prefix);
  if (parts.signedText && signKeyFile.empty()) {
    return error = release + " is signed: give --sign KEYFILE to sign it again", false;
  }
  if (!parts.signedText && !signKeyFile.empty()) return error = release + " is not signed; leave out --sign", false;
  if (parts.malformedHash) return error = manifestPath.string() + " has a malformed SHA-256 line", false;
  std::string changed = parts.kept + line;
  serial = 0;
  if (parts.signedText) {
    SigningKey key;
    serial = TreeLastSerial(root) + 1;
    if (!key.Load(signKeyFile, error) || !SignManifest(changed, serial, parts.hashes, key, error) ||
        !release_layout::StoreSerial(tree, serial, error)) {
      return false;
    }
  }
  return ReplaceText(manifestPath, changed, error);
}

// Makes the release a preload line of the current manifest names the current one. A signed
// one is signed again first: the current manifest took newer serials while it announced it,
// and a keyed launcher takes no serial below one it has seen.
int GoLive(const fs::path& root, const fs::path& tree, const std::string& current, const std::string& text,
           const std::string& signKeyFile) {
  std::string next, reason;
  if (!ReadPreload(text, next, reason) || next.empty()) return Fail(current + " announces no pre-loaded release");
  std::string error;
  uint64_t serial = 0;
  if (!fs::exists(tree / "releases" / next / "manifest")) return Fail(next + " is not kept in " + tree.string());
  if (!RewriteManifest(root, tree, next, nullptr, "", signKeyFile, serial, error) ||
      !release_layout::AppendHistory(tree, next, error) || !release_layout::SwitchCurrent(tree, next, error)) {
    return Fail(error);
  }
  printf("%s is live (was %s)", next.c_str(), current.c_str());
  if (serial != 0) printf(" (signed again, serial %llu)", static_cast<unsigned long long>(serial));
  printf("\n");
  return 0;
}
}  // namespace

bool ReplaceLineOfCurrent(const fs::path& root, const fs::path& tree, const char* prefix, const std::string& line,
                          const std::string& signKeyFile, uint64_t& serial, std::string& error) {
  return RewriteManifest(root, tree, release_layout::Current(tree), prefix, line, signKeyFile, serial, error);
}

namespace {
int ChangeRollout(const RolloutRequest& request, const fs::path& root, const fs::path& tree) {
  std::string current = release_layout::Current(tree);
  std::string text;
  if (!ReadText(tree / "releases" / current / "manifest", text)) return Fail("cannot read the manifest of " + current);
  if (request.live) return GoLive(root, tree, current, text, request.signKeyFile);
  std::string previous = PreviousOf(text, tree);
  if (request.percent < 100 && previous.empty()) return Fail("no release before " + current + " is kept");
  std::string line;
  if (request.percent < 100) line = RolloutLine(Rollout{true, static_cast<unsigned>(request.percent), current, previous});
  std::string error;
  uint64_t serial = 0;
  if (!ReplaceLineOfCurrent(root, tree, kRolloutLinePrefix, line, request.signKeyFile, serial, error)) return Fail(error);
  if (request.percent < 100) {
    printf("%s reaches %d %% of installs; the others stay on %s", current.c_str(), request.percent, previous.c_str());
  } else {
    printf("%s reaches every install (rollout ended)", current.c_str());
  }
  if (serial != 0) printf(" (signed again, serial %llu)", static_cast<unsigned long long>(serial));
  printf("\n");
  return 0;
}
}  // namespace

int RunRollout(const RolloutRequest& request) {
  if (!request.channel.empty() && !IsChannelName(request.channel)) return Fail("--channel is not a channel name", 2);
  fs::path root(request.release);
  fs::path tree = request.channel.empty() ? root : root / kChannelsFolder / request.channel;
  if (!release_layout::IsLayered(tree)) return Fail(tree.string() + " holds no kept releases (publish into it first)");
  return ChangeRollout(request, root, tree);
}
