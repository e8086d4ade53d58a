// The room an update pass needs before its first download: part files count for what they
// hold, patched files for their whole size, plus a small reserve.
#include "update/disk_space.h"
#include "update/stretch_plan.h"
#include <gtest/gtest.h>

namespace {
constexpr uint64_t MB = 1048576;

PendingWrite Write(uint64_t size, uint64_t partSize = 0, bool patched = false) {
  PendingWrite write;
  write.size = size;
  write.partSize = partSize;
  write.patched = patched;
  return write;
}

TEST(DiskSpaceNeeded, SizesLessUsablePartFilesPlusTheReserve) {
  EXPECT_EQ(BytesStillToWrite({}), kDiskReserve);
  // The largest file counts once: 42 MB to write fit in 73 MB free, with one stretch more for
  // the side file a download over several connections joins.
  EXPECT_EQ(BytesStillToWrite({Write(40 * MB), Write(1 * MB), Write(1 * MB)}), 42 * MB + kStretchMax + kDiskReserve);
  EXPECT_EQ(BytesStillToWrite({Write(20 * MB), Write(1 * MB), Write(1 * MB)}), 22 * MB + kDiskReserve);
  // 40 MB of which 25 are in a part file: 15 to write, and 5 more.
  EXPECT_EQ(BytesStillToWrite({Write(40 * MB, 25 * MB), Write(5 * MB)}), 20 * MB + kStretchMax + kDiskReserve);
  // A complete part file (left by a failed move) needs nothing more.
  EXPECT_EQ(BytesStillToWrite({Write(8 * MB, 8 * MB), Write(2 * MB)}), 2 * MB + kDiskReserve);
}

TEST(DiskSpaceNeeded, PartFilesThatCannotBeResumedAndPatchedFilesCountWhole) {
  // Longer than the file: deleted, the download starts from zero (the room it frees is not
  // counted on).
  EXPECT_EQ(BytesStillToWrite({Write(4 * MB, 9 * MB)}), 4 * MB + kDiskReserve);
  // A patch writes the whole new file into its part file, whatever an old part held.
  EXPECT_EQ(BytesStillToWrite({Write(6 * MB, 2 * MB, true), Write(1 * MB)}), 7 * MB + kDiskReserve);
}

TEST(DiskSpaceNeeded, SizesNearTwoToThe64SaturateInsteadOfWrapping) {
  EXPECT_EQ(BytesStillToWrite({Write(UINT64_MAX - 2048), Write(4096)}), UINT64_MAX);
  EXPECT_EQ(BytesStillToWrite({Write(UINT64_MAX)}), UINT64_MAX);
}

TEST(DiskSpaceShortage, NamesBothFiguresAndTheDrive) {
  EXPECT_EQ(DiskSpaceShortage(42 * MB, "C:", 20 * MB),
            "The update needs 42.0 MB on C:, 20.0 MB are free. Free some space and press RETRY.");
  EXPECT_EQ(DiskSpaceShortage(3 * MB / 2, "\\\\server\\games", 0),
            "The update needs 1.5 MB on \\\\server\\games, 0.0 MB are free. Free some space and press RETRY.");
}
}  // namespace
