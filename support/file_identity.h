// Whether two paths name one and the same existing file, by the file's
// identity (volume and file index, or device and inode) rather than by the
// path text: short names, "." and "..", relative paths and other spellings
// of one file all compare equal.
#pragma once

bool SameExistingFile(const char* a, const char* b);
