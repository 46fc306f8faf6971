// The launcher's working directory on Windows: created and opened in one
// step and held, so that nobody can rename it away and put another in its
// place while files are unpacked and the installer runs; closed to the
// user's unelevated programs when the launcher is elevated; removed at the
// end, or at the next restart where something still holds it.
#pragma once

// The process's token has the Administrators group enabled (not merely for
// denial): the launcher runs elevated, or as an administrator on a Windows
// without user account control.
bool IsElevatedToken();
// Create the directory and keep it open without delete sharing (HeldDirectory)
// until ReleaseWorkingDirectory. Both set LastFileError like MakeDirectory.
// The admin-only one gives it a protected DACL that grants Administrators
// and SYSTEM full access, inherited by everything in it, and nobody else;
// where the descriptor is refused (a file system without ACLs), none.
void MakeHeldDirectory(const char* path);
void MakeAdminOnlyDirectory(const char* path);
extern void* HeldDirectory;
void ReleaseWorkingDirectory();

// Deletes the files and subdirectories in dir and then dir, trying again
// while something still holds one (a scanner, a process that has it as its
// current directory); what remains is left to be deleted at the next restart
// when elevated. The hold is kept while entries are deleted by name. Returns
// whether dir is gone now.
bool RemoveWorkingDirectory(const char* dir);
// Waits between two tries of the removal; tests replace it.
extern void (*WaitBeforeRemovalRetry)();
constexpr int RemovalTries = 8;
