// Kept releases share the files that did not change between them: publish compares each
// build file with the previous release's copy and, when the bytes are the same, gives the
// new release a hard link to that copy instead of a second copy. Releases are never changed
// once written, so a shared inode is safe; deleting an old release only drops one name.
#pragma once
#include "core/base.h"
#include "update/release_signature.h"

struct SameFileHashes {
  uint64_t size = 0;
  uint32_t crc = 0;
  Sha256Digest sha256{};  // only when asked for
};

// True when both files are regular, of one size and byte for byte the same; the source's
// hashes are then in hashes (taken from the same reads). False for any difference or error.
bool SameBytesHashed(const std::string& source, const std::string& earlier, bool withSha256,
                     std::vector<char>& buffer, SameFileHashes& hashes);

// A new name for an existing file; false when the file system cannot (another one, no
// hard links), and the caller copies instead.
bool LinkFile(const std::string& existing, const std::string& target);
