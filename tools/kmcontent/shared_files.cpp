// Hard links between kept releases; see shared_files.h.
#include "tools/kmcontent/shared_files.h"
#include "core/sha256.h"
#include "update/crc32.h"
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Reads exactly size bytes unless the file ends or fails first; the count read.
size_t ReadFull(int fd, char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool SameRegularSize(int a, int b, uint64_t& size) {
  struct stat first, second;
  if (fstat(a, &first) != 0 || fstat(b, &second) != 0) return false;
  if (!S_ISREG(first.st_mode) || !S_ISREG(second.st_mode) || first.st_size != second.st_size) return false;
  size = static_cast<uint64_t>(first.st_size);
  return true;
}

bool CompareAndHash(int in, int old, uint64_t size, bool withSha256, std::vector<char>& buffer,
                    SameFileHashes& hashes) {
  size_t half = buffer.size() / 2;
  char* mine = buffer.data();
  char* theirs = buffer.data() + half;
  uint32_t crc = kCrc32Start;
  sha_ctx sha;
  sha_init(&sha);
  uint64_t seen = 0;
  for (;;) {
    size_t got = ReadFull(in, mine, half);
    if (got == 0) break;
    if (ReadFull(old, theirs, got) != got || memcmp(mine, theirs, got) != 0) return false;
    crc = Crc32Update(crc, mine, got);
    if (withSha256) sha_add(&sha, mine, got);
    seen += got;
  }
  char extra;
  if (seen != size || ReadFull(old, &extra, 1) != 0) return false;  // either file changed meanwhile
  hashes.size = size;
  hashes.crc = ~crc;
  if (withSha256) sha_end(&sha, hashes.sha256.data());
  return true;
}
}  // namespace

bool SameBytesHashed(const std::string& source, const std::string& earlier, bool withSha256,
                     std::vector<char>& buffer, SameFileHashes& hashes) {
  int old = open(earlier.c_str(), O_RDONLY | O_CLOEXEC);
  if (old < 0) return false;
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t size = 0;
  bool same = in >= 0 && SameRegularSize(in, old, size) && buffer.size() >= 2 &&
              CompareAndHash(in, old, size, withSha256, buffer, hashes);
  if (in >= 0) close(in);
  close(old);
  return same;
}

bool LinkFile(const std::string& existing, const std::string& target) {
  return link(existing.c_str(), target.c_str()) == 0;
}
