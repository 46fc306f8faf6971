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
// Past $qv199 an elevated launcher draws names of 8 hexadecimal digits.
constexpr int RandomNameDigits = 8;
constexpr int RandomNameTries = 100;
constexpr uint32_t EnvironmentValueSize = 520;
// Room a base must leave in a path buffer: "\", the prefix, the longest
// number (8 random digits), the backslash the launcher appends while it works
// there, and a name of 8.3 characters beside it, so that the installer
// ("insstart.exe" the longest) and short entry names still fit. A longer base
// is skipped, not taken for a directory in which the installer could never
// be unpacked.
constexpr size_t WorkDirectoryRoom = 1 + sizeof TempDirPrefix - 1 + RandomNameDigits + 1 + 12;

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
// the new directory's path (no trailing backslash). Without random, the
// first number that is not a directory is tried, and a plain file in its way
// gives the base up: the caller tries the next one. With random (the one
// base of an elevated launcher, where anybody may create names at any
// moment), every name whose creation finds something there moves on to the
// next, $qv0 to $qv199, then up to RandomNameTries names drawn from random (a
// failed draw spends a try); any other failure, or no free name, gives up.
bool MakeUniqueSubdirectory(char* buffer, bool (*random)(uint32_t* value) = nullptr);
// Deletes what path holds: the files (read-only ones too) and the
// subdirectories, each emptied before it goes, deepest first; a link is
// removed, never followed. Stops at the first that cannot be deleted and then
// returns false. remove deletes one file, removeDirectory one empty
// directory, each setting LastFileError.
bool DeleteTempFiles(const char* path, void (*remove)(const char* file) = RemoveFile,
                     void (*removeDirectory)(const char* dir) = RemoveDirectoryPath);
