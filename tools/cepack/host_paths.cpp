#include "tools/cepack/host_paths.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/file_identity.h"
#include "support/text.h"

namespace fs = std::filesystem;

namespace cepack {

#ifdef _WIN32

namespace {

// A handle for reading a file's or directory's information, links followed;
// with GENERIC_READ, also a test that the file may be read.
class InfoHandle {
public:
    explicit InfoHandle(const fs::path& path, DWORD access = 0)
        : handle_(CreateFileW(AccessPath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~InfoHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    InfoHandle(const InfoHandle&) = delete;
    InfoHandle& operator=(const InfoHandle&) = delete;
    bool Read(BY_HANDLE_FILE_INFORMATION* info) const {
        return handle_ != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle_, info);
    }

private:
    HANDLE handle_;
};

void FillInfo(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written, HostFileInfo* info) {
    info->size = (uint64_t{sizeHigh} << 32) | sizeLow;
    // 100-ns ticks since 1601 to seconds since 1970: the same count the
    // POSIX build reads, so both date an entry alike.
    uint64_t ticks = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
    info->modified = static_cast<time_t>(ticks / 10000000 - 11644473600LL);
    info->writable = !(attributes & FILE_ATTRIBUTE_READONLY);
}

// A name joined onto an access path. "\\?\" paths reach the file system as
// they stand, and it refuses the empty name between doubled separators; a
// root ("\\?\D:\") already ends in its one.
std::wstring JoinAccess(const std::wstring& directory, const wchar_t* name) {
    return directory + (directory.empty() || directory.back() == L'\\' ? L"" : L"\\") + name;
}

// How much of a full path is its root: "C:\" or "\\server\share\".
size_t RootLength(const std::wstring& full) {
    if (full.rfind(L"\\\\", 0) != 0) return 3;
    size_t server = full.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    return share == std::wstring::npos ? full.size() : share + 1;
}

// A directory's entries but "." and "..", the search closed however the
// caller leaves. A drive's root has neither: an empty one finds nothing.
class DirectorySearch {
public:
    explicit DirectorySearch(const std::wstring& access)
        : handle_(FindFirstFileExW(JoinAccess(access, L"*").c_str(), FindExInfoBasic, &found_, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH)),
          listed_(handle_ != INVALID_HANDLE_VALUE || GetLastError() == ERROR_FILE_NOT_FOUND) {}
    ~DirectorySearch() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;
    bool Listed() const { return listed_; }
    const WIN32_FIND_DATAW* Next() {
        while (handle_ != INVALID_HANDLE_VALUE) {
            if (!first_ && !FindNextFileW(handle_, &found_)) return nullptr;
            first_ = false;
            std::wstring_view name = found_.cFileName;
            if (name != L"." && name != L"..") return &found_;
        }
        return nullptr;
    }

private:
    WIN32_FIND_DATAW found_;
    HANDLE handle_;
    bool listed_;
    bool first_ = true;
};

// Symbolic links and junctions name another entry; other reparse points
// (OneDrive's placeholders, deduplicated files) are the entry itself.
bool IsLink(const WIN32_FIND_DATAW& found) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(found.dwReserved0);
}

struct PendingDirectory {
    std::wstring access;
    std::string relative;
    fs::path path;
};

}  // namespace

fs::path AccessPath(const fs::path& path) {
    const std::wstring& text = path.native();
    if (text.empty() || text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) return path;
    // The full name of a relative path, and of "D:out" against drive D:'s
    // current directory, with "/" turned into "\" and "." and ".." resolved.
    DWORD need = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::wstring full(need, L'\0');
    DWORD got = GetFullPathNameW(text.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return path;
    full.resize(got);
    // A folder as completion gives it, ".\MyProduct\": the name stands without
    // its trailing separator, a root keeps its one.
    while (full.size() > RootLength(full) && full.back() == L'\\') full.pop_back();
    if (full.rfind(L"\\\\", 0) == 0) return fs::path(L"\\\\?\\UNC\\" + full.substr(2));
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return fs::path(L"\\\\?\\" + full);
    return path;
}

FILE* OpenHostFile(const fs::path& path, const char* mode) {
    bool write = mode[0] == 'w';
    HANDLE h = CreateFileW(AccessPath(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, write ? CREATE_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), (write ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* file = _fdopen(fd, write ? "wb" : "rb");
    if (!file) _close(fd);
    return file;
}

bool ReadHostFileInfo(const fs::path& path, HostFileInfo* info) {
    BY_HANDLE_FILE_INFORMATION data;
    if (!InfoHandle(path).Read(&data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    FillInfo(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime, info);
    return true;
}

bool IsReadableFile(const fs::path& path) {
    BY_HANDLE_FILE_INFORMATION info;
    return InfoHandle(path, GENERIC_READ).Read(&info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

HostKind HostKindOf(const fs::path& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (InfoHandle(path).Read(&info)) {
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? HostKind::Directory : HostKind::File;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME
               ? HostKind::Missing
               : HostKind::Other;
}

bool EmptyHostDirectory(const fs::path& path) {
    DirectorySearch search(AccessPath(path).native());
    return search.Listed() && !search.Next();
}

bool CreateHostDirectories(const fs::path& path) {
    std::wstring access = AccessPath(path).native();
    // Each "\" past "\\?\C:\" or "\\?\UNC\server\share\" ends a parent;
    // one that exists already fails harmlessly.
    size_t start = 7;
    if (access.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        size_t server = access.find(L'\\', 8);
        start = server == std::wstring::npos ? access.size() : access.find(L'\\', server + 1);
    }
    for (size_t at = access.find(L'\\', start); at != std::wstring::npos; at = access.find(L'\\', at + 1)) {
        CreateDirectoryW(access.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(access.c_str(), nullptr);
    return HostKindOf(path) == HostKind::Directory;
}

// The installer's own check, over the wide calls: the 128-bit file ID where
// the system has one (the 64-bit index repeats on ReFS), the paths where a
// redirector reports no identity.
bool SameHostFile(const fs::path& a, const fs::path& b) {
    return SameExistingFile(Utf8Of(AccessPath(a)).c_str(), Utf8Of(AccessPath(b)).c_str());
}

bool WalkTree(const fs::path& root, const std::function<bool(const TreeEntry&)>& visit, std::string* error) {
    // A list of its own, not recursion: a tree as deep as a long path allows
    // would take the stack.
    std::vector<PendingDirectory> pending{{AccessPath(root).native(), "", root}};
    while (!pending.empty()) {
        PendingDirectory dir = std::move(pending.back());
        pending.pop_back();
        DirectorySearch search(dir.access);
        if (!search.Listed()) {
            *error = Utf8Of(dir.path) + ": can't be listed";
            return false;
        }
        while (const WIN32_FIND_DATAW* found = search.Next()) {
            TreeEntry entry;
            entry.relative = (dir.relative.empty() ? "" : dir.relative + "/") + Utf8Of(fs::path(found->cFileName));
            entry.path = dir.path / fs::path(found->cFileName);
            bool link = IsLink(*found);
            entry.link = link;
            if (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                entry.kind = link ? TreeEntryKind::DirectoryLink : TreeEntryKind::Directory;
            } else if (!link) {
                entry.kind = TreeEntryKind::File;
                FillInfo(found->dwFileAttributes, found->nFileSizeHigh, found->nFileSizeLow, found->ftLastWriteTime,
                         &entry.info);
            } else {
                // A link to a file is packed as that file, under its own name.
                entry.kind = ReadHostFileInfo(entry.path, &entry.info) ? TreeEntryKind::File : TreeEntryKind::Other;
            }
            if (visit(entry) && entry.kind == TreeEntryKind::Directory) {
                pending.push_back({JoinAccess(dir.access, found->cFileName), entry.relative, entry.path});
            }
        }
    }
    return true;
}

fs::path HostPath(const std::string& utf8) {
    return fs::path(std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string GenericUtf8Of(const fs::path& path) {
    std::u8string text = path.generic_u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// The system's time zone with the daylight saving rule of that date, as
// localtime_r has it on Linux; the C runtime's localtime would follow a TZ
// variable with US rules instead.
bool LocalTimeOf(time_t when, std::tm* local) {
    uint64_t ticks = (static_cast<uint64_t>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal, here;
    if (when < 0 || !FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &here)) {
        return false;
    }
    *local = std::tm{};
    local->tm_year = here.wYear - 1900;
    local->tm_mon = here.wMonth - 1;
    local->tm_mday = here.wDay;
    local->tm_hour = here.wHour;
    local->tm_min = here.wMinute;
    local->tm_sec = here.wSecond;
    return true;
}

namespace {

// A path too long for the engine's buffers may still have a short 8.3 form
// that fits: the same file under another spelling.
std::string ShortFormOf(const fs::path& path) {
    DWORD need = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (need == 0) return {};
    std::wstring shortPath(need, L'\0');
    DWORD got = GetShortPathNameW(path.c_str(), shortPath.data(), need);
    if (got == 0 || got >= need) return {};
    shortPath.resize(got);
    return Utf8Of(fs::path(shortPath));
}

}  // namespace

std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve) {
    if (hostPath.empty()) return std::nullopt;
    std::error_code ec;
    fs::path absolute = fs::absolute(HostPath(hostPath), ec);
    if (ec) return std::nullopt;
    absolute = absolute.lexically_normal().make_preferred();
    std::string text = Utf8Of(absolute);
    while (text.size() > 3 && text.back() == '\\') text.pop_back();
    if (text.size() + reserve > static_cast<size_t>(PathMaxChars)) text = ShortFormOf(absolute);
    if (text.empty() || text.size() + reserve > static_cast<size_t>(PathMaxChars)) return std::nullopt;
    return text;
}

#else

fs::path HostPath(const std::string& utf8) { return fs::path(utf8); }
std::string Utf8Of(const fs::path& path) { return path.string(); }
std::string GenericUtf8Of(const fs::path& path) { return path.generic_string(); }
FILE* OpenHostFile(const fs::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

HostKind HostKindOf(const fs::path& path) {
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return HostKind::Missing;
    return fs::is_directory(status) ? HostKind::Directory
           : fs::is_regular_file(status) ? HostKind::File
                                         : HostKind::Other;
}

bool EmptyHostDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_empty(path, ec) && !ec;
}

bool CreateHostDirectories(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return HostKindOf(path) == HostKind::Directory;
}

bool SameHostFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

bool WalkTree(const fs::path& root, const std::function<bool(const TreeEntry&)>& visit, std::string* error) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        TreeEntry entry;
        // Lexically: a link goes by its own name, not its target's.
        entry.relative = GenericUtf8Of(it->path().lexically_relative(root));
        entry.path = it->path();
        entry.link = it->is_symlink();
        std::error_code statError;
        fs::file_status status = fs::status(it->path(), statError);
        if (fs::is_directory(status)) {
            entry.kind = it->is_symlink() ? TreeEntryKind::DirectoryLink : TreeEntryKind::Directory;
        } else if (fs::is_regular_file(status) && ReadHostFileInfo(it->path(), &entry.info)) {
            entry.kind = TreeEntryKind::File;
        }
        if (!visit(entry) && entry.kind == TreeEntryKind::Directory) it.disable_recursion_pending();
    }
    if (ec) *error = Utf8Of(root) + ": " + ec.message();
    return !ec;
}

bool ReadHostFileInfo(const fs::path& path, HostFileInfo* info) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    info->size = static_cast<uint64_t>(st.st_size);
    info->modified = st.st_mtime;
    info->writable = (st.st_mode & S_IWUSR) != 0;
    return true;
}

bool IsReadableFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), R_OK) == 0;
}

bool LocalTimeOf(time_t when, std::tm* local) { return localtime_r(&when, local) != nullptr; }

std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve) {
    if (hostPath.empty()) return std::nullopt;
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(hostPath), ec);
    if (ec) return std::nullopt;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    if (text.find('\\') != std::string::npos) return std::nullopt;
    if (text.size() + reserve > static_cast<size_t>(PathMaxChars)) return std::nullopt;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    return text;
}

#endif

ArchiveName::ArchiveName(const std::string& hostPath) {
    if (std::optional<std::string> core = CorePathOf(hostPath)) {
        name_ = *core;
        return;
    }
#ifdef _WIN32
    if (!hostPath.empty()) name_ = Utf8Of(AccessPath(HostPath(hostPath)));
#else
    held_ = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (held_ >= 0) name_ = "\\proc\\self\\fd\\" + std::to_string(held_);
#endif
}

ArchiveName::~ArchiveName() {
#ifndef _WIN32
    if (held_ >= 0) ::close(held_);
#endif
}

bool ReadHostFile(const fs::path& path, std::string* bytes) {
    FILE* in = OpenHostFile(path, "rb");
    if (!in) return false;
    bytes->clear();
    char block[1 << 16];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, in)) > 0) bytes->append(block, n);
    bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

bool WriteHostFile(const fs::path& path, const std::string& bytes) {
    FILE* out = OpenHostFile(path, "wb");
    if (!out) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

int32_t NextCodePoint(const std::string& text, size_t* i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(*i);
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || *i + extra >= text.size()) return -1;
    int32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(*i + k) & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (byte(*i + k) & 0x3F);
    }
    // Overlong forms would smuggle in "/" or NUL; the launcher refuses
    // surrogates and values past U+10FFFF.
    static const int32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < smallest[extra] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return -1;
    *i += extra + 1;
    return cp;
}

std::optional<size_t> LongestAnsiLength(const std::string& utf8) {
    size_t length = 0;
    for (size_t i = 0; i < utf8.size();) {
        int32_t cp = NextCodePoint(utf8, &i);
        if (cp < 0) return std::nullopt;
        length += cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4;
    }
    return length;
}

PrivateTempDir::PrivateTempDir() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) return;
#ifdef _WIN32
    // create_directory reports false for a name that exists: only a fresh one is taken.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && hostPath_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "cepack-%08x", static_cast<unsigned>(random()));
        fs::path candidate = base / name;
        if (fs::create_directory(candidate, ec)) hostPath_ = Utf8Of(candidate);
    }
#else
    std::string pattern = (base / "cepack-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) hostPath_ = pattern;
#endif
}

PrivateTempDir::~PrivateTempDir() {
    if (Ok()) RemoveTree(hostPath_);
}

void RemoveTree(const std::string& hostPath) {
    std::error_code ec;
    fs::path root = HostPath(hostPath);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root, ec);
}

}  // namespace cepack
