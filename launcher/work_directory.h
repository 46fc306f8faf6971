// The launcher's working directory: a fresh numbered subdirectory ($qv0 to
// $qv199) of a base directory, and the removal of the files unpacked into it.
// Portable over the file layer; the choice of base directories that needs the
// system (Windows directory, drive types, the error box) is in
// temp_directory_win32.cpp.
#pragma once

#include <cstdint>

#include "support/file_layer.h"
#include "support/text.h"

constexpr char TempDirPrefix[] = "$qv";
constexpr int TempDirNumbers = 200;
constexpr uint32_t EnvironmentValueSize = 520;
// Room a base must leave in a path buffer: "\", the prefix, three digits, the
// backslash the launcher appends while it works there, and a name of 8.3
// characters beside it, so that the installer ("insstart.exe" the longest)
// and short entry names still fit. A longer base is skipped, not taken for a
// directory in which the installer could never be unpacked.
constexpr size_t WorkDirectoryRoom = 1 + sizeof TempDirPrefix - 1 + 3 + 1 + 12;

// How MakeUniqueSubdirectory creates the directory: MakeDirectory unless the
// launcher chose otherwise at start (an elevated one closes it to others).
extern void (*MakeWorkingDirectory)(const char* path);

// Value of an environment variable in one process-wide buffer, overwritten by
// every call; empty when unset or too long for the buffer. Never null.
char* ReadEnvironmentValue(const char* name);
// Copies candidate into buffer and makes a numbered subdirectory there. A
// candidate that does not fit a path buffer together with the new name is
// refused like any other failing one.
bool TryTempCandidate(char* buffer, const char* candidate);
// buffer holds an absolute base directory (drive or UNC); on success it holds
// the new directory's path (no trailing backslash).
bool MakeUniqueSubdirectory(char* buffer);
// Deletes the plain files directly inside path (read-only ones too); stops at
// the first that cannot be deleted and then returns false. Subdirectories stay.
// remove deletes one file, setting LastFileError.
bool DeleteTempFiles(const char* path, void (*remove)(const char* file) = RemoveFile);
