// Fetching through packed forms; see packed_download_win.h.
#include "update/packed_download_win.h"
#include "core/log.h"
#include "core/percent_encode.h"
#include "core/text.h"
#include "update/body_loop_win.h"
#include "update/http_win.h"
#include "update/packed_form.h"
#include "update/split_download_win.h"
#include <atomic>
#include <map>
#include <set>

namespace {
SRWLOCK g_refusedLock = SRWLOCK_INIT;
std::set<std::string> g_refused;  // lower-case paths whose packed form failed in this run

// A source that lacks this many packed forms in a row is not asked for more.
constexpr int kMissingToStopAsking = 3;
std::set<std::string> g_missingAt;  // source + lower-case path of packed forms not served
std::map<std::string, int> g_missingInARow;  // by source

// What fileUrl is beside file's own part: the source's base for its files.
std::string SourceOf(const RemoteFile& file, const std::string& fileUrl) {
  std::string own = UrlEncodePath(file.path);
  bool ends = fileUrl.size() >= own.size() && fileUrl.compare(fileUrl.size() - own.size(), own.size(), own) == 0;
  return ends ? fileUrl.substr(0, fileUrl.size() - own.size()) : fileUrl;
}

// A request for the packed form, closed when it goes out of scope.
struct PackedRequest {
  HINTERNET handle = nullptr;
  DWORD status = 0;
  PackedRequest() = default;
  PackedRequest(const std::string& url, const std::string& headers) { Open(url, headers); }
  void Open(const std::string& url, const std::string& headers) {
    Close();
    handle = OpenUrl(url, headers, status);
  }
  ~PackedRequest() { Close(); }
  void Close() {
    if (handle) InternetCloseHandle(handle);
    handle = nullptr;
  }
  PackedRequest(const PackedRequest&) = delete;
  PackedRequest& operator=(const PackedRequest&) = delete;
};

// Reads the header and index from the answer to a range request for exactly their bytes.
PackedEnd ReadIndex(PackedTransfer& transfer, PackedRequest& request, PackedIndex& index) {
  std::vector<uint8_t> bytes(static_cast<size_t>(PackedHeaderSize(transfer.file.size)));
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

// Whether a 206 answer's Content-Range is exactly "bytes first-last/total".
bool RangeAnswered(HINTERNET request, uint64_t first, uint64_t last, uint64_t total) {
  char text[96] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr)) return false;
  return std::string(text, size) == Fmt("bytes %llu-%llu/%llu", static_cast<unsigned long long>(first),
                                        static_cast<unsigned long long>(last), static_cast<unsigned long long>(total));
}

// Whether the answer says the packed form is as long as its index makes it: a Content-Length
// of a 200 answer, or the total of a 206's Content-Range. An answer that says nothing passes
// (the body's end and the CRC-32 of the whole still decide).
bool DeclaresPackedSize(HINTERNET request, DWORD status, uint64_t packedSize) {
  char text[128] = {};
  DWORD size = sizeof text - 1;
  DWORD query = status == 200 ? HTTP_QUERY_CONTENT_LENGTH : HTTP_QUERY_CONTENT_RANGE;
  if (!HttpQueryInfoA(request, query, text, &size, nullptr)) return true;
  std::string value(text, size);
  if (status != 200) {
    size_t slash = value.rfind('/');
    if (slash == std::string::npos || value.compare(slash + 1, std::string::npos, "*") == 0) return true;
    value = value.substr(slash + 1);
  }
  return value == std::to_string(packedSize);
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

// Inflates the answer to request into the part file from the packed byte from on and checks
// that the answer was exactly the packed form's rest.
PackedEnd Take(PackedTransfer& transfer, PackedRequest& request, BlockInflater& inflater, std::atomic<uint64_t>& held,
               uint64_t from) {
  InternetBody body(request.handle);
  PackedEnd end = Inflate(transfer, body, inflater, held, from);
  if (end == PackedEnd::Complete && !DeclaresPackedSize(request.handle, request.status, inflater.PackedEnd())) {
    transfer.why = "the server's answer is longer or shorter than its index";
    return PackedEnd::Damaged;
  }
  return end;
}

// The header and index by a range request for their bytes: Complete with index, NotServed
// for a server that does not answer the range with 206 (the request then stays open with
// its answer for the caller), or how it failed.
PackedEnd FetchIndex(PackedTransfer& transfer, PackedRequest& request, PackedIndex& index) {
  uint64_t headerSize = PackedHeaderSize(transfer.file.size);
  if (headerSize > (64u << 20)) return PackedEnd::Damaged;  // no file the manifest can list has one so long
  request.Open(transfer.url, Fmt("Range: bytes=0-%llu\r\n", static_cast<unsigned long long>(headerSize - 1)));
  if (!request.handle) return PackedEnd::Failed;
  if (request.status != 206) return PackedEnd::NotServed;
  PackedEnd read = ReadIndex(transfer, request, index);
  request.Close();
  return read;
}
}  // namespace

