// The host's paths and names in the forms the core and the archive use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cepack {

// An absolute path in the core's form ("/tmp/x" becomes "\tmp\x"); nothing
// for a path that holds a "\" of its own or does not fit a path buffer.
std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve = 0);

// The most bytes a UTF-8 name can take in a Windows ANSI code page, which
// the launcher converts flagged names into: 1 for ASCII, 2 for any other
// character of the Basic Multilingual Plane (no ANSI code page takes more),
// 4 for one beyond it (held only by the UTF-8 code page, as 4 bytes).
// Nothing for bytes that are not well-formed UTF-8.
std::optional<size_t> LongestAnsiLength(const std::string& utf8);

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
