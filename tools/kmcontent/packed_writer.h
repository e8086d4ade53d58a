// Writes the packed form of a file while publish copies it (packed_form.h has the layout):
// the index goes first as a placeholder, the blocks follow as they are compressed, and the
// index is written over the placeholder at the end, so memory stays one block whatever
// the file's size. A packed form that saves too little is deleted again.
#pragma once
#include "core/base.h"

// Measured on game-shaped content (tools/kmcontent/README.md, *Packed forms*): a packed
// form is kept when it is at most this share of the file, and only for files this large.
constexpr double kPackedKeepShare = 0.95;
constexpr uint64_t kPackedFrom = 16u << 10;
constexpr int kPackedLevel = 6;

class PackedWriter {
 public:
  PackedWriter(std::string path, uint64_t rawSize);
  ~PackedWriter();
  PackedWriter(const PackedWriter&) = delete;
  PackedWriter& operator=(const PackedWriter&) = delete;

  // Bytes of the file in any pieces. False (with error) when the packed form cannot be written.
  bool Add(const char* data, size_t size, std::string& error);
  // Ends the packed form: kept is whether it stays (written whole and small enough); a packed
  // form not kept is removed. False (with error) when it could not be written.
  bool Finish(bool& kept, std::string& error);

 private:
  bool WriteBlock(std::string& error);
  bool Fail(std::string& error);

  std::string path_;
  uint64_t rawSize_;
  int fd_ = -1;
  std::vector<uint32_t> lengths_;
  std::string block_;
  std::string packed_;
  uint64_t packedBytes_ = 0;
  uint64_t rawBytes_ = 0;
};
