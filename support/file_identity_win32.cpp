#include <windows.h>

#include "support/file_identity.h"
#include "support/file_identity_win32.h"
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

// Some network redirectors and NAS servers report 0 as the volume serial or
// the file index of every file.
bool IsKnownIdentity(const BY_HANDLE_FILE_INFORMATION& info) {
    return info.dwVolumeSerialNumber != 0 && (info.nFileIndexHigh | info.nFileIndexLow) != 0;
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

bool SameFileByInformation(const BY_HANDLE_FILE_INFORMATION& x, const BY_HANDLE_FILE_INFORMATION& y, const char* a,
                           const char* b) {
    if (!IsKnownIdentity(x) || !IsKnownIdentity(y)) return SameFullPath(a, b);
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

bool SameExistingFile(const char* a, const char* b) {
    // Both stay open while compared: on file systems without stable indexes
    // the index is unique only among open files.
    HandleGuard first(OpenForIdentity(a));
    if (first.Get() == INVALID_HANDLE_VALUE) return false;
    HandleGuard second(OpenForIdentity(b));
    if (second.Get() == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION x;
    BY_HANDLE_FILE_INFORMATION y;
    if (!GetFileInformationByHandle(first.Get(), &x) || !GetFileInformationByHandle(second.Get(), &y)) return false;
    return SameFileByInformation(x, y, a, b);
}
