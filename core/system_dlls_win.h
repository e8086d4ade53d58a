// Where the programs take system DLLs from. A DLL that is no KnownDLL is looked for beside the
// program first, and the game folder is writable by every user of the machine: a DLL planted
// there under a system DLL's name would run as whoever starts the program next. So each
// program, as its first act, has the loader search System32 alone; the launcher's own imports
// of such DLLs are delay-loaded (cmake/delay_imports.cmake), so none loads before this.
#pragma once
#include <windows.h>

inline void LoadSystemDllsFromSystem32Only() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  // Windows 8 and later, and Windows 7 with KB2533623; the function is looked up because the
  // program also starts without it.
  auto setDirectories = reinterpret_cast<SetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // without it, at least not the current folder
}
