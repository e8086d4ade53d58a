// The body loop; see body_loop_win.h.
#include "update/body_loop_win.h"
#include "update/chunk_pipeline.h"
#include <algorithm>

namespace {
constexpr DWORD kTransferBuffer = 262144;
// Longer transfers write and hash on a second thread while the next pieces arrive, read in
// larger pieces: under Wine every network read costs a round trip to the Wine server.
// Chosen with bench/download_vs_curl.py; the ring stays a few MiB whatever the file size.
constexpr DWORD kOverlapPiece = 1u << 20;
constexpr size_t kOverlapBuffers = 4;
constexpr DWORD kReportEveryMs = 100;
}  // namespace

BodyEnd ReceiveBody(AnswerBody& body, uint64_t from, const BodyTarget& target, bool overlap, uint64_t& received) {
  uint64_t remaining = target.end() - from;
  // A small file's buffer is its size: one byte more still shows a body longer than the file.
  size_t size = overlap ? kOverlapPiece : static_cast<size_t>(std::min<uint64_t>(kTransferBuffer, remaining + 1));
  ChunkPipeline pipeline(kOverlapBuffers, size, target.write, overlap);
  DWORD lastReport = 0;
  bool reported = false;
  received = from;
  BodyEnd end = BodyEnd::Reached;
  for (;;) {
    uint64_t wanted = target.end();
    if (received >= wanted) break;
    if (target.stopping()) {
      end = BodyEnd::Stopped;
      break;
    }
    unsigned char* buffer = pipeline.NextBuffer();
    DWORD ask = static_cast<DWORD>(target.clip ? std::min<uint64_t>(pipeline.BufferSize(), wanted - received)
                                               : pipeline.BufferSize());
    DWORD got = 0;
    if (!buffer || !body.Read(buffer, ask, got)) {
      end = BodyEnd::Failed;
      break;
    }
    if (got == 0) {
      end = BodyEnd::Ended;
      break;
    }
    pipeline.Submit(got);
    received += got;
    if (target.advanced) target.advanced(received);
    DWORD now = GetTickCount();
    if (target.report && (!reported || static_cast<DWORD>(now - lastReport) > kReportEveryMs)) {
      target.report(received);
      lastReport = now;
      reported = true;
    }
  }
  if (!pipeline.Finish() && end != BodyEnd::Stopped) end = BodyEnd::Failed;
  return end;
}
