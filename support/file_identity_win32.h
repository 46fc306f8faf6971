// The decision behind SameExistingFile on Windows, given what the system
// reported for both files (separate, so that tests can hand it what a
// network redirector or ReFS reports).
#pragma once

#include <windows.h>

#include <cstdint>

// A file's identity: its volume's serial number and its file ID, the 128-bit
// one where the system has it (Windows 8 and later), else the 64-bit index
// in the first eight bytes and zeros behind.
struct FileIdentity {
    uint64_t volume = 0;
    uint8_t id[16] = {};
};

// Both files' identities, of one kind: 128-bit where the system gives both,
// else both 64-bit, so that the two compare like with like.
bool ReadFileIdentities(HANDLE a, HANDLE b, FileIdentity* x, FileIdentity* y);

// Equal volume serial and file ID; where either file's identity is unknown
// (a zero serial or ID), the full paths compared without regard to case.
bool SameFileByIdentity(const FileIdentity& x, const FileIdentity& y, const char* a, const char* b);
