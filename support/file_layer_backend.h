// What the two file-layer backends (Win32 and POSIX) give the portable part of
// the layer. Everything that is not a system call lives in file_layer.cpp, so
// both backends share one set of rules (modes, masks, walks, date packing).
#pragma once

#include <cstdint>

#include "support/file_layer.h"

// Desired access (GENERIC_READ 0x80000000, GENERIC_WRITE 0x40000000) and
// share mode (FILE_SHARE_READ 1, FILE_SHARE_WRITE 2) for an open, with the
// mode already adjusted to the creation disposition.
struct OpenRequest {
    uint32_t Access;
    uint32_t Share;
};
enum : uint32_t { GenericRead = 0x80000000u, GenericWrite = 0x40000000u, ShareRead = 1, ShareWrite = 2 };
OpenRequest OpenRequestFor(uint32_t creationDisposition, uint16_t mode);

// One entry of a directory search as the system reports it.
struct FoundEntry {
    uint32_t Attributes;
    uint64_t Size;
    FileTime WriteTime;  // UTC
    char LongName[PathBufferSize];
    char ShortName[14];  // empty when the system has no alternate name
};

// The system's search: each returns 0 or the Windows error code. A failed
// SystemFindFirst leaves *search at InvalidFileHandle; SystemFindNext reports
// ErrorNoMoreFiles at the end.
uint32_t SystemFindFirst(const char* pattern, void** search, FoundEntry* found);
uint32_t SystemFindNext(void* search, FoundEntry* found);
uint32_t SystemFindClose(void* search);

// The last-write time as a local MS-DOS stamp; false where the system cannot
// convert it (before 1980, after 2107).
bool LocalDosStamp(FileTime utc, PackedDateTime* packed);

// A path that names the root of a drive ("C:\"; on POSIX the root "\").
bool IsDriveRootPath(const char* path);
// Whether the first component of a path walk names a drive ("C:"; on POSIX
// the empty component in front of a leading "\"); if so, root receives the
// directory the walk starts from. root holds 4 bytes.
bool DriveRootOf(const char* component, char* root);

// Calendar constants for the POSIX backend, which converts dates itself
// (proleptic Gregorian, as Windows' SYSTEMTIME conversions). The arithmetic
// lives there: its 64-bit divisions would pull libgcc's helpers into the
// 32-bit programs.
constexpr FileTime FileTimeTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t UnixEpochSeconds = 11644473600;
