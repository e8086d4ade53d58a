// The packed form writer; see packed_writer.h.
#include "tools/kmcontent/packed_writer.h"
#include "update/packed_form.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
bool WriteAllAt(int fd, const char* data, size_t size, off_t at) {
  while (size > 0) {
    ssize_t wrote = at < 0 ? write(fd, data, size) : pwrite(fd, data, size, at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
    if (at >= 0) at += wrote;
  }
  return true;
}
}  // namespace

PackedWriter::PackedWriter(std::string path, uint64_t rawSize) : path_(std::move(path)), rawSize_(rawSize) {
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  block_.reserve(kPackedBlockSize);
}

PackedWriter::~PackedWriter() {
  if (fd_ >= 0) {
    close(fd_);
    unlink(path_.c_str());  // not finished: never left half written
  }
}

bool PackedWriter::Fail(std::string& error) {
  error = path_ + ": cannot write: " + strerror(errno);
  return false;
}

bool PackedWriter::WriteBlock(std::string& error) {
  if (lengths_.empty()) {
    std::string placeholder(PackedHeaderSize(rawSize_), '\0');
    if (!WriteAllAt(fd_, placeholder.data(), placeholder.size(), -1)) return Fail(error);
  }
  PackBlock(reinterpret_cast<const uint8_t*>(block_.data()), block_.size(), kPackedLevel, packed_);
  if (!WriteAllAt(fd_, packed_.data(), packed_.size(), -1)) return Fail(error);
  lengths_.push_back(static_cast<uint32_t>(packed_.size()));
  packedBytes_ += packed_.size();
  block_.clear();
  return true;
}

bool PackedWriter::Add(const char* data, size_t size, std::string& error) {
  if (fd_ < 0) return Fail(error);
  rawBytes_ += size;
  while (size > 0) {
    size_t take = std::min<size_t>(size, kPackedBlockSize - block_.size());
    block_.append(data, take);
    data += take;
    size -= take;
    if (block_.size() == kPackedBlockSize && !WriteBlock(error)) return false;
  }
  return true;
}

bool PackedWriter::Finish(bool& kept, std::string& error) {
  kept = false;
  if (fd_ < 0) return Fail(error);
  if (!block_.empty() && !WriteBlock(error)) return false;
  uint64_t total = PackedHeaderSize(rawSize_) + packedBytes_;
  // A file that changed size while it was read is refused by publish; its packed form goes.
  if (rawBytes_ == rawSize_ && rawSize_ > 0 && total <= kPackedKeepShare * double(rawSize_)) {
    std::string header = FormatPackedHeader(rawSize_, lengths_);
    if (!WriteAllAt(fd_, header.data(), header.size(), 0)) return Fail(error);
    kept = true;
  }
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    unlink(path_.c_str());
    kept = false;
    return Fail(error);
  }
  if (!kept) unlink(path_.c_str());
  return true;
}
