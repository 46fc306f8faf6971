// The cabinets an application manager .ini names, checked as the application
// manager will meet them: a whole cabinet (MS-CAB) that carries a device setup
// file (NAME.000, starting "MSCE"). Only the header, the folder and file
// tables and the first bytes of one data block are read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cepack {

struct CabinetFinding {
    bool error;           // else a warning
    std::string message;  // says how to fix it; the file's name is the caller's
};

// Reads count bytes at offset into out and returns how many it read. The
// check asks only for bytes below the size it was given.
using CabinetReader = std::function<size_t(uint64_t offset, uint8_t* out, size_t count)>;

std::vector<CabinetFinding> CheckCabinet(uint64_t size, const CabinetReader& read);

}  // namespace cepack
