#include <windows.h>

#include "support/file_identity.h"
#include "support/file_identity_win32.h"
#include "support/system_win32.h"
#include "support/text.h"

namespace {

class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// No access rights are asked for, so a file that is open elsewhere, or
// read-only, or a directory, can still be identified.
HANDLE OpenForIdentity(const char* path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// FILE_ID_INFO and its class number, declared here: the headers give them
// only to programs built for Windows 8, and the programs start on XP.
struct FileIdInformation {
    ULONGLONG VolumeSerialNumber;
    BYTE FileId[16];
};
const int FileIdInfoClass = 18;
using GetInformationEx = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);

bool IsZero(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// The 128-bit ID: the 64-bit index is not unique on ReFS. Windows before 8
// lacks the class (or the whole call, before Vista), and a file system
// without such IDs reports zeros.
bool ReadFileId128(GetInformationEx getInformation, HANDLE file, FileIdentity* identity) {
    FileIdInformation info;
    if (!getInformation || !getInformation(file, FileIdInfoClass, &info, sizeof info)) return false;
    identity->volume = info.VolumeSerialNumber;
    for (size_t i = 0; i < sizeof identity->id; ++i) identity->id[i] = info.FileId[i];
    return !IsZero(identity->id, sizeof identity->id);
}

bool ReadFileIndex(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    *identity = FileIdentity{};
    identity->volume = info.dwVolumeSerialNumber;
    uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    for (int i = 0; i < 8; ++i) identity->id[i] = static_cast<uint8_t>(index >> (8 * i));
    return true;
}

// Some network redirectors and NAS servers report 0 as the volume serial or
// the file index of every file.
bool IsKnownIdentity(const FileIdentity& identity) {
    return identity.volume != 0 && !IsZero(identity.id, sizeof identity.id);
}

// Both made absolute ("." and ".." resolved), then compared as the system
// compares names, without regard to case. A path too long to resolve is not
// taken for the other.
bool SameFullPath(const char* a, const char* b) {
    char fullA[2 * PathBufferSize];
    char fullB[2 * PathBufferSize];
    DWORD n = GetFullPathNameA(a, sizeof fullA, fullA, nullptr);
    if (n == 0 || n >= sizeof fullA) return false;
    n = GetFullPathNameA(b, sizeof fullB, fullB, nullptr);
    if (n == 0 || n >= sizeof fullB) return false;
    return lstrcmpiA(fullA, fullB) == 0;
}

}  // namespace

bool ReadFileIdentities(HANDLE a, HANDLE b, FileIdentity* x, FileIdentity* y) {
    auto getInformation = LookUpKernelFunction<GetInformationEx>("GetFileInformationByHandleEx");
    if (ReadFileId128(getInformation, a, x) && ReadFileId128(getInformation, b, y)) return true;
    return ReadFileIndex(a, x) && ReadFileIndex(b, y);
}

bool SameFileByIdentity(const FileIdentity& x, const FileIdentity& y, const char* a, const char* b) {
    if (!IsKnownIdentity(x) || !IsKnownIdentity(y)) return SameFullPath(a, b);
    if (x.volume != y.volume) return false;
    for (size_t i = 0; i < sizeof x.id; ++i) {
        if (x.id[i] != y.id[i]) return false;
    }
    return true;
}

bool SameExistingFile(const char* a, const char* b) {
    // Both stay open while compared: on file systems without stable indexes
    // the index is unique only among open files.
    HandleGuard first(OpenForIdentity(a));
    if (first.Get() == INVALID_HANDLE_VALUE) return false;
    HandleGuard second(OpenForIdentity(b));
    if (second.Get() == INVALID_HANDLE_VALUE) return false;
    FileIdentity x;
    FileIdentity y;
    return ReadFileIdentities(first.Get(), second.Get(), &x, &y) && SameFileByIdentity(x, y, a, b);
}
