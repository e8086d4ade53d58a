// Fetching through packed forms; see packed_download_win.h.
#include "update/packed_download_win.h"
#include "core/text.h"
#include "update/body_loop_win.h"
#include "update/http_win.h"
#include "update/packed_form.h"
#include <atomic>

namespace {
// A request for the packed form, closed when it goes out of scope.
struct PackedRequest {
  HINTERNET handle = nullptr;
  DWORD status = 0;
  PackedRequest(const std::string& url, const std::string& headers) { handle = OpenUrl(url, headers, status); }
  ~PackedRequest() {
    if (handle) InternetCloseHandle(handle);
  }
  PackedRequest(const PackedRequest&) = delete;
  PackedRequest& operator=(const PackedRequest&) = delete;
};

// The header and index, by a range request for exactly their bytes (a server that ignores
// the range sends them first all the same).
PackedEnd FetchIndex(PackedTransfer& transfer, PackedIndex& index) {
  uint64_t size = PackedHeaderSize(transfer.file.size);
  if (size > (64u << 20)) return PackedEnd::NotServed;
  PackedRequest request(transfer.url, Fmt("Range: bytes=0-%llu\r\n", static_cast<unsigned long long>(size - 1)));
  if (!request.handle) return PackedEnd::Failed;
  if (request.status != 206 && request.status != 200) return PackedEnd::NotServed;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  InternetBody body(request.handle);
  for (size_t have = 0; have < bytes.size();) {
    if (transfer.stopping()) return PackedEnd::Stopped;
    DWORD got = 0;
    if (!body.Read(bytes.data() + have, static_cast<DWORD>(std::min<size_t>(bytes.size() - have, 1u << 20)), got) ||
        got == 0) {
      return PackedEnd::Failed;
    }
    have += got;
  }
  if (!ParsePackedHeader(bytes.data(), bytes.size(), transfer.file.size, index, transfer.why)) return PackedEnd::Damaged;
  return PackedEnd::Complete;
}

// Streams the answer through the inflater into the part file, from the packed byte from on.
PackedEnd Inflate(PackedTransfer& transfer, AnswerBody& body, BlockInflater& inflater, std::atomic<uint64_t>& held,
                  uint64_t from) {
  const RemoteFile& file = transfer.file;
  BodyTarget target;
  target.write = [&inflater](const unsigned char* data, size_t size) { return inflater.Feed(data, size); };
  target.stopping = transfer.stopping;
  // Until the header is known, no packed form of the file can be longer than this.
  uint64_t bound = PackedHeaderSize(file.size) + file.size;
  target.end = [&inflater, bound] {
    uint64_t end = inflater.PackedEnd();
    return end ? end : bound;
  };
  target.report = [&transfer, &held](uint64_t) {
    if (transfer.report) transfer.report(held.load());
  };
  uint64_t received = 0;
  BodyEnd end = ReceiveBody(body, from, target, transfer.overlap, received);
  if (inflater.Damaged()) {
    transfer.why = inflater.Why();
    return PackedEnd::Damaged;
  }
  if (end == BodyEnd::Stopped) return PackedEnd::Stopped;
  if (inflater.Complete() && transfer.part.Size() == file.size) {
    // A body that went on past the last block is no packed form of this file.
    if (received > inflater.PackedEnd()) {
      transfer.why = "bytes after the last block";
      return PackedEnd::Damaged;
    }
    return PackedEnd::Complete;
  }
  return PackedEnd::Failed;
}
}  // namespace

PackedEnd FetchPackedForm(PackedTransfer& transfer) {
  PartFile& part = transfer.part;
  std::atomic<uint64_t> held{part.Size()};
  auto append = [&part, &held](const uint8_t* data, size_t size) {
    if (!part.Append(data, size)) return false;
    held = part.Size();
    return true;
  };
  BlockInflater inflater(transfer.file.size, append);
  uint64_t from = 0;
  std::string range;
  if (part.Size() > 0) {
    PackedIndex index;
    PackedEnd indexed = FetchIndex(transfer, index);
    if (indexed != PackedEnd::Complete) return indexed;
    size_t block = static_cast<size_t>(part.Size() / kPackedBlockSize);
    inflater.StartAt(index, block, static_cast<uint32_t>(part.Size() - uint64_t(block) * kPackedBlockSize));
    from = index.offsets[block];
    range = Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(from));
  }
  PackedRequest request(transfer.url, range);
  if (!request.handle) return PackedEnd::Failed;
  if (request.status == 200 && from > 0) {
    // The range was ignored: the whole packed form comes, and the part file starts again.
    part.Restart();
    if (!part.OpenForWriting()) return PackedEnd::Failed;
    held = 0;
    inflater = BlockInflater(transfer.file.size, append);
    from = 0;
  } else if (request.status != (from > 0 ? 206 : 200)) {
    return PackedEnd::NotServed;
  }
  InternetBody body(request.handle);
  return Inflate(transfer, body, inflater, held, from);
}
