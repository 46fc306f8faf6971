// The working directory of an elevated launcher: only Administrators and
// SYSTEM may open it. It would otherwise inherit TEMP's permissions, and any
// unelevated program of the same user could swap the installer between
// unpacking and start, to have it run elevated. The user's unelevated
// programs hold Administrators only for denial, so they are kept out.
#include <windows.h>
#include <sddl.h>

#include "launcher/private_directory.h"
#include "support/file_layer.h"

namespace {

// Owned by Administrators, so that the user's account has no implicit right
// to change the permissions; a protected DACL (nothing inherited from TEMP)
// granting Administrators and SYSTEM everything, for the directory and all
// it will hold. Where the token may not name that owner, its default owner.
const char AdminOnlyOwned[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
const char AdminOnly[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Refusals of the descriptor rather than of the directory: a file system or
// system that cannot take it.
bool IsDescriptorRefused(DWORD error) {
    return error == ERROR_INVALID_OWNER || error == ERROR_INVALID_SECURITY_DESCR || error == ERROR_INVALID_ACL ||
           error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_NOT_SUPPORTED;
}

// CreateDirectoryA with the descriptor: 0, or the error.
DWORD CreateWithDescriptor(const char* path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    DWORD error = CreateDirectoryA(path, &attributes) ? ERROR_SUCCESS : GetLastError();
    LocalFree(descriptor);
    return error;
}

}  // namespace

bool IsElevatedToken() {
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
           CheckTokenMembership(nullptr, admins, &member) && member;
}

void MakeAdminOnlyDirectory(const char* path) {
    DWORD error = CreateWithDescriptor(path, AdminOnlyOwned);
    if (error == ERROR_INVALID_OWNER) error = CreateWithDescriptor(path, AdminOnly);
    if (IsDescriptorRefused(error)) {
        MakeDirectory(path);
        return;
    }
    if (error == ERROR_SUCCESS) SetPathAttributes(path, 0);
    LastFileError = error;
}
