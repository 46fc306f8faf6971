// Which files of a package folder go into the package: build packs them and
// lint reads them, so both agree on what the customer gets.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/cepack/host_paths.h"

namespace cepack {

// Why an entry below the package folder stays out of the package (a
// version-control folder, an editor's or the system's leftovers, an earlier
// package), or empty when it goes in. A directory left out is left out
// whole.
std::string LeftOutReason(const TreeEntry& entry);

// Whether the launcher's directory reader finds a package payload in the
// file: an end record leading to at least one entry.
bool CarriesPackagePayload(const std::filesystem::path& path);

// Windows finds files without regard to case: names compared that way,
// with only A to Z folded.
std::string FoldedName(const std::string& name);

// Names Windows would take for one and the same (equal but for the case of
// A to Z): a file named again, or a file named like a directory of others.
// relatives are "/"-separated; each clash names the later name and the one
// it meets.
struct NameClash {
    std::string name;
    std::string other;
    bool directory;  // other is a directory that holds packed files
};
std::vector<NameClash> CaseClashes(const std::vector<std::string>& relatives);
// "differs only in case from OTHER ...", as build and lint say it of the name.
std::string CaseClashText(const NameClash& clash);

}  // namespace cepack
