// The path an archive entry is extracted to, and the names refused on the way.
#pragma once

#include <cstdint>

// Whether an entry name ("\"-separated) stays below the directory it is
// extracted into: no root, drive, UNC or parent components.
bool IsContainedEntryName(const char* name);
// destinationDir followed by name into path (PathBufferSize bytes); false,
// with path untouched, for a name that would leave the directory or a path
// that would not fit, counting the "\" the engine adds to a directory entry.
bool BuildEntryPath(const char* destinationDir, const char* name, uint16_t attributes, char* path);
