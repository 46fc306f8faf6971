#include "tools/cepack/host_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "support/text.h"

namespace fs = std::filesystem;

namespace cepack {

fs::path AbsoluteHostPath(const std::string& utf8) {
    std::error_code ec;
    fs::path absolute = fs::absolute(HostPath(utf8), ec);
    return ec ? HostPath(utf8) : absolute;
}

const char* const UnlistableDirectoryText =
    "its path is longer than the 259 characters cepack can list on Windows; move the folder higher up";

#ifdef _WIN32

bool ListableDirectory(const fs::path& directory) {
    std::error_code ec;
    fs::path absolute = fs::absolute(directory, ec);
    // Room for the "\*" of the search.
    return !ec && absolute.native().size() + 2 < MAX_PATH;
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

FILE* OpenHostFile(const fs::path& path, const char* mode) {
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
}

bool ReadHostFileInfo(const fs::path& path, HostFileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    // 100-ns ticks since 1601 to seconds since 1970: the same count the
    // POSIX build reads, so both date an entry alike.
    uint64_t ticks = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    info->modified = static_cast<time_t>(ticks / 10000000 - 11644473600LL);
    info->writable = !(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    return true;
}

bool IsReadableFile(const fs::path& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool file = GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return file;
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

bool ListableDirectory(const fs::path&) { return true; }

fs::path HostPath(const std::string& utf8) { return fs::path(utf8); }
std::string Utf8Of(const fs::path& path) { return path.string(); }
std::string GenericUtf8Of(const fs::path& path) { return path.generic_string(); }
FILE* OpenHostFile(const fs::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

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

namespace {

// Decodes one UTF-8 sequence at text[i]; -1 for a malformed one.
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

}  // namespace

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
