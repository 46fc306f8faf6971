// The device's setup file NAME.000, laid out as cabextract's "Windows CE
// installation cabinet (.CAB) file format" describes it: the 100-byte
// "MSCE" header, the application name, provider and unsupported-platforms
// strings, then STRINGS, DIRS, FILES, REGHIVES, REGKEYS and LINKS, each
// record written field by field in little-endian.
#pragma once

#include <string>

#include "tools/cepack/cab_inf.h"

namespace cepack {

// The setup file's bytes for app (texts already in code page 1252). False,
// with *error set, when the format cannot hold it: the header's 16-bit
// offsets put the three strings in the first 64 KiB, and counts, IDs and
// record lengths are 16-bit.
bool BuildSetupFile(const CabApplication& app, std::string* bytes, std::string* error);

}  // namespace cepack
