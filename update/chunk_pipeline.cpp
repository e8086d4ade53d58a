// The ring of buffers between two threads; see chunk_pipeline.h.
#include "update/chunk_pipeline.h"

ChunkPipeline::ChunkPipeline(size_t buffers, size_t bufferSize, Consume consume, bool threaded)
    : bufferSize_(bufferSize),
      consume_(std::move(consume)),
      buffers_(threaded ? buffers : 1),
      sizes_(buffers_.size()) {
  for (auto& buffer : buffers_) buffer.reset(new unsigned char[bufferSize]);
  if (threaded) consumer_ = std::thread(&ChunkPipeline::Run, this);
}

ChunkPipeline::~ChunkPipeline() { Finish(); }

unsigned char* ChunkPipeline::NextBuffer() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return failed_ || filled_ < buffers_.size(); });
  if (failed_) return nullptr;
  return buffers_[(first_ + filled_) % buffers_.size()].get();
}

void ChunkPipeline::Submit(size_t size) {
  if (!consumer_.joinable()) {
    if (!failed_ && !consume_(buffers_[0].get(), size)) failed_ = true;
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  sizes_[(first_ + filled_) % buffers_.size()] = size;
  filled_++;
  changed_.notify_all();
}

bool ChunkPipeline::Finish() {
  if (consumer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing_ = true;
      changed_.notify_all();
    }
    consumer_.join();
  }
  return !failed_;
}

void ChunkPipeline::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return filled_ > 0 || finishing_; });
    if (filled_ == 0) return;
    const unsigned char* data = buffers_[first_].get();
    size_t size = sizes_[first_];
    bool consumed = false;
    if (!failed_) {
      lock.unlock();
      consumed = consume_(data, size);
      lock.lock();
    }
    if (!consumed) failed_ = true;
    first_ = (first_ + 1) % buffers_.size();
    filled_--;
    changed_.notify_all();
  }
}
