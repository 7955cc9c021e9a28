// The device library's helpers and state of its own: the ruler side, the output paths.
#pragma once

#include <atomic>

// Full paths are arrays of this many bytes (259 characters and the terminator).
constexpr int kTarnPathSize = 260;

// Ruler side of the saved sole image: 0 right, 1 left. Written by Tarn_SetFootDirect, read by the
// save, possibly from other threads.
extern std::atomic<int> footDirect;

// dir and fileName joined with one '/' (none added when dir already ends with one) into the
// kTarnPathSize bytes of fullPath. False, with fullPath holding a cut path that is never used,
// when the whole path does not fit.
bool CombinePath(char* fullPath, const char* dir, const char* fileName);
// Creates the last component of dirPath when it does not exist (mode 0777, less the umask). False
// after an error line when it cannot be created or exists as something other than a directory.
bool createDirectoryIfNotExists(const char* dirPath);
