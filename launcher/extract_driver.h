// The walk over a whole payload archive, shared by the launcher and cepack.
#pragma once

#include <cstdint>

#include "launcher/archive_directory.h"
#include "support/platform.h"

enum : int32_t {
    WalkOk = 0,
    WalkWriteError = 2,
    WalkDefective = 4,
    WalkCancelled = 5,
    WalkUnreadable = -2,
};

// Sum of the entries' uncompressed sizes, or -1 for an unusable archive
// (also when every entry is empty).
int32_t SumUncompressedSizes(const char* archiveName, uint32_t baseOffset, int32_t archiveSize);
// Extracts every entry below destinationDir (which ends in "\"), reporting
// to ProgressDialog; stops at the first entry that fails.
int32_t ExtractAllEntries(const char* archiveName, const char* destinationDir, uint32_t baseOffset,
                          int32_t archiveSize);
// ExtractEntry for the walk's current entry, with what only the central
// directory knows (the size of stored data whose local header defers it).
int32_t ExtractDirectoryEntry(const char* archiveName, const char* path, uint16_t attributes,
                              const ArchiveDirectory& directory, uint32_t baseOffset, WindowHandle progressWindow,
                              int16_t progressId);
