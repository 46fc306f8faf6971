// The launcher runs elevated. Its working directory would otherwise sit in a
// place where any unelevated program of the same user may rename entries
// (the user's TEMP: FILE_DELETE_CHILD there grants DELETE on every child,
// whatever the child's own DACL says), so the directory could be swapped for
// one of that program's between its creation and the installer's start. A
// handle opened by the creation itself, without FILE_SHARE_DELETE, makes
// every rename fail with a sharing violation for as long as it is held; the
// admin-only DACL keeps the same programs from writing into it.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include "launcher/held_directory.h"
#include "launcher/work_directory.h"
#include "support/file_layer.h"
#include "support/system_win32.h"

void* HeldDirectory = nullptr;

namespace {

// Owned by Administrators, so that the user's account has no implicit right
// to change the permissions; a protected DACL (nothing inherited from TEMP)
// granting Administrators and SYSTEM everything, for the directory and all
// it will hold. Where the token may not name that owner, its default owner.
const char AdminOnlyOwned[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
const char AdminOnly[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Data access (listing, traversal) so that the share mode counts: a handle
// with attribute access alone restricts nobody. Read and write sharing let
// the files inside be made and the installer run there; no delete sharing,
// so no rename.
constexpr ACCESS_MASK HoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
constexpr ULONG HoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG HoldOptions = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT;
constexpr DWORD RemovalRetryStep = 250;  // eight tries over about two seconds

using NtCreateFileFunction = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                               LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using NativeNameFunction = BOOLEAN(NTAPI*)(const WCHAR*, UNICODE_STRING*, const WCHAR**, void*);
using FreeNameFunction = void(NTAPI*)(UNICODE_STRING*);

// Refusals of the descriptor rather than of the directory: a file system or
// system that cannot take it.
bool IsDescriptorRefused(DWORD error) {
    return error == ERROR_INVALID_OWNER || error == ERROR_INVALID_SECURITY_DESCR || error == ERROR_INVALID_ACL ||
           error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_NOT_SUPPORTED;
}

// Creates path with the descriptor (none: inherited) and keeps the handle:
// 0, or the error. The system turns the path into its native name as
// CreateDirectory would ("/", ".", "..", drive and UNC forms).
DWORD CreateHeld(const char* path, PSECURITY_DESCRIPTOR descriptor) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto create = LookUpFunction<NtCreateFileFunction>(ntdll, "NtCreateFile");
    auto toError = LookUpFunction<StatusToErrorFunction>(ntdll, "RtlNtStatusToDosError");
    auto toNative = LookUpFunction<NativeNameFunction>(ntdll, "RtlDosPathNameToNtPathName_U");
    auto release = LookUpFunction<FreeNameFunction>(ntdll, "RtlFreeUnicodeString");
    if (!create || !toError || !toNative || !release) return ERROR_PROC_NOT_FOUND;
    WCHAR wide[PathBufferSize];
    UNICODE_STRING nativeName = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, PathBufferSize) <= 0 ||
        !toNative(wide, &nativeName, nullptr, nullptr)) {
        return ERROR_PATH_NOT_FOUND;
    }
    OBJECT_ATTRIBUTES object = {};  // by name: the 64-bit headers pad it
    object.Length = sizeof object;
    object.ObjectName = &nativeName;
    object.Attributes = OBJ_CASE_INSENSITIVE;
    object.SecurityDescriptor = descriptor;
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    NTSTATUS status = create(&handle, HoldAccess, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL, HoldSharing,
                             FILE_CREATE, HoldOptions, nullptr, 0);
    release(&nativeName);
    if (!NT_SUCCESS(status)) return toError(status);
    HeldDirectory = handle;
    return ERROR_SUCCESS;
}

DWORD CreateHeldWithDescriptor(const char* path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    DWORD error = CreateHeld(path, descriptor);
    LocalFree(descriptor);
    return error;
}

void Finish(const char* path, DWORD error) {
    if (error == ERROR_SUCCESS) SetPathAttributes(path, 0);
    LastFileError = error;
}

void WaitRetryStep() { Sleep(RemovalRetryStep); }

// Left to the system's next start: the files first, then the directory,
// which goes then only if nothing else is in it.
void DeleteAtRestart(const char* path) {
    BOOL ok = MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    LastFileError = ok ? uint32_t{ErrorSuccess} : uint32_t{GetLastError()};
}

void DeleteNowOrAtRestart(const char* path) {
    RemoveFile(path);
    if (LastFileError != ErrorSuccess) DeleteAtRestart(path);
}

// A subdirectory is scheduled after the files in it, so that it is empty
// when its turn comes at the restart.
void RemoveDirectoryNowOrAtRestart(const char* path) {
    RemoveDirectoryPath(path);
    if (LastFileError != ErrorSuccess) DeleteAtRestart(path);
}

}  // namespace

void (*WaitBeforeRemovalRetry)() = WaitRetryStep;

bool IsElevatedToken() {
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
           CheckTokenMembership(nullptr, admins, &member) && member;
}

void MakeHeldDirectory(const char* path) { Finish(path, CreateHeld(path, nullptr)); }

void MakeAdminOnlyDirectory(const char* path) {
    DWORD error = CreateHeldWithDescriptor(path, AdminOnlyOwned);
    if (error == ERROR_INVALID_OWNER) error = CreateHeldWithDescriptor(path, AdminOnly);
    if (IsDescriptorRefused(error)) error = CreateHeld(path, nullptr);
    Finish(path, error);
}

void ReleaseWorkingDirectory() {
    if (HeldDirectory) CloseHandle(HeldDirectory);
    HeldDirectory = nullptr;
}

bool RemoveWorkingDirectory(const char* dir) {
    // Files are deleted by name only while the hold keeps the directory in
    // place; once it is empty, the hold is given up so that it can go.
    bool emptied = false;
    for (int attempt = 1;; ++attempt) {
        if (!emptied) emptied = DeleteTempFiles(dir);
        if (emptied) {
            ReleaseWorkingDirectory();
            RemoveDirectoryPath(dir);
            if (LastFileError == ErrorSuccess) return true;
        }
        if (attempt == RemovalTries) break;
        WaitBeforeRemovalRetry();
    }
    // Left to the restart only by an elevated launcher, the one that may
    // and that works only in the Windows temp, where no user can put other
    // names in place of these before then.
    bool toRestart = IsElevatedToken();
    if (!emptied && toRestart) DeleteTempFiles(dir, DeleteNowOrAtRestart, RemoveDirectoryNowOrAtRestart);
    ReleaseWorkingDirectory();
    if (toRestart) DeleteAtRestart(dir);
    return false;
}
