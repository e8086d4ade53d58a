// kmcontent, the operators' content tool: "publish" turns a game build into a release tree
// (manifest + files/), "serve" serves such a tree to the launcher and creates accounts.
#include "tools/kmcontent/options.h"
#include "tools/kmcontent/publish.h"
#include "tools/kmcontent/release_channels.h"
#include "tools/kmcontent/release_commands.h"
#include "tools/kmcontent/release_key.h"
#include "tools/kmcontent/serve.h"
#include "tools/kmcontent/serve_options.h"
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: kmcontent publish --build DIR --out RELEASE --version N [options]\n"
    "       kmcontent serve --release RELEASE [options]\n"
    "       kmcontent rollback --release RELEASE [--to NAME]\n"
    "       kmcontent rollout --release RELEASE (--percent N | --live) [--channel NAME] [--sign KEYFILE]\n"
    "       kmcontent keygen --out DIR\n"
    "       kmcontent help [publish|serve|rollback|rollout|keygen]\n";

const char kPublishHelp[] =
    "kmcontent publish: write a release tree from a game build folder.\n"
    "\n"
    "  --build DIR        the game folder as players should have it\n"
    "  --out RELEASE      the release tree to write: RELEASE/manifest and RELEASE/files/\n"
    "                     (replaced whole and at once; must be absent, empty or a release)\n"
    "  --version N        content version, a whole number\n"
    "  --name TEXT        release name shown by the launcher\n"
    "  --notes FILE       text file, one \"What's new\" line per line (at most 1000)\n"
    "  --mirror URL       base URL of a copy of RELEASE/files/ (http://, https:// or /path)\n"
    "  --gameserver ADDR  game server address written into the client's coinit.tmp\n"
    "  --jobs N           copying threads (default: one per CPU)\n"
    "  --dry-run          check and hash only, print the manifest, write nothing\n"
    "  --keep N           earlier releases kept for updates in flight (default 2)\n"
    "  --block-maps-from MIB  files of at least this size get a block map, so launchers\n"
    "                     holding an older version fetch only changed blocks (default 4; 0: none)\n"
    "  --no-packed        write no packed forms (by default every file of at least 16 KiB that\n"
    "                     zlib shrinks to 95 % or less gets FILE.kmpack, which launchers fetch\n"
    "                     instead, inflating it; a dry run lists none)\n"
    "  --sign KEYFILE     sign the release with this private key (from kmcontent keygen)\n"
    "  --channel NAME     publish into the channel NAME (RELEASE/channels/NAME, served under\n"
    "                     /channels/NAME/); launchers with Channel=NAME follow it\n"
    "  --percent N        a staged rollout: the new release reaches N % of installs, the\n"
    "                     others stay on the release before it (kmcontent rollout changes N)\n"
    "  --preload          put the release in place and announce it for pre-loading without\n"
    "                     making it live (then: kmcontent rollout --release RELEASE --live)\n"
    "\n"
    "Each release is kept under RELEASE/releases/vN; without --mirror the manifest points the\n"
    "launcher at /releases/vN/files, which never changes while it is kept.\n"
    "\n"
    "Refuses, and writes nothing, when a path is one the launcher would refuse or mishandle:\n"
    "unsafe paths, the player's own files (*.log, *.tmp, *.part, coinit.tmp, KMLauncher.cfg ...),\n"
    "names Windows cannot hold, paths differing only in letter case, paths over 200 bytes.\n";

const char kKeygenHelp[] =
    "kmcontent keygen: make a release key pair for signed releases.\n"
    "\n"
    "  --out DIR          writes DIR/release.key (private, mode 0600) and DIR/release.pub\n"
    "                     (DIR is created with mode 0700 when missing)\n"
    "                     (the line to build the launcher with); never overwrites either\n"
    "\n"
    "Keep release.key off the content server; sign with kmcontent publish --sign.\n";

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 2, argv + argc); }

int Refuse(const char* command, const std::string& message) {
  fprintf(stderr, "kmcontent %s: %s\n(see kmcontent help %s)\n", command, message.c_str(), command);
  return 2;
}

