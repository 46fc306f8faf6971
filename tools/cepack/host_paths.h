// The host's paths and names in the forms the core and the archive use.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace cepack {

// The tool keeps every path as UTF-8 text, as the user typed it. These give
// the system's own form (UTF-16 on Windows, so that no ANSI code page limits
// the tool) and back. Never go through fs::path's narrow conversions: on
// Windows they take the C library's code page, not UTF-8.
std::filesystem::path HostPath(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);
// With "/" separators, for names inside a folder.
std::string GenericUtf8Of(const std::filesystem::path& path);
// Absolute, for creating directories: the standard library's
// create_directories fails on Windows for a path relative to another
// drive's current directory ("D:out").
std::filesystem::path AbsoluteHostPath(const std::string& utf8);
// Whether the tool can list this directory. On Windows the C runtime's
// directory listing, which std::filesystem uses there, takes at most
// MAX_PATH characters and beyond them lists some other folder: a deeper
// folder is refused, never read. Always on POSIX.
bool ListableDirectory(const std::filesystem::path& directory);
// Why a folder is not listed, for the messages.
extern const char* const UnlistableDirectoryText;
FILE* OpenHostFile(const std::filesystem::path& path, const char* mode);

struct HostFileInfo {
    uint64_t size = 0;
    time_t modified = 0;
    bool writable = true;
};
// A regular file's size, last write time and write permission; false when
// it can't be read.
bool ReadHostFileInfo(const std::filesystem::path& path, HostFileInfo* info);
// A regular file this process may open for reading.
bool IsReadableFile(const std::filesystem::path& path);
// The local calendar time of a moment (localtime_r).
bool LocalTimeOf(time_t when, std::tm* local);

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