PackedEnd FetchPackedForm(PackedTransfer& transfer) {
  PartFile& part = transfer.part;
  std::atomic<uint64_t> held{part.Size()};
  BlockInflater inflater(transfer.file.size, [&part, &held](const uint8_t* data, size_t size) {
    if (!part.Append(data, size)) return false;
    held = part.Size();
    return true;
  });
  if (part.Size() == 0) {
    PackedRequest request(transfer.url, "");
    if (!request.handle) return PackedEnd::Failed;
    if (request.status != 200) return PackedEnd::NotServed;
    return Take(transfer, request, inflater, held, 0);
  }
  PackedRequest indexRequest;
  PackedIndex index;
  PackedEnd indexed = FetchIndex(transfer, indexRequest, index);
  if (indexed == PackedEnd::NotServed && indexRequest.status == 200) {
    // The range was ignored: the whole packed form comes, and the part file starts again.
    part.Restart();
    held = 0;
    if (!part.OpenForWriting()) return PackedEnd::Failed;
    return Take(transfer, indexRequest, inflater, held, 0);
  }
  if (indexed != PackedEnd::Complete) return indexed;
  size_t block = static_cast<size_t>(part.Size() / kPackedBlockSize);
  inflater.StartAt(index, block, static_cast<uint32_t>(part.Size() - uint64_t(block) * kPackedBlockSize));
  uint64_t from = index.offsets[block];
  PackedRequest request(transfer.url, Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(from)));
  if (!request.handle) return PackedEnd::Failed;
  if (request.status != 206) return PackedEnd::NotServed;
  return Take(transfer, request, inflater, held, from);
}

PackedEnd FetchPackedOverConnections(PackedTransfer& transfer, const std::string& localPath) {
  PartFile& part = transfer.part;
  PackedRequest request;
  PackedIndex index;
  PackedEnd indexed = FetchIndex(transfer, request, index);
  if (indexed == PackedEnd::NotServed && (request.status == 200 || request.status == 206)) {
    request.Close();
    return FetchPackedForm(transfer);  // a server without ranges: one connection
  }
  if (indexed != PackedEnd::Complete) return indexed;
  uint64_t from = index.offsets[static_cast<size_t>(part.Size() / kPackedBlockSize)];
  ULONGLONG asked = GetTickCount64();
  request.Open(transfer.url, Fmt("Range: bytes=%llu-\r\n", static_cast<unsigned long long>(from)));
  uint64_t answerMs = GetTickCount64() - asked;
  if (!request.handle) return PackedEnd::Failed;
  if (request.status != 206) {
    request.Close();
    return FetchPackedForm(transfer);
  }
  InternetBody body(request.handle);
  SplitFetch fetch{transfer.file, part, transfer.url, localPath, transfer.stopping, transfer.report,
                   [&request] { request.Close(); }};
  fetch.packed = &index;
  fetch.answerMs = answerMs;
  FetchOverConnections(fetch, body, transfer.overlap);
  if (!fetch.damage.empty()) {
    transfer.why = fetch.damage;
    return PackedEnd::Damaged;
  }
  if (transfer.stopping()) return PackedEnd::Stopped;
  return part.Size() == transfer.file.size ? PackedEnd::Complete : PackedEnd::Failed;
}

