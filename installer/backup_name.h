// Names of the saved copies of existing destination files: readme.txt is
// saved as readme0.txt, readme1.txt, ... and longfilename.dll as
// longfilenam0.dll, docs\readme.txt as docs\readme0.txt; at most ten per
// file, the tenth reused.
#pragma once

#include <cstddef>

// Builds directory + the entry's backup name with the digit slot holding
// '0' into name (capacity bytes); returns the slot's offset in name, or -1
// when the name does not fit.
int MakeBackupPattern(const char* directory, const char* entry, char* name, size_t capacity);

