// Which downloads of an update pass may run ahead of it on more connections, and when. The
// pass still decides every file in its order; these rules make sure that a download run
// ahead is exactly the first one the pass would have made itself when it got there.
#pragma once
#include "core/base.h"
#include "update/manifest.h"

// For each entry of the update list (indices into files): true when its download may run
// ahead on another thread. It must be at most maxSize bytes, not be patchable (patchable[k]:
// the pass patches entry k from its old version itself), and no other entry of the list
// may name the same file, or a folder on its way, as Windows resolves names (letter case,
// trailing dots and blanks, "." parts), so that no two downloads touch one part file or
// folder. Non-ASCII letters are taken to match each other; a short name ("~") anywhere
// could alias any name, so it keeps the whole list in order.
std::vector<bool> AheadCandidates(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates,
                                  uint64_t maxSize, const std::vector<bool>& patchable);

// Where the pass stands with the mirror.
struct MirrorStanding {
  bool announced = false;  // the manifest names a mirror
  int failures = 0;        // files in a row the mirror failed, after the entries decided
  size_t decided = 0;      // entries of the update list whose mirror use is decided
  int failuresToTurnOff = 3;
  bool faltered = false;   // the mirror has failed a file in this pass
};

// The end of the entries (from standing.decided on) whose first call goes to a source already
// known whatever the pass decides before them: no mirror, the mirror turned off, or too few
// entries before that could fail it to turn it off. suppliedByMirror[i] is true when a
// download run ahead got entry i from the mirror: the pass will count no failure there.
size_t CertainSourceEnd(const MirrorStanding& standing, const std::vector<bool>& suppliedByMirror);

// True when downloads may also run ahead of the certain entries, from the mirror: it has
// supplied every file of this pass so far, at least as many as it takes failures to turn it
// off. Should it turn bad after all, the pass sets aside what ran ahead from the mirror for a
// file it then asks the content server for.
bool MirrorProven(const MirrorStanding& standing);

// That source for a certain entry: true for the mirror, false for the content server.
bool FirstSourceIsMirror(const MirrorStanding& standing);
