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
// General purpose flag bit 11: the name is stored in UTF-8 (7-Zip and
// Python's zipfile set it for names that are not plain ASCII).
constexpr uint16_t FlagUtf8Name = 0x0800;
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
    // False for a UTF-8 name that the ANSI code page cannot hold (Name is
    // then empty): the entry cannot be written under its own name.
    bool NameUsable;
    uint16_t Method;
    uint16_t Attributes;         // DOS attributes from MS-DOS hosts, else 0
    uint16_t Flags;
    FileHandle ChunkFile;        // kept open only while walking in chunks
    uint32_t ChunkRemaining;     // directory bytes not yet read into Buffer (chunks)
    // The walk met the end record after as many entries as that counts. A
    // walk that stops at a damaged header, or starts at a later one, ends
    // with the same result 1 but has lost entries.
    bool EndReached;
    uint16_t EndEntryCount;      // as the end record stores it
    uint32_t EntriesRead;
};

// Results 0 (first entry ready), 1 (no entry; closed), -1, -2. archiveSize 0
// or less searches the whole file from baseOffset.
int32_t OpenArchiveDirectory(const char* archiveName, ArchiveDirectory* directory, uint32_t baseOffset,
                             int32_t archiveSize);
// 0 with the next entry in the record; 1 at the end (the record is closed).
int32_t NextArchiveEntry(ArchiveDirectory* directory);
// Harmless on a closed record.
void CloseArchiveDirectory(ArchiveDirectory* directory);
// An entry name as the walk keeps it: cut at a NUL, "/" turned into "\"; a
// UTF-8 name (flags bit 11) converted into ANSI whole, any other cut to
// PathMaxChars and taken from OEM into ANSI. name holds PathBufferSize bytes.
// False, with name empty, for a UTF-8 name that has no exact ANSI form or
// does not fit.
bool CopyEntryName(const uint8_t* bytes, uint32_t length, uint16_t flags, char* name);
