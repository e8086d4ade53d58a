// Test helper: opens a file without sharing (as a running game holds its data files), writes
// "held" to the file named by the second argument, and keeps the file open until killed.
#include <windows.h>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  FILE* flag = fopen(argv[2], "w");
  if (flag) {
    fputs("held", flag);
    fclose(flag);
  }
  Sleep(INFINITE);
  return 0;
}
