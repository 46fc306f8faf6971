// The working directory of an elevated launcher, closed to the user's
// unelevated programs (Windows only).
#pragma once

// The process's token has the Administrators group enabled (not merely for
// denial): the launcher runs elevated, or as an administrator on a Windows
// without user account control.
bool IsElevatedToken();
// Creates the directory with a protected DACL that grants Administrators and
// SYSTEM full access, inherited by everything in it, and nobody else; where
// the descriptor is refused (a file system without ACLs), a plain directory.
// Sets LastFileError like MakeDirectory.
void MakeAdminOnlyDirectory(const char* path);
