// The delta plan; see delta_plan.h.
#include "update/delta_plan.h"

namespace {
void Append(std::vector<DeltaRun>& runs, const DeltaRun& run) {
  if (!runs.empty()) {
    DeltaRun& last = runs.back();
    bool follows = last.fetch == run.fetch && last.newOffset + last.length == run.newOffset &&
                   (run.fetch || last.oldOffset + last.length == run.oldOffset);
    if (follows) {
      last.length += run.length;
      return;
    }
  }
  runs.push_back(run);
}

std::vector<DeltaRun> BlockRuns(const BlockMap& map, const BlockScan& scan, uint64_t from) {
  std::vector<DeltaRun> runs;
  for (size_t i = 0; i < map.blocks.size(); i++) {
    uint64_t start = map.BlockStart(i), end = start + map.BlockLength(i);
    if (end <= from) continue;
    uint64_t skip = from > start ? from - start : 0;
    DeltaRun run;
    run.fetch = scan.oldOffset[i] == kNotFound;
    run.newOffset = start + skip;
    run.oldOffset = run.fetch ? 0 : scan.oldOffset[i] + skip;
    run.length = end - run.newOffset;
    Append(runs, run);
  }
  return runs;
}

// Copies shorter than mergeGap with a fetch on both sides join the fetches.
std::vector<DeltaRun> MergeShortGaps(const std::vector<DeltaRun>& runs, uint64_t mergeGap) {
  std::vector<DeltaRun> merged;
  for (size_t i = 0; i < runs.size(); i++) {
    DeltaRun run = runs[i];
    bool between = i > 0 && i + 1 < runs.size() && runs[i - 1].fetch && runs[i + 1].fetch;
    if (!run.fetch && between && run.length < mergeGap) {
      run.fetch = true;
      run.oldOffset = 0;
    }
    Append(merged, run);
  }
  return merged;
}
}  // namespace

DeltaPlan PlanDelta(const BlockMap& map, const BlockScan& scan, uint64_t from, uint64_t mergeGap) {
  DeltaPlan plan;
  plan.runs = MergeShortGaps(BlockRuns(map, scan, from), mergeGap);
  for (const DeltaRun& run : plan.runs) {
    (run.fetch ? plan.fetchBytes : plan.copyBytes) += run.length;
    if (run.fetch) plan.requests++;
  }
  return plan;
}
