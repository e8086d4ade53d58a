// SHA-256 of a byte stream computed on a thread of its own, so that hashing a download
// overlaps with receiving and writing it instead of adding to its time. Add copies the bytes
// into a queue of at most kMaxQueued pieces (waiting while it is full); Finish waits until
// every piece is hashed and returns the digest.
#pragma once
#include "core/base.h"
#include "core/sha256.h"
#include "update/release_signature.h"
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class BackgroundSha256 {
 public:
  static constexpr size_t kMaxQueued = 4;

  BackgroundSha256();
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  void Add(const void* data, size_t size);
  Sha256Digest Finish();
  void Restart();  // forgets every byte added so far

 private:
  void Run();
  void WaitUntilIdle(std::unique_lock<std::mutex>& hold);

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<std::vector<uint8_t>> spare_;  // emptied pieces, kept to spare allocations
  bool hashing_ = false;                     // the thread holds a piece outside the queue
  bool stop_ = false;
  sha_ctx ctx_;                              // the thread's alone while a piece is queued or held
  std::thread thread_;
};
