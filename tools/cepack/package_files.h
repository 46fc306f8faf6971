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
// package below the top), or empty when it goes in. A directory left out is
// left out whole. An earlier package at the top is no leftover but an error
// (EarlierPackageText); secrets depend on the setup file (SecretReason).
std::string LeftOutReason(const TreeEntry& entry);

// Whether the file is one of our packages: a program whose payload the
// launcher's directory reader finds and whose top holds something the
// launcher starts (install.inf or an installer program). A vendor's own
// program that merely carries a ZIP is not.
bool IsEarlierPackage(const std::filesystem::path& path);
// What lint and build say of an earlier package at the top.
extern const char* const EarlierPackageText;

// Why a file that build finds holds a private key or credentials (by its
// name, or a PEM private key block in a file under 1 MB), or empty. Build
// leaves such a file out unless the setup file lists it.
std::string SecretReason(const TreeEntry& entry);

// Why Windows or the launcher could not take this name ("/"-separated,
// UTF-8) under a working directory of destinationLength characters, or
// empty: the name rules build enforces and lint reports first.
std::string PackedNameProblem(const std::string& relative, int destinationLength);

// Text from the author's files, read in code page 1252 as lint reads it, as
// UTF-8 for the console and logs.
std::string Utf8FromAnsi(const std::string& ansi);

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
