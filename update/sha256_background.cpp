// The background SHA-256; see sha256_background.h. One mutex guards the queue and the flags;
// the context itself is only touched by the thread, or by the caller once the thread is idle.
#include "update/sha256_background.h"
#include <algorithm>

BackgroundSha256::BackgroundSha256() {
  sha_init(&ctx_);
  thread_ = std::thread(&BackgroundSha256::Run, this);
}

BackgroundSha256::~BackgroundSha256() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundSha256::Add(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return queue_.size() < kMaxQueued; });
  std::vector<uint8_t> piece;
  if (!spare_.empty()) {
    piece = std::move(spare_.back());
    spare_.pop_back();
  }
  piece.assign(bytes, bytes + size);
  queue_.push_back(std::move(piece));
  hold.unlock();
  changed_.notify_all();
}

void BackgroundSha256::WaitUntilIdle(std::unique_lock<std::mutex>& hold) {
  changed_.wait(hold, [this] { return queue_.empty() && !hashing_; });
}

Sha256Digest BackgroundSha256::Finish() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitUntilIdle(hold);
  Sha256Digest digest;
  sha_end(&ctx_, digest.data());
  return digest;
}

void BackgroundSha256::Restart() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitUntilIdle(hold);
  sha_init(&ctx_);
}

void BackgroundSha256::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping with nothing left to hash
    std::vector<uint8_t> piece = std::move(queue_.front());
    queue_.pop_front();
    hashing_ = true;
    hold.unlock();
    changed_.notify_all();  // room in the queue
    sha_add(&ctx_, piece.data(), piece.size());
    hold.lock();
    hashing_ = false;
    spare_.push_back(std::move(piece));
    changed_.notify_all();
  }
}
