// The one-pass-at-a-time flag and its release rules.
#include "core/worker_flags.h"
#include <gtest/gtest.h>
#include <thread>

class WorkerFlags : public ::testing::Test {
 protected:
  void SetUp() override { g_workerRunning.store(0); }
};

TEST_F(WorkerFlags, SecondClaimWhileAPassRunsIsRefused) {
  EXPECT_TRUE(ClaimUpdateFlag());
  EXPECT_FALSE(ClaimUpdateFlag());
  EXPECT_EQ(g_workerRunning.load(), 1);
}

TEST_F(WorkerFlags, OldWorkerDoesNotClearANewerPassesFlag) {
  ASSERT_TRUE(ClaimUpdateFlag());
  std::thread oldWorker([] {
    ReleaseUpdateFlagFromPass();        // final phase published
    EXPECT_TRUE(ClaimUpdateFlag());     // RETRY starts the next pass meanwhile
    FinishUpdateWorker();               // the old worker returns
  });
  oldWorker.join();
  EXPECT_EQ(g_workerRunning.load(), 1);
  EXPECT_FALSE(ClaimUpdateFlag());
}

TEST_F(WorkerFlags, WorkerClearsTheFlagWhenItsPassEndedWithoutFinalPhase) {
  ASSERT_TRUE(ClaimUpdateFlag());
  std::thread worker([] { FinishUpdateWorker(); });  // a pass ended by g_quit
  worker.join();
  EXPECT_EQ(g_workerRunning.load(), 0);
}

TEST_F(WorkerFlags, ReleaseByOnePassDoesNotLeakIntoTheNextWorkerOnTheSameThread) {
  ASSERT_TRUE(ClaimUpdateFlag());
  ReleaseUpdateFlagFromPass();
  FinishUpdateWorker();
  ASSERT_TRUE(ClaimUpdateFlag());
  FinishUpdateWorker();  // this pass did not release: the worker must
  EXPECT_EQ(g_workerRunning.load(), 0);
}
