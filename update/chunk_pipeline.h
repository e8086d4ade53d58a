// A fixed ring of buffers between a producer and a consumer thread: the producer fills one
// buffer while the consumer works through those filled before, in the order they were
// filled. Memory is the ring alone, however many bytes pass through. Without a thread the
// consumer runs inside Submit, for transfers too short to pay for one.
#pragma once
#include "core/base.h"
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ChunkPipeline {
 public:
  // Takes one chunk; false stops the consumer, and the chunks after it are dropped.
  using Consume = std::function<bool(const unsigned char* data, size_t size)>;

  ChunkPipeline(size_t buffers, size_t bufferSize, Consume consume, bool threaded);
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  size_t BufferSize() const { return bufferSize_; }

  // A free buffer of BufferSize() bytes, after waiting while every buffer is filled; null
  // once the consumer has failed.
  unsigned char* NextBuffer();

  // Hands the buffer NextBuffer gave, now holding size bytes, to the consumer.
  void Submit(size_t size);

  // Waits until the consumer has taken every chunk handed over; false when it failed one.
  bool Finish();

 private:
  void Run();

  size_t bufferSize_;
  Consume consume_;
  std::vector<std::unique_ptr<unsigned char[]>> buffers_;  // left uninitialised: never read before filled
  std::vector<size_t> sizes_;
  size_t first_ = 0;   // the oldest filled buffer
  size_t filled_ = 0;  // buffers filled and not yet consumed
  bool failed_ = false;
  bool finishing_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread consumer_;
};
