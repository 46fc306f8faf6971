// Backing up and copying the chosen language's files from SourceDir into
// DestinationDir under the progress dialog.
#pragma once

#include <cstdint>

// Results of CopyOneFile.
enum : int {
    CopyDone = 0,
    CopySameFile = -1,
    CopyReadFailed = -2,
    CopyCreateFailed = -3,
    CopyCancelled = -4,
    CopyWriteFailed = -5,
};

constexpr uint16_t CopyBlockSize = 32000;

// The dialog's lines.
constexpr int PhaseLineId = 120;
constexpr int FileLineId = 130;

// What the copy needs from the user interface: the progress dialog's text
// lines and the warning boxes (owner the dialog, caption MainCaption). The
// program points these at Win32; tests record them.
struct CopyUi {
    void (*SetLine)(int controlId, const char* text);
    // Text id with the path (or nullptr) in place of its "%s".
    void (*ShowWarning)(int text, const char* path);
};
extern CopyUi TheCopyUi;

// Joined paths may reach twice a path's length; longer than PathMaxChars
// they are refused, not cut.
constexpr int JoinedPathSize = 2 * 260;

// Makes the folders of a list entry's name ("docs\en\readme.txt") that
// are missing below dir (which ends in "\"), outermost first. False, with
// nothing made, for a name that leads out of dir (root, drive, "..") or a
// path too long; false too where a folder cannot be made or a file is in
// its way.
bool MakeEntryDirectories(const char* dir, const char* name);

int32_t SumSourceSizes();
void BackupExistingFiles();
int InstallFiles();
int CopyOneFile(const char* source, const char* destination, int32_t* runningCount);
// 0 to copy, anything else to skip silently.
int CompareForUpdate(const char* source, const char* destination);
