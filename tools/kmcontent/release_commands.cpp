// Rollback and the release report; see release_commands.h.
#include "tools/kmcontent/release_commands.h"
#include "tools/kmcontent/options.h"
#include "tools/kmcontent/release_layout.h"

const char kRollbackHelp[] =
    "kmcontent rollback: make an earlier kept release the current one.\n"
    "\n"
    "  --release RELEASE  the tree written by publish\n"
    "  --to NAME          the release to serve (as listed in RELEASE/history, e.g. v11);\n"
    "                     default: the one published before the current one\n"
    "\n"
    "The switch is one rename: a running server answers from the next request on.\n";

int RollBack(const std::string& release, const std::string& to) {
  namespace fs = std::filesystem;
  fs::path folder(release);
  if (!release_layout::IsLayered(folder)) {
    fprintf(stderr, "kmcontent rollback: %s holds no kept releases (publish into it first)\n", release.c_str());
    return 1;
  }
  std::string target = to.empty() ? release_layout::Previous(folder) : to;
  if (target.empty()) {
    fprintf(stderr, "kmcontent rollback: no release before %s is kept\n", release_layout::Current(folder).c_str());
    return 1;
  }
  if (target.find('/') != std::string::npos || target == "." || target == "..") {
    fprintf(stderr, "kmcontent rollback: %s is not a release name\n", target.c_str());
    return 2;
  }
  std::string before = release_layout::Current(folder);
  std::string error;
  if (!release_layout::SwitchCurrent(folder, target, error)) {
    fprintf(stderr, "kmcontent rollback: %s\n", error.c_str());
    return 1;
  }
  printf("%s now serves %s (was %s)\n", release.c_str(), target.c_str(), before.c_str());
  return 0;
}

void ReportReleases(const std::string& outDir, const PublishResult& result) {
  printf("%s release: %s/releases/%s (serial %llu)\n", result.preloaded ? "Pre-loaded (not live)" : "Current",
         outDir.c_str(), result.releaseName.c_str(), static_cast<unsigned long long>(result.serial));
  for (const std::string& path : result.staleStaging) {
    printf("Deleted %s, left by an interrupted publish\n", path.c_str());
  }
  for (const std::string& name : result.removed) printf("Deleted the earlier release %s\n", name.c_str());
  for (const std::string& problem : result.problems) fprintf(stderr, "kmcontent publish: %s\n", problem.c_str());
}

bool ParseKeepCount(const std::string& text, unsigned& keep) {
  if (text == "0") {
    keep = 0;
    return true;
  }
  return ParseCount(text, 100, keep);
}
