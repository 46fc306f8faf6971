// The host's paths and names in the forms the core and the archive use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cepack {

// An absolute path in the core's form ("/tmp/x" becomes "\tmp\x"); nothing
// for a path that holds a "\" of its own or does not fit a path buffer.
std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve = 0);

// UTF-8 text in the OEM code page that the launcher converts names from
// (437). Only characters that also exist in the ANSI code page are taken,
// so a name reads the same after the launcher's conversion; nothing for
// any other character.
std::optional<std::string> OemNameOf(const std::string& utf8);

// A fresh private directory under the system's temporary directory, removed
// with everything in it when the object goes away.
class PrivateTempDir {
public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;
    bool Ok() const { return !hostPath_.empty(); }
    const std::string& HostPath() const { return hostPath_; }

private:
    std::string hostPath_;
};

// Removes a tree, making read-only parts writable first.
void RemoveTree(const std::string& hostPath);

}  // namespace cepack
