// The ring of buffers between a producer and a consumer thread: order, a failing consumer,
// and the same behaviour without a thread.
#include "update/chunk_pipeline.h"
#include <gtest/gtest.h>

namespace {
// Sends count chunks, chunk i holding size i % 7 + 1 bytes of value i; returns Finish().
bool Produce(ChunkPipeline& pipeline, int count, int* handedOver = nullptr) {
  for (int i = 0; i < count; i++) {
    unsigned char* buffer = pipeline.NextBuffer();
    if (!buffer) break;
    size_t size = i % 7 + 1;
    memset(buffer, i & 0xFF, size);
    pipeline.Submit(size);
    if (handedOver) (*handedOver)++;
  }
  return pipeline.Finish();
}

std::string Expected(int count) {
  std::string bytes;
  for (int i = 0; i < count; i++) bytes.append(i % 7 + 1, static_cast<char>(i & 0xFF));
  return bytes;
}
}  // namespace

TEST(ChunkPipeline, EveryChunkArrivesWholeAndInOrderWithAndWithoutAThread) {
  for (bool threaded : {true, false}) {
    std::string received;
    ChunkPipeline pipeline(3, 16, [&](const unsigned char* data, size_t size) {
      received.append(reinterpret_cast<const char*>(data), size);
      return true;
    }, threaded);
    EXPECT_TRUE(Produce(pipeline, 1000));
    EXPECT_EQ(received, Expected(1000)) << "threaded " << threaded;
  }
}

TEST(ChunkPipeline, AFailedChunkStopsTheConsumerAndTheProducerLearnsOfIt) {
  for (bool threaded : {true, false}) {
    std::string received;
    int calls = 0;
    ChunkPipeline pipeline(2, 16, [&](const unsigned char* data, size_t size) {
      if (++calls == 5) return false;
      received.append(reinterpret_cast<const char*>(data), size);
      return true;
    }, threaded);
    int handedOver = 0;
    EXPECT_FALSE(Produce(pipeline, 1000, &handedOver));
    EXPECT_EQ(calls, 5) << "no chunk after the failed one is consumed";
    EXPECT_EQ(received, Expected(4));
    // The producer stops within the ring's reach of the failure.
    EXPECT_LE(handedOver, 5 + 2);
    EXPECT_EQ(pipeline.NextBuffer(), nullptr);
  }
}
