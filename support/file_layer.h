// The file layer: small operations over the system's file API that never show
// anything and report through LastFileError (Windows error numbers on every
// platform). Inside the core "\" separates path components on the host too;
// the POSIX backend turns it into "/" at the system call.
#pragma once

#include <cstdint>

#include "support/text.h"

using FileHandle = void*;
inline FileHandle const InvalidFileHandle = reinterpret_cast<FileHandle>(~uintptr_t{0});

// Windows error numbers used by the layer and its callers.
enum : uint32_t {
    ErrorSuccess = 0,
    ErrorInvalidFunction = 1,
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorTooManyOpenFiles = 4,
    ErrorAccessDenied = 5,
    ErrorInvalidHandle = 6,
    ErrorNotEnoughMemory = 8,
    ErrorNoMoreFiles = 18,
    ErrorWriteProtect = 19,
    ErrorGenFailure = 31,
    ErrorSharingViolation = 32,
    ErrorHandleEof = 38,
    ErrorFileExists = 80,
    ErrorInvalidParameter = 87,
    ErrorDiskFull = 112,
    ErrorInvalidName = 123,
    ErrorNegativeSeek = 131,
    ErrorDirNotEmpty = 145,
    ErrorAlreadyExists = 183,
    ErrorFilenameExcedRange = 206,
    ErrorFileTooLarge = 223,
    ErrorDirectory = 267,
    ErrorCantResolveFilename = 1921,
};

// 0 after a successful operation of this layer, else the Windows error code.
// constinit: readers need no per-thread init call (which also spares GCC 12's
// sanitizer build a miscompiled null check on the variable's address).
extern constinit CE_PER_THREAD uint32_t LastFileError;

// Low nibble: access (0 read, 1 write, 2 read/write, 3-15 none).
// High nibble: sharing (0 compatible, 1 exclusive, 2 deny write, 3 deny read,
// 4 deny none, 5-15 exclusive).
using FileOpenMode = uint8_t;

enum : uint32_t {
    CreateNew = 1,
    CreateAlways = 2,
    OpenExisting = 3,
    OpenAlways = 4,
    TruncateExisting = 5,
};

enum : uint16_t {
    AttrReadOnly = 0x01,
    AttrHidden = 0x02,
    AttrSystem = 0x04,
    AttrVolumeLabel = 0x08,
    AttrDirectory = 0x10,
    AttrArchive = 0x20,
    AttrNormal = 0x80,
    AttrReparsePoint = 0x400,  // in DirEntry::Attributes only
};

// MS-DOS local date (high word) and time (low word).
using PackedDateTime = uint32_t;

struct DateTimeParts {
    uint16_t Year;
    uint16_t Month;
    uint16_t Day;
    uint16_t Hour;
    uint16_t Minute;
    uint16_t Second;
};

// 100-nanosecond intervals since 1601-01-01, UTC (a Windows FILETIME).
using FileTime = uint64_t;

struct DirEntry {
    void* SearchHandle;   // InvalidFileHandle when no search is open
    uint16_t Mask;
    uint8_t Attr;         // attributes & 0x3F
    PackedDateTime Time;  // last write, local
    uint32_t Size;
    char Name[PathBufferSize];
    uint16_t Attributes;  // low 16 bits of the system's attributes
    uint32_t FileSize;    // 0 for directories
    char ShortName[14];   // 8.3 alternate name, empty when the long name is one
    FileTime WriteTime;   // last write, UTC
};

// Chooses what DirEntry::Name holds: the long name (true) or the 8.3 one.
extern bool UseLongNames;
void SetUseLongNames(bool on);

FileHandle OpenFileHandle(const char* path, uint32_t flagsAndAttributes, uint32_t creationDisposition,
                          uint16_t mode);
FileHandle OpenExistingFile(const char* path, FileOpenMode mode);
FileHandle CreateOrTruncateFile(const char* path, uint32_t attributes);
void CloseFileHandle(FileHandle handle);
void ReadFileBlock(FileHandle handle, void* buffer, uint16_t count, uint16_t* done);
void WriteFileBlock(FileHandle handle, const void* buffer, uint16_t count, uint16_t* done);
// method: 0 from the start, 1 from the current position, 2 from the end.
int32_t SeekFileHandle(FileHandle handle, int32_t distance, uint8_t method);
uint32_t GetOpenFileSize(FileHandle handle);

void RemoveFile(const char* path);
void MakeDirectory(const char* path);
void RemoveDirectoryPath(const char* path);
void ChangeCurrentDirectory(const char* path);
void SetPathAttributes(const char* path, uint16_t attributes);
uint32_t GetPathAttributes(const char* path);

void BeginDirSearch(const char* pattern, uint16_t mask, DirEntry* entry);
void ContinueDirSearch(DirEntry* entry);
void EndDirSearch(DirEntry* entry);

PackedDateTime PackDateTime(const DateTimeParts& parts);
void UnpackDateTime(PackedDateTime packed, DateTimeParts* parts);
PackedDateTime FileTimeToPacked(FileTime utc);
void PackedToFileTime(PackedDateTime packed, FileTime* utc);
PackedDateTime GetFilePackedTime(FileHandle handle);
void SetFilePackedTime(FileHandle handle, PackedDateTime packed);

enum : int { PathMissing = 0, PathIsFile = 1, PathIsDirectory = 2 };
int GetPathKind(const char* path);
bool IsExistingDirectory(const char* path);
bool IsExistingPath(const char* path);
bool IsExistingFile(const char* path);

// Creates (or truncates) the file at path together with every missing
// directory on the way, walking the process's current directory; with
// directoriesOnly only the directories in front of the last "\" are made and
// 0 is returned. The path should be absolute: the file is made a second time
// with the path as given, from the directory the walk ended in. The current
// directory is left at the deepest component entered.
FileHandle CreateFileWithDirectories(const char* path, bool directoriesOnly);
