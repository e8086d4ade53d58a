// The account request: one worker thread per "Create account" press posts the form to the
// content server's "/register" and hands the one-line answer back to the account window.
#pragma once
#include "core/base.h"
#include <windows.h>

// What the worker owns: the form body and the window that asked. The answer goes back only
// to that window, and only while it is still the open account window.
struct RegisterRequest {
  std::string body;
  HWND window;
};

// Thread entry; takes ownership of a heap-allocated RegisterRequest. Posts kMsgAccountReply
// with a heap-allocated answer that the window frees.
DWORD WINAPI RegisterThread(void* request);
