// The decision behind SameExistingFile on Windows, given what the system
// reported for both files (separate, so that tests can hand it what a
// network redirector reports).
#pragma once

#include <windows.h>

// Equal volume serial and file index; where either file's identity is
// unknown (a zero serial or index), the full paths compared without regard
// to case.
bool SameFileByInformation(const BY_HANDLE_FILE_INFORMATION& x, const BY_HANDLE_FILE_INFORMATION& y, const char* a,
                           const char* b);
