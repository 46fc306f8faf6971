// The destination directory as text: the proposal, the folder browser's
// result, the check of typed input, and the tidying before use.
#pragma once

#include <cstddef>
#include <cstdint>

// "Dir" of "Destination" and its directory name (the text after the last
// backslash, or all of it).
void ReadDestinationSetting(char* value);
const char* DestinationDirName(const char* value);

// DestinationDir := CeServicesDir followed by the "Dir" value (at most 259 characters).
void ProposeDestination();

// The folder browser's path with the product's directory name appended,
// unless its last component already begins with that name; a path without
// a backslash stays as it is. path holds 260 bytes.
void AppendBrowsedDirName(char* path, const char* dirName);

// Only a full path names the destination: a drive with its root ("c:\...")
// or a UNC name ("\\server\share..."). Empty, relative and drive-relative
// texts would resolve against the installer's own unpacked directory.
bool IsUsableDestination(const char* text);

// Drops a trailing backslash except from a drive root ("c:\" stays).
void TrimDestination(char* path);

// Whether path (without a trailing backslash) is the installer's own
// directory SourceDir, compared with A to Z folded.
bool IsInstallerDirectory(const char* path);

// Directory search mask for every kind of entry.
constexpr uint16_t AllEntryKinds = 0x3F;

enum : int { DestinationMissing = 0, DestinationIsDirectory = 1, DestinationIsFile = 2 };
int ExamineDestination(const char* path);

// SourceDir := the program path cut after its last backslash, ending in one.
void SetSourceDirFromProgramPath(const char* programPath);
