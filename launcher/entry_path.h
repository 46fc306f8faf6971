// The path an archive entry is extracted to, and the names refused on the way.
#pragma once

#include <cstdint>

#include "support/text.h"  // IsContainedEntryName
// destinationDir followed by name into path (PathBufferSize bytes); false,
// with path untouched, for a name that would leave the directory or a path
// that would not fit, counting the "\" the engine adds to a directory entry.
bool BuildEntryPath(const char* destinationDir, const char* name, uint16_t attributes, char* path);