std::string Value(const OptionValues& values, const char* name) {
  auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

void ShowProgress(const PublishProgress& p) {
  double mib = 1024.0 * 1024.0;
  fprintf(stderr, "\r  %zu of %zu files, %.1f of %.1f MiB   ", p.filesDone, p.filesTotal, p.bytesDone / mib,
          p.bytesTotal / mib);
  fflush(stderr);
}

bool ParseBlockMapsFrom(const std::string& text, PublishOptions& options) {
  unsigned mib = 0;
  if (text != "0" && !ParseCount(text, 1u << 20, mib)) return false;
  options.blockMapsFrom = uint64_t(mib) << 20;
  return true;
}

int RunPublishCommand(int argc, char** argv) {
  OptionValues values;
  std::string error;
  const std::vector<OptionDef> known = {{"build", true}, {"out", true},        {"version", true},
                                         {"name", true},  {"notes", true},      {"mirror", true},
                                         {"gameserver", true}, {"jobs", true}, {"dry-run", false},
                                         {"sign", true}, {"help", false}, {"keep", true},
                                         {"block-maps-from", true}, {"channel", true}, {"percent", true},
                                         {"preload", false}, {"no-packed", false}};
  if (!ParseOptions(Arguments(argc, argv), known, values, error)) return Refuse("publish", error);
  if (values.count("help") != 0) return fputs(kPublishHelp, stdout), 0;
  for (const char* required : {"build", "out", "version"}) {
    bool needed = values.count("dry-run") == 0 || strcmp(required, "out") != 0;
    if (needed && values.count(required) == 0) return Refuse("publish", std::string("--") + required + " is required");
  }
  PublishOptions options;
  options.buildDir = Value(values, "build");
  options.outDir = Value(values, "out");
  options.info.version = Value(values, "version");
  options.info.name = Value(values, "name");
  options.info.mirror = Value(values, "mirror");
  options.info.gameServer = Value(values, "gameserver");
  options.notesFile = Value(values, "notes");
  if (values.count("jobs") != 0 && !ParseCount(Value(values, "jobs"), 256, options.jobs)) {
    return Refuse("publish", "--jobs must be a number from 1 to 256");
  }
  options.dryRun = values.count("dry-run") != 0;
  if (values.count("keep") != 0 && !ParseKeepCount(Value(values, "keep"), options.keep)) {
    return Refuse("publish", "--keep must be a number from 0 to 100");
  }
  if (values.count("block-maps-from") != 0 && !ParseBlockMapsFrom(Value(values, "block-maps-from"), options)) {
    return Refuse("publish", "--block-maps-from must be a number of MiB from 0 to 1048576");
  }
  options.packed = values.count("no-packed") == 0;
  options.signKeyFile = Value(values, "sign");
  options.channel = Value(values, "channel");
  options.preload = values.count("preload") != 0;
  unsigned percent = 0;
  if (values.count("percent") != 0) {
    if (Value(values, "percent") != "0" && !ParseCount(Value(values, "percent"), 100, percent)) {
      return Refuse("publish", "--percent must be a number from 0 to 100");
    }
    options.percent = static_cast<int>(percent);
  }
  bool terminal = isatty(STDERR_FILENO) != 0;
  PublishResult result = Publish(options, terminal ? PublishProgressFn(ShowProgress) : PublishProgressFn());
  if (terminal && result.files > 0) fputc('\n', stderr);
  if (!result.ok) {
    fprintf(stderr, "kmcontent publish: nothing was published:\n");
    for (const std::string& problem : result.problems) fprintf(stderr, "  %s\n", problem.c_str());
    return 1;
  }
  double mb = result.bytes / 1e6;
  if (options.dryRun) {
    fputs(result.manifest.c_str(), stdout);
    fprintf(stderr, "Checked %zu files, %.1f MB (%.2f s, %.0f MB/s); nothing written\n", result.files, mb,
            result.seconds, result.seconds > 0 ? mb / result.seconds : 0.0);
    return 0;
  }
  printf("Published version %s: %zu files, %.1f MB into %s (%.2f s, %.0f MB/s)\n", options.info.version.c_str(),
         result.files, mb, options.outDir.c_str(), result.seconds, result.seconds > 0 ? mb / result.seconds : 0.0);
  ReportReleases(options.outDir, result);
  if (result.linked > 0) {
    printf("Shared %zu unchanged files (%.1f MB) with the release before (hard links)\n", result.linked,
           result.linkedBytes / 1e6);
  }
  return 0;
}

int RunRolloutCommand(int argc, char** argv) {
  OptionValues values;
  std::string error;
  const std::vector<OptionDef> known = {
      {"release", true}, {"channel", true}, {"percent", true}, {"live", false}, {"sign", true}, {"help", false}};
  if (!ParseOptions(Arguments(argc, argv), known, values, error)) return Refuse("rollout", error);
  if (values.count("help") != 0) return fputs(kRolloutHelp, stdout), 0;
  if (values.count("release") == 0) return Refuse("rollout", "--release is required");
  bool live = values.count("live") != 0;
  if ((values.count("percent") == 0) == !live) return Refuse("rollout", "give --percent N or --live");
  unsigned percent = 100;
  if (!live && Value(values, "percent") != "0" && !ParseCount(Value(values, "percent"), 100, percent)) {
    return Refuse("rollout", "--percent must be a number from 0 to 100");
  }
  RolloutRequest request;
  request.release = Value(values, "release");
  request.channel = Value(values, "channel");
  request.percent = live || Value(values, "percent") != "0" ? static_cast<int>(percent) : 0;
  request.live = live;
  request.signKeyFile = Value(values, "sign");
  return RunRollout(request);
}

int RunRollbackCommand(int argc, char** argv) {
  OptionValues values;
  std::string error;
  if (!ParseOptions(Arguments(argc, argv), {{"release", true}, {"to", true}, {"help", false}}, values, error)) {
    return Refuse("rollback", error);
  }
  if (values.count("help") != 0) return fputs(kRollbackHelp, stdout), 0;
  if (values.count("release") == 0) return Refuse("rollback", "--release is required");
  return RollBack(Value(values, "release"), Value(values, "to"));
}

int RunServeCommand(int argc, char** argv) {
  OptionValues values;
  std::string error;
  if (!ParseOptions(Arguments(argc, argv), kServeOptionDefs, values, error)) return Refuse("serve", error);
  if (values.count("help") != 0) return fputs(kServeHelp, stdout), 0;
  ServeOptions options;
  if (!ServeOptionsFromValues(values, options, error)) return Refuse("serve", error);
  return RunServe(options);
}

int RunKeygenCommand(int argc, char** argv) {
  OptionValues values;
  std::string error;
  const std::vector<OptionDef> known = {{"out", true}, {"help", false}};
  if (!ParseOptions(Arguments(argc, argv), known, values, error)) return Refuse("keygen", error);
  if (values.count("help") != 0) return fputs(kKeygenHelp, stdout), 0;
  if (values.count("out") == 0) return Refuse("keygen", "--out is required");
  std::string dir = Value(values, "out");
  // A folder made here is the owner's alone: it is about to hold the private key.
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    fprintf(stderr, "kmcontent keygen: cannot create %s: %s\n", dir.c_str(), strerror(errno));
    return 1;
  }
  if (!GenerateReleaseKey(dir, error)) {
    fprintf(stderr, "kmcontent keygen: %s\n", error.c_str());
    return 1;
  }
  printf("Wrote %s/release.key (keep it secret, off the content server) and %s/release.pub\n", dir.c_str(),
         dir.c_str());
  return 0;
}

int Help(int argc, char** argv) {
  std::string topic = argc > 2 ? argv[2] : "";
  if (topic == "publish") return fputs(kPublishHelp, stdout), 0;
  if (topic == "serve") return fputs(kServeHelp, stdout), 0;
  if (topic == "rollback") return fputs(kRollbackHelp, stdout), 0;
  if (topic == "keygen") return fputs(kKeygenHelp, stdout), 0;
  if (topic == "rollout") return fputs(kRolloutHelp, stdout), 0;
  printf("%s\n%s\n%s\n%s\n%s\n%s", kUsage, kPublishHelp, kServeHelp, kRollbackHelp, kRolloutHelp, kKeygenHelp);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "publish") return RunPublishCommand(argc, argv);
  if (command == "serve") return RunServeCommand(argc, argv);
  if (command == "rollback") return RunRollbackCommand(argc, argv);
  if (command == "rollout") return RunRolloutCommand(argc, argv);
  if (command == "keygen") return RunKeygenCommand(argc, argv);
  if (command == "help" || command == "--help" || command == "-h") return Help(argc, argv);
  fputs(kUsage, stderr);
  return 2;
}
