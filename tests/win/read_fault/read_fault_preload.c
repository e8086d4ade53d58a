/* A fault injector for the Windows tests: preloaded into wine64 (LD_PRELOAD), it makes every
 * Linux read of a file whose path holds "read-fails-at-N" fail with EIO once the read reaches
 * byte N, so ReadFile in the test program fails part-way through a real file. Wine does not
 * enforce byte-range locks on reads, which would otherwise be the way to get such a failure.
 * Reads of every other file pass straight through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static const char kMark[] = "read-fails-at-";

/* The offset from which reads of fd fail, or -1 for a file without the mark. */
static long long FailingFrom(int fd) {
  char link[64];
  char target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0) return -1;
  target[length] = '\0';
  const char* mark = strstr(target, kMark);
  return mark ? atoll(mark + sizeof kMark - 1) : -1;
}

/* Whether a read of count bytes at offset reaches the failing part of fd's file. */
static int Reaches(long long from, off_t offset, size_t count) {
  return from >= 0 && offset >= 0 && (long long)offset + (long long)count > from;
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  static ssize_t (*real)(int, void*, size_t, off_t);
  if (!real) real = (ssize_t (*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
  int saved = errno;
  if (Reaches(FailingFrom(fd), offset, count)) {
    errno = EIO;
    return -1;
  }
  errno = saved;
  return real(fd, buffer, count, offset);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) { return pread64(fd, buffer, count, offset); }

ssize_t read(int fd, void* buffer, size_t count) {
  static ssize_t (*real)(int, void*, size_t);
  if (!real) real = (ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  int saved = errno;
  long long from = FailingFrom(fd);
  if (from >= 0 && Reaches(from, lseek(fd, 0, SEEK_CUR), count)) {
    errno = EIO;
    return -1;
  }
  errno = saved;
  return real(fd, buffer, count);
}
