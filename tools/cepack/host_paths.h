// The host's paths and names in the forms the core and the archive use.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
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
#ifdef _WIN32
// The form the system's wide calls take at any length, on Windows 7 too and
// whatever the long-path policy: absolute and normal, behind "\\?\" (or
// "\\?\UNC\" for a share). Such a path is taken as it stands, so every call
// on an author's file goes through this; the C runtime's own path calls
// (stat, the directory listing under std::filesystem) stop at MAX_PATH or
// refuse the "?", and are not used on them.
std::filesystem::path AccessPath(const std::filesystem::path& path);
#endif

// The calls on an author's files, at any path length. Files open in binary,
// mode "rb" or "wb" only.
FILE* OpenHostFile(const std::filesystem::path& path, const char* mode);
bool ReadHostFile(const std::filesystem::path& path, std::string* bytes);
bool WriteHostFile(const std::filesystem::path& path, const std::string& bytes);
enum class HostKind { Missing, File, Directory, Other };
// What a path names, links followed.
HostKind HostKindOf(const std::filesystem::path& path);
bool EmptyHostDirectory(const std::filesystem::path& path);
// A directory with every missing parent; true when it is there afterwards.
bool CreateHostDirectories(const std::filesystem::path& path);
// Whether two paths name one file (the same volume and file ID).
bool SameHostFile(const std::filesystem::path& a, const std::filesystem::path& b);

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
enum class TreeEntryKind { File, Directory, DirectoryLink, Other };
struct TreeEntry {
    std::string relative;        // UTF-8, "/"-separated below the folder; a link under its own name
    std::filesystem::path path;  // the folder as given, joined with the entry's name
    TreeEntryKind kind = TreeEntryKind::Other;
    bool link = false;           // a symbolic link (or junction), followed for a file
    HostFileInfo info;           // of a File
};
// Visits every entry below root, a directory before what it holds; visit
// returns false to pass over a directory's contents. Links to directories
// are not followed. False, with the directory named in *error, when one
// can't be listed.
bool WalkTree(const std::filesystem::path& root, const std::function<bool(const TreeEntry&)>& visit,
              std::string* error);

// The local calendar time of a moment (localtime_r).
bool LocalTimeOf(time_t when, std::tm* local);

// The name by which the engine opens a package at any path: its core form
// where that fits the engine's 259 characters; beyond them, on Windows the
// access form (the engine passes it to the system as it stands), on Linux
// the file held open here and named by /proc/self/fd. Empty when the file
// can't be named.
class ArchiveName {
public:
    explicit ArchiveName(const std::string& hostPath);
    ~ArchiveName();
    ArchiveName(const ArchiveName&) = delete;
    ArchiveName& operator=(const ArchiveName&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    int held_ = -1;
};

// An absolute path in the core's form ("/tmp/x" becomes "\tmp\x"); nothing
// for a path that holds a "\" of its own or does not fit a path buffer.
std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve = 0);

// Decodes the well-formed UTF-8 sequence at text[*i] and moves *i past it;
// -1, with *i unchanged, for a malformed one (cut short, overlong, a
// surrogate, past U+10FFFF).
int32_t NextCodePoint(const std::string& text, size_t* i);

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
