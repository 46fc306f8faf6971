#include <windows.h>

#include "support/file_identity.h"

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

}  // namespace

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
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}
