// The launcher's download speed cap (MaxDownloadKBps in KMLauncher.cfg, 1 KB = 1024 bytes):
// one token bucket shared by every download of the process, the pipelined connections, the
// WinINet requests and the range reads of patches alike.
#pragma once
#include "core/base.h"
#include <windows.h>

// 0: no cap. Takes effect for the next bytes received.
void SetDownloadCap(uint32_t kilobytesPerSecond);
uint32_t DownloadCap();

// How much one read may ask for now (wanted when there is no cap).
DWORD CappedReadSize(DWORD wanted);

// Counts bytes just received and waits as long as the cap asks (in short steps, ending early
// when the launcher is closing).
void Downloaded(uint64_t bytes);
