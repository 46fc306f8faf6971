// Walks the central directory of a ZIP archive that may sit behind an
// executable and in front of trailing data (a signature, for instance).
#pragma once

#include <cstdint>

#include "support/file_layer.h"
#include "support/text.h"

enum : int32_t {
    ArchiveOpen = 0,         // first entry is in the record
    ArchiveNoEntry = 1,      // no (further) entry; the record is closed
    ArchiveUnreadable = -1,  // can't open, empty, no end record, seek or read failed
    ArchiveTooShort = -2,    // end record fewer than 46 bytes after the base
};

constexpr uint32_t DirectoryChunkSize = 64000;
constexpr uint32_t EocdWindowSize = 4096;

struct ArchiveDirectory {
    uint8_t* Buffer;            // directory bytes; null while closed
    uint16_t BufferLength;
    uint16_t Position;          // offset of the next central header
    uint32_t DosDateTime;       // PackedDateTime as stored
    uint32_t UncompressedSize;  // before the first entry: size of the searched range
    uint32_t CompressedSize;
    uint32_t LocalHeaderOffset;  // as stored; the caller adds its base
    uint32_t Crc32;
    char Name[PathBufferSize];   // "\"-separated, ANSI (UTF-8 on the host)
    uint16_t Method;
    uint16_t Attributes;         // DOS attributes from MS-DOS hosts, else 0
    uint16_t Flags;
    FileHandle ChunkFile;        // kept open only while walking in chunks
    uint32_t ChunkRemaining;     // directory bytes not yet read into Buffer (chunks)
};

// Results 0 (first entry ready), 1 (no entry; closed), -1, -2. archiveSize 0
// or less searches the whole file from baseOffset.
int32_t OpenArchiveDirectory(const char* archiveName, ArchiveDirectory* directory, uint32_t baseOffset,
                             int32_t archiveSize);
// 0 with the next entry in the record; 1 at the end (the record is closed).
int32_t NextArchiveEntry(ArchiveDirectory* directory);
// Harmless on a closed record.
void CloseArchiveDirectory(ArchiveDirectory* directory);
