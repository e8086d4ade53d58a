// Helpers for the Windows-side tests: a fresh folder per test, whole-file reads and writes,
// and a log that a test can read back.
#pragma once
#include "core/base.h"

// A new empty folder under the temporary folder, with a trailing backslash.
std::string MakeTestFolder(const char* name);

std::string ReadFileOrEmpty(const std::string& path);
void WriteTestFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Opens the launcher's log at folder + "test.log"; LogLines returns what was written so far
// without the time stamps.
void OpenTestLog(const std::string& folder);
std::vector<std::string> LogLines();
