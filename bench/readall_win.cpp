// The floor of the check pass: reads one file with ReadFile in 4 MiB blocks into one reused
// buffer and does nothing else, then prints the bytes read and the seconds the reads took
// ("<bytes> <seconds>"). Run by bench/check_vs_readall.py in the launcher's Wine prefix:
// readall.exe <path>. Exit code 1 when the file cannot be opened or a read fails.
#include <windows.h>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: readall.exe <path>\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const DWORD kBlock = 4 * 1048576;
  std::vector<unsigned char> buffer(kBlock);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  unsigned long long total = 0;
  bool failed = false;
  for (;;) {
    DWORD got = 0;
    failed = !ReadFile(file, buffer.data(), kBlock, &got, nullptr);
    if (failed || got == 0) break;
    total += got;
  }
  QueryPerformanceCounter(&end);
  CloseHandle(file);
  if (failed) return 1;
  printf("%llu %.6f\n", total, static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