bool UsesPackedForm(const RemoteFile& file) {
  if (!file.hasPacked || file.size == 0) return false;
  AcquireSRWLockShared(&g_refusedLock);
  bool refused = g_refused.count(Lower(file.path)) > 0;
  ReleaseSRWLockShared(&g_refusedLock);
  return !refused;
}

void RefusePackedForm(const RemoteFile& file) {
  AcquireSRWLockExclusive(&g_refusedLock);
  g_refused.insert(Lower(file.path));
  ReleaseSRWLockExclusive(&g_refusedLock);
}

bool SourceMayServePacked(const RemoteFile& file, const std::string& fileUrl) {
  std::string source = SourceOf(file, fileUrl);
  AcquireSRWLockShared(&g_refusedLock);
  auto missing = g_missingInARow.find(source);
  bool may = (missing == g_missingInARow.end() || missing->second < kMissingToStopAsking) &&
             g_missingAt.count(source + Lower(file.path)) == 0;
  ReleaseSRWLockShared(&g_refusedLock);
  return may;
}

void NotePackedServed(const RemoteFile& file, const std::string& fileUrl, bool served) {
  std::string source = SourceOf(file, fileUrl);
  AcquireSRWLockExclusive(&g_refusedLock);
  int& inARow = g_missingInARow[source];
  inARow = served ? 0 : inARow + 1;
  if (!served) g_missingAt.insert(source + Lower(file.path));
  ReleaseSRWLockExclusive(&g_refusedLock);
}

PackedEnd FetchPackedIndex(PackedTransfer& transfer, PackedIndex& index) {
  PackedRequest request;
  return FetchIndex(transfer, request, index);
}

bool InflateRange(PackedTransfer& transfer, const PackedIndex& index, uint64_t first, uint64_t end, uint64_t& wire) {
  size_t firstBlock = static_cast<size_t>(first / kPackedBlockSize);
  size_t endBlock = static_cast<size_t>(std::min<uint64_t>((end + kPackedBlockSize - 1) / kPackedBlockSize, index.Blocks()));
  uint64_t from = index.offsets[firstBlock], to = index.offsets[endBlock];
  PackedRequest request(transfer.url, Fmt("Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(from),
                                          static_cast<unsigned long long>(to - 1)));
  if (!request.handle) return false;
  if (request.status != 206 || !RangeAnswered(request.handle, from, to - 1, index.PackedSize())) {
    LogLine("Server answered %lu to a range of %s", static_cast<unsigned long>(request.status), transfer.file.path.c_str());
    return false;
  }
  PartFile& part = transfer.part;
  BlockInflater inflater(transfer.file.size, [&part, end](const uint8_t* data, size_t size) {
    return part.Append(data, static_cast<size_t>(std::min<uint64_t>(size, end - part.Size())));
  });
  inflater.StartAt(index, firstBlock, static_cast<uint32_t>(first - uint64_t(firstBlock) * kPackedBlockSize));
  BodyTarget target;
  target.write = [&inflater](const unsigned char* data, size_t size) { return inflater.Feed(data, size); };
  target.stopping = transfer.stopping;
  target.end = [to] { return to; };
  target.clip = true;
  target.report = [&transfer, &part](uint64_t) {
    if (transfer.report) transfer.report(part.Size());
  };
  InternetBody body(request.handle);
  uint64_t received = from;
  BodyEnd ended = ReceiveBody(body, from, target, false, received);
  wire += received - from;
  if (inflater.Damaged()) transfer.why = inflater.Why();
  return ended == BodyEnd::Reached && part.Size() == end;
}
