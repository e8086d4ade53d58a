// The phases of the launcher's status record. Portable, so that window arithmetic and its
// tests name them too; the numbers are the ones the status trace writes.
#pragma once
#include <cstdint>

enum Phase : int32_t {
  Connecting = 0,
  Checking = 1,
  Updating = 2,
  Ready = 3,
  UpdateFailed = 4,
  Offline = 5,
  NotInstalled = 6,
  Installing = 7,
};
