// The file layer's Win32 backend: the ANSI file API, one call per operation.
#include <windows.h>

#include "support/file_layer.h"
#include "support/file_layer_backend.h"
#include "support/text.h"

namespace {

HANDLE AsHandle(FileHandle handle) { return static_cast<HANDLE>(handle); }

uint32_t ResultOf(BOOL ok) { return ok ? uint32_t{ErrorSuccess} : uint32_t{GetLastError()}; }

FileTime FromFileTime(const FILETIME& t) { return (FileTime{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

FILETIME ToFileTime(FileTime t) {
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(t);
    out.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return out;
}

}  // namespace

FileHandle OpenFileHandle(const char* path, uint32_t flagsAndAttributes, uint32_t creationDisposition,
                          uint16_t mode) {
    OpenRequest request = OpenRequestFor(creationDisposition, mode);
    HANDLE handle =
        CreateFileA(path, request.Access, request.Share, nullptr, creationDisposition, flagsAndAttributes, nullptr);
    LastFileError = handle == INVALID_HANDLE_VALUE ? uint32_t{GetLastError()} : uint32_t{ErrorSuccess};
    return handle;
}

void CloseFileHandle(FileHandle handle) { LastFileError = ResultOf(CloseHandle(AsHandle(handle))); }

void ReadFileBlock(FileHandle handle, void* buffer, uint16_t count, uint16_t* done) {
    DWORD transferred = 0;
    LastFileError = ResultOf(ReadFile(AsHandle(handle), buffer, count, &transferred, nullptr));
    *done = static_cast<uint16_t>(transferred);
}

void WriteFileBlock(FileHandle handle, const void* buffer, uint16_t count, uint16_t* done) {
    DWORD transferred = 0;
    LastFileError = ResultOf(WriteFile(AsHandle(handle), buffer, count, &transferred, nullptr));
    *done = static_cast<uint16_t>(transferred);
}

int32_t SeekFileHandle(FileHandle handle, int32_t distance, uint8_t method) {
    // Cleared first so that a position of 0xFFFFFFFF is not mistaken for a
    // failure with a stale error code.
    SetLastError(ERROR_SUCCESS);
    DWORD position = SetFilePointer(AsHandle(handle), distance, nullptr, method);
    if (position == INVALID_SET_FILE_POINTER) {
        LastFileError = GetLastError();
        return -1;
    }
    LastFileError = ErrorSuccess;
    return static_cast<int32_t>(position);
}

void RemoveFile(const char* path) { LastFileError = ResultOf(DeleteFileA(path)); }

void MakeDirectory(const char* path) {
    if (!CreateDirectoryA(path, nullptr)) {
        LastFileError = GetLastError();
        return;
    }
    SetPathAttributes(path, 0);
    LastFileError = ErrorSuccess;
}

void RemoveDirectoryPath(const char* path) { LastFileError = ResultOf(RemoveDirectoryA(path)); }

void ChangeCurrentDirectory(const char* path) { LastFileError = ResultOf(SetCurrentDirectoryA(path)); }

void SetPathAttributes(const char* path, uint16_t attributes) {
    DWORD value = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    LastFileError = ResultOf(SetFileAttributesA(path, value));
}

uint32_t GetPathAttributes(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        LastFileError = GetLastError();
        return 0;
    }
    LastFileError = ErrorSuccess;
    return attributes;
}

// ---- Directory search -------------------------------------------------------

namespace {

void CopyFound(const WIN32_FIND_DATAA& data, FoundEntry* found) {
    found->Attributes = data.dwFileAttributes;
    found->Size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    found->WriteTime = FromFileTime(data.ftLastWriteTime);
    TextCopyMax(found->LongName, data.cFileName, PathMaxChars);
    TextCopyMax(found->ShortName, data.cAlternateFileName, sizeof found->ShortName - 1);
}

}  // namespace

uint32_t SystemFindFirst(const char* pattern, void** search, FoundEntry* found) {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    *search = handle;
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CopyFound(data, found);
    return ErrorSuccess;
}

uint32_t SystemFindNext(void* search, FoundEntry* found) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data)) return GetLastError();
    CopyFound(data, found);
    return ErrorSuccess;
}

uint32_t SystemFindClose(void* search) { return ResultOf(FindClose(static_cast<HANDLE>(search))); }

// ---- Date and time ----------------------------------------------------------

PackedDateTime FileTimeToPacked(FileTime utc) {
    FILETIME universal = ToFileTime(utc);
    FILETIME local = {};
    SYSTEMTIME parts = {};
    FileTimeToLocalFileTime(&universal, &local);
    FileTimeToSystemTime(&local, &parts);
    return PackDateTime(DateTimeParts{parts.wYear, parts.wMonth, parts.wDay, parts.wHour, parts.wMinute,
                                      parts.wSecond});
}

void PackedToFileTime(PackedDateTime packed, FileTime* utc) {
    DateTimeParts parts;
    UnpackDateTime(packed, &parts);
    SYSTEMTIME system = {};
    system.wYear = parts.Year;
    system.wMonth = parts.Month;
    system.wDay = parts.Day;
    system.wHour = parts.Hour;
    system.wMinute = parts.Minute;
    system.wSecond = parts.Second;
    // A stamp Windows rejects (month 0, 31 February) gives 0 rather than
    // whatever the locals held.
    FILETIME local = {};
    FILETIME universal = {};
    SystemTimeToFileTime(&system, &local);
    LocalFileTimeToFileTime(&local, &universal);
    *utc = FromFileTime(universal);
}

bool LocalDosStamp(FileTime utc, PackedDateTime* packed) {
    FILETIME universal = ToFileTime(utc);
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&universal, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return false;
    *packed = (static_cast<PackedDateTime>(date) << 16) | time;
    return true;
}

PackedDateTime GetFilePackedTime(FileHandle handle) {
    FILETIME written;
    if (!GetFileTime(AsHandle(handle), nullptr, nullptr, &written)) {
        LastFileError = GetLastError();
        return 0;
    }
    LastFileError = ErrorSuccess;
    return FileTimeToPacked(FromFileTime(written));
}

void SetFilePackedTime(FileHandle handle, PackedDateTime packed) {
    FileTime utc;
    PackedToFileTime(packed, &utc);
    FILETIME written = ToFileTime(utc);
    LastFileError = ResultOf(SetFileTime(AsHandle(handle), nullptr, nullptr, &written));
}

// ---- Roots ------------------------------------------------------------------

bool IsDriveRootPath(const char* path) { return TextLength(path) == 3 && path[1] == ':' && path[2] == '\\'; }

bool DriveRootOf(const char* component, char* root) {
    if (component[0] == 0 || component[1] != ':') return false;
    root[0] = component[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = 0;
    return true;
}
