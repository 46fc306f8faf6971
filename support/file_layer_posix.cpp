// The file layer's POSIX backend for the host build (cepack, tests, fuzzers).
// It gives the Win32 backend's observable results: Windows error numbers in
// LastFileError, DirEntry fields, local MS-DOS stamps. Where POSIX must differ:
//  - paths arrive with "\" separators; they become "/" at the system call. A
//    path that begins with "\" starts at the root "/", which stands in for a
//    drive root. Like the ANSI Win32 calls, a path of more than 259
//    characters is refused (ERROR_FILENAME_EXCED_RANGE).
//  - share modes are not enforced: POSIX has no mandatory sharing.
//  - attributes come from the mode bits: directory 0x10, files carry archive
//    0x20, read-only 0x01 means no owner write bit (set only on files).
//    Hidden and system are never set. Because root may write anything, the
//    read-only bit is checked here before a file is written, truncated or
//    removed, as Windows does for every user. Directories are never made
//    read-only: an unwritable POSIX directory would refuse new files.
//  - the current directory cannot be removed, as on Windows, which holds it
//    open; a directory is not a file to open.
//  - there are no 8.3 names, so ShortName stays empty.
//  - the directory search matches "*" and "?" itself, case-insensitively
//    like Windows (opening a file stays case-sensitive); "." and ".." are
//    reported in every directory, as Windows does for a non-root directory.
//  - local time uses the current offset from UTC, as FileTimeToLocalFileTime
//    does (not the offset in force at the stamp's date).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "support/file_layer.h"
#include "support/file_layer_backend.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

// ---- Paths and errors -------------------------------------------------------

// Native form of a core path, or the error for one that is too long.
uint32_t ToNative(const char* path, char* native) {
    if (TextLength(path) > PathMaxChars) return ErrorFilenameExcedRange;
    TextCopy(native, path);
    // By characters: a double-byte character's trail byte may equal "\".
    for (char* p = native; *p; p = DbcsEnabled ? NextCharOf(p) : p + 1) {
        if (*p == '\\') *p = '/';
    }
    return ErrorSuccess;
}

// Converts path for an operation that reports through LastFileError.
bool NativeOrFail(const char* path, char* native) {
    uint32_t error = ToNative(path, native);
    if (error != ErrorSuccess) LastFileError = error;
    return error == ErrorSuccess;
}

bool IsDirectoryPath(const char* native) {
    struct stat info;
    return stat(native, &info) == 0 && S_ISDIR(info.st_mode);
}

// Windows tells "the file is missing" (2) from "a directory on the way is
// missing" (3); ENOENT covers both, so look at the parent directory.
uint32_t MissingPathError(const char* native) {
    char parent[PathBufferSize];
    TextCopy(parent, native);
    size_t length = TextLength(parent);
    if (length == 0) return ErrorPathNotFound;
    while (length > 1 && parent[length - 1] == '/') parent[--length] = 0;
    char* slash = ByteScanBack(parent, '/');
    if (slash == nullptr) return IsDirectoryPath(".") ? ErrorFileNotFound : ErrorPathNotFound;
    slash[slash == parent ? 1 : 0] = 0;
    return IsDirectoryPath(parent) ? ErrorFileNotFound : ErrorPathNotFound;
}

uint32_t ErrorOfErrno(int error, const char* native) {
    switch (error) {
        case 0: return ErrorGenFailure;  // a failure without a reason is still a failure
        case ENOENT: return native ? MissingPathError(native) : ErrorFileNotFound;
        case ENOTDIR: return ErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return ErrorAccessDenied;
        case EEXIST: return ErrorFileExists;
        case ENOTEMPTY: return ErrorDirNotEmpty;
        case ENOSPC:
        case EDQUOT: return ErrorDiskFull;
        case EROFS: return ErrorWriteProtect;
        case ENAMETOOLONG: return ErrorFilenameExcedRange;
        case EMFILE:
        case ENFILE: return ErrorTooManyOpenFiles;
        case EBADF: return ErrorInvalidHandle;
        case EINVAL: return ErrorInvalidParameter;
        case ENOMEM: return ErrorNotEnoughMemory;
        case ETXTBSY:
        case EBUSY: return ErrorSharingViolation;
        case ELOOP: return ErrorCantResolveFilename;
        case EFBIG: return ErrorFileTooLarge;
        case ESPIPE: return ErrorInvalidFunction;
        default: return ErrorGenFailure;
    }
}

void SetErrnoError(const char* native) { LastFileError = ErrorOfErrno(errno, native); }

// ---- Handles ----------------------------------------------------------------

// A handle is the descriptor itself. 0 is never handed out: callers of
// CreateFileWithDirectories read 0 as "no handle".
int FdOf(FileHandle handle) {
    auto value = reinterpret_cast<intptr_t>(handle);
    return value > 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
}

FileHandle HandleOf(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd)); }

// EBADF from read or write: a descriptor that exists was opened without that
// access, which Windows reports as access denied.
uint32_t TransferError(int fd) {
    if (errno == EBADF && fcntl(fd, F_GETFL) != -1) return ErrorAccessDenied;
    return ErrorOfErrno(errno, nullptr);
}

bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

uint32_t AttributesOfMode(mode_t mode) {
    uint32_t attributes = S_ISDIR(mode) ? AttrDirectory : AttrArchive;
    if (IsReadOnlyMode(mode)) attributes |= AttrReadOnly;
    return attributes;
}

FileTime FileTimeOf(const struct timespec& t) {
    int64_t seconds = static_cast<int64_t>(t.tv_sec) + UnixEpochSeconds;
    if (seconds < 0) return 0;
    return static_cast<FileTime>(seconds) * FileTimeTicksPerSecond + static_cast<FileTime>(t.tv_nsec) / 100;
}

// Seconds to add to UTC for local time, as now.
int64_t CurrentUtcOffset() {
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}

int OpenFlagsFor(uint32_t access, uint32_t disposition) {
    int flags = O_CLOEXEC;
    if (access == (GenericRead | GenericWrite)) flags |= O_RDWR;
    else if (access == GenericWrite) flags |= O_WRONLY;
    else if (access == GenericRead) flags |= O_RDONLY;
    else
#ifdef O_PATH
        flags |= O_PATH;  // no data access: reads and writes fail as on Windows
#else
        flags |= O_RDONLY;
#endif
    switch (disposition) {
        case CreateNew: return flags | O_CREAT | O_EXCL;
        case CreateAlways: return flags | O_CREAT | O_TRUNC;
        case OpenExisting: return flags;
        case OpenAlways: return flags | O_CREAT;
        case TruncateExisting: return flags | O_TRUNC;
        default: return -1;
    }
}

// Windows refuses to open a directory as a file and to write to or truncate
// a read-only file; POSIX would allow either (root even writes read-only files).
uint32_t RefusalBeforeOpen(const char* native, int flags) {
    struct stat info;
    if (stat(native, &info) != 0) return ErrorSuccess;  // open reports what is missing
    if (flags & O_EXCL) return ErrorFileExists;
    if (S_ISDIR(info.st_mode)) return ErrorAccessDenied;
    bool writes = (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC);
    if (writes && IsReadOnlyMode(info.st_mode)) return ErrorAccessDenied;
    return ErrorSuccess;
}

int OpenRetrying(const char* native, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(native, flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd == 0) {
        // Keep 0 free for "no handle".
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        int saved = errno;
        close(fd);
        errno = saved;
        fd = moved;
    }
    return fd;
}

}  // namespace

FileHandle OpenFileHandle(const char* path, uint32_t flagsAndAttributes, uint32_t creationDisposition,
                          uint16_t mode) {
    OpenRequest request = OpenRequestFor(creationDisposition, mode);
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return InvalidFileHandle;
    int flags = OpenFlagsFor(request.Access, creationDisposition);
    if (flags == -1) {
        LastFileError = ErrorInvalidParameter;
        return InvalidFileHandle;
    }
    uint32_t refusal = RefusalBeforeOpen(native, flags);
    if (refusal != ErrorSuccess) {
        LastFileError = refusal;
        return InvalidFileHandle;
    }
    // A new file made with the read-only attribute gets no write bits.
    mode_t create_mode = (flagsAndAttributes & AttrReadOnly) ? 0444 : 0666;
    int fd = OpenRetrying(native, flags, create_mode);
    if (fd < 0) {
        SetErrnoError(native);
        return InvalidFileHandle;
    }
    LastFileError = ErrorSuccess;
    return HandleOf(fd);
}

void CloseFileHandle(FileHandle handle) {
    // After EINTR the descriptor is gone on Linux: retrying could close another.
    bool ok = close(FdOf(handle)) == 0 || errno == EINTR;
    LastFileError = ok ? ErrorSuccess : ErrorOfErrno(errno, nullptr);
}

void ReadFileBlock(FileHandle handle, void* buffer, uint16_t count, uint16_t* done) {
    int fd = FdOf(handle);
    size_t total = 0;
    LastFileError = ErrorSuccess;
    while (total < count) {
        ssize_t n = read(fd, static_cast<char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) LastFileError = TransferError(fd);
        if (n <= 0) break;  // end of file, or failure
        total += static_cast<size_t>(n);
    }
    *done = static_cast<uint16_t>(total);
}

void WriteFileBlock(FileHandle handle, const void* buffer, uint16_t count, uint16_t* done) {
    int fd = FdOf(handle);
    size_t total = 0;
    LastFileError = ErrorSuccess;
    while (total < count) {
        ssize_t n = write(fd, static_cast<const char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that makes no progress has no room left.
            LastFileError = n < 0 ? TransferError(fd) : ErrorDiskFull;
            break;
        }
        total += static_cast<size_t>(n);
    }
    *done = static_cast<uint16_t>(total);
}

int32_t SeekFileHandle(FileHandle handle, int32_t distance, uint8_t method) {
    static const int whence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (method > 2) {
        LastFileError = ErrorInvalidParameter;
        return -1;
    }
    off_t position = lseek(FdOf(handle), distance, whence[method]);
    if (position < 0) {
        // EINVAL here means the result would lie in front of the file's start.
        LastFileError = errno == EINVAL ? ErrorNegativeSeek : ErrorOfErrno(errno, nullptr);
        return -1;
    }
    LastFileError = ErrorSuccess;
    return static_cast<int32_t>(static_cast<uint32_t>(position));  // sizes below 4 GiB
}

void RemoveFile(const char* path) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return;
    struct stat info;
    if (lstat(native, &info) == 0 && (S_ISDIR(info.st_mode) || IsReadOnlyMode(info.st_mode))) {
        LastFileError = ErrorAccessDenied;
        return;
    }
    if (unlink(native) != 0) {
        SetErrnoError(native);
        return;
    }
    LastFileError = ErrorSuccess;
}

void MakeDirectory(const char* path) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return;
    if (mkdir(native, 0777) != 0) {
        LastFileError = errno == EEXIST ? ErrorAlreadyExists : ErrorOfErrno(errno, native);
        return;
    }
    SetPathAttributes(path, 0);
    LastFileError = ErrorSuccess;
}

void RemoveDirectoryPath(const char* path) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return;
    struct stat info, current;
    if (stat(native, &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            LastFileError = ErrorDirectory;
            return;
        }
        // Windows keeps the current directory open: it cannot be removed.
        if (stat(".", &current) == 0 && current.st_dev == info.st_dev && current.st_ino == info.st_ino) {
            LastFileError = ErrorSharingViolation;
            return;
        }
    }
    if (rmdir(native) != 0) {
        LastFileError = errno == EEXIST ? ErrorDirNotEmpty : ErrorOfErrno(errno, native);
        return;
    }
    LastFileError = ErrorSuccess;
}

void ChangeCurrentDirectory(const char* path) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return;
    if (*native == 0) {
        LastFileError = ErrorInvalidName;  // as SetCurrentDirectoryA("")
        return;
    }
    if (chdir(native) != 0) {
        struct stat info;
        bool is_file = errno == ENOTDIR && stat(native, &info) == 0 && !S_ISDIR(info.st_mode);
        LastFileError = is_file ? ErrorDirectory : ErrorOfErrno(errno, native);
        return;
    }
    LastFileError = ErrorSuccess;
}

void SetPathAttributes(const char* path, uint16_t attributes) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return;
    struct stat info;
    if (stat(native, &info) != 0) {
        SetErrnoError(native);
        return;
    }
    // Only the read-only bit has a POSIX counterpart, and only for files: a
    // read-only directory still takes new files on Windows, an unwritable
    // POSIX one would not.
    mode_t mode = info.st_mode & 07777;
    uint32_t value = attributes != 0 ? uint32_t{attributes} : uint32_t{AttrNormal};
    bool read_only = (value & AttrReadOnly) != 0 && !S_ISDIR(info.st_mode);
    mode = read_only ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (chmod(native, mode) != 0) {
        SetErrnoError(native);
        return;
    }
    LastFileError = ErrorSuccess;
}

uint32_t GetPathAttributes(const char* path) {
    char native[PathBufferSize];
    if (!NativeOrFail(path, native)) return 0;
    struct stat info;
    if (stat(native, &info) != 0) {
        SetErrnoError(native);
        return 0;
    }
    LastFileError = ErrorSuccess;
    return AttributesOfMode(info.st_mode);
}

// ---- Directory search -------------------------------------------------------

namespace {

struct PosixSearch {
    DIR* Directory;
    char Pattern[PathBufferSize];  // the name part, matched against each entry
};

unsigned char FoldAscii(char c) {
    auto b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - ('a' - 'A')) : b;
}

// Windows' name matching: "*" any run, "?" one character, case-insensitive;
// dots and stars at the end of the pattern may match nothing, so "*.*"
// matches every name and "name.*" matches "name".
bool MatchesPattern(const char* name, const char* pattern) {
    const char* retry_name = nullptr;
    const char* retry_pattern = nullptr;
    while (*name) {
        if (*pattern == '*') {
            while (*pattern == '*') ++pattern;
            if (*pattern == 0) return true;
            retry_pattern = pattern;
            retry_name = name;
            continue;
        }
        if (*pattern != 0 && (*pattern == '?' || FoldAscii(*pattern) == FoldAscii(*name))) {
            ++pattern;
            ++name;
            continue;
        }
        if (retry_pattern == nullptr) return false;
        name = ++retry_name;
        pattern = retry_pattern;
    }
    while (*pattern == '*' || *pattern == '.') ++pattern;
    return *pattern == 0;
}

// The next entry whose name matches; false at the end of the directory.
bool NextMatch(PosixSearch* search, FoundEntry* found) {
    for (;;) {
        errno = 0;
        struct dirent* item = readdir(search->Directory);
        if (item == nullptr) return false;
        if (!MatchesPattern(item->d_name, search->Pattern)) continue;
        struct stat info;
        int dir_fd = dirfd(search->Directory);
        // A dangling link still has an entry of its own.
        if (fstatat(dir_fd, item->d_name, &info, 0) != 0 &&
            fstatat(dir_fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // vanished since readdir
        }
        found->Attributes = AttributesOfMode(info.st_mode);
        found->Size = static_cast<uint64_t>(info.st_size);
        found->WriteTime = FileTimeOf(info.st_mtim);
        TextCopyMax(found->LongName, item->d_name, PathMaxChars);
        found->ShortName[0] = 0;
        return true;
    }
}

void FreeSearch(PosixSearch* search) {
    if (search->Directory) closedir(search->Directory);
    std::free(search);
}

}  // namespace

uint32_t SystemFindFirst(const char* pattern, void** search_out, FoundEntry* found) {
    *search_out = InvalidFileHandle;
    char native[PathBufferSize];
    if (uint32_t error = ToNative(pattern, native)) return error;
    auto* search = static_cast<PosixSearch*>(std::malloc(sizeof(PosixSearch)));
    if (search == nullptr) return ErrorNotEnoughMemory;
    search->Directory = nullptr;
    // Split into the directory to read and the name pattern to match.
    char* slash = ByteScanBack(native, '/');
    const char* directory = ".";
    if (slash != nullptr) {
        TextCopy(search->Pattern, slash + 1);
        slash[slash == native ? 1 : 0] = 0;
        directory = native;
    } else {
        TextCopy(search->Pattern, native);
    }
    search->Directory = opendir(directory);
    if (search->Directory == nullptr) {
        // The directory the pattern names is missing: the path is not found.
        uint32_t error = errno == ENOENT ? ErrorPathNotFound : ErrorOfErrno(errno, directory);
        FreeSearch(search);
        return error;
    }
    if (!NextMatch(search, found)) {
        uint32_t error = errno != 0 ? ErrorOfErrno(errno, nullptr) : ErrorFileNotFound;
        FreeSearch(search);
        return error;
    }
    *search_out = search;
    return ErrorSuccess;
}

uint32_t SystemFindNext(void* search, FoundEntry* found) {
    if (search == InvalidFileHandle || search == nullptr) return ErrorInvalidHandle;
    if (NextMatch(static_cast<PosixSearch*>(search), found)) return ErrorSuccess;
    return errno != 0 ? ErrorOfErrno(errno, nullptr) : ErrorNoMoreFiles;
}

uint32_t SystemFindClose(void* search) {
    if (search == InvalidFileHandle || search == nullptr) return ErrorInvalidHandle;
    FreeSearch(static_cast<PosixSearch*>(search));
    return ErrorSuccess;
}

// ---- Date and time ----------------------------------------------------------

namespace {

constexpr int64_t SecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t UnixEpochDays = UnixEpochSeconds / SecondsPerDay;

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static const uint8_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2);
}

// SystemTimeToFileTime: false for parts Windows rejects (month 0, 30 February, ...).
bool PartsToFileTime(const DateTimeParts& parts, FileTime* time) {
    if (parts.Year < 1601 || parts.Month < 1 || parts.Month > 12 || parts.Day < 1 ||
        parts.Day > DaysInMonth(parts.Year, parts.Month) || parts.Hour > 23 || parts.Minute > 59 ||
        parts.Second > 59) {
        return false;
    }
    int64_t days = DaysFromCivil(parts.Year, parts.Month, parts.Day) + UnixEpochDays;
    int64_t seconds = days * SecondsPerDay + parts.Hour * 3600 + parts.Minute * 60 + parts.Second;
    *time = static_cast<FileTime>(seconds) * FileTimeTicksPerSecond;
    return true;
}

// FileTimeToSystemTime without weekday and milliseconds; false from 2^63 on.
bool FileTimeToParts(FileTime time, DateTimeParts* parts) {
    if (time >> 63) return false;
    auto seconds = static_cast<int64_t>(time / FileTimeTicksPerSecond);
    int64_t days = seconds / SecondsPerDay;
    int64_t rest = seconds % SecondsPerDay;
    int64_t y, m, d;
    CivilFromDays(days - UnixEpochDays, &y, &m, &d);
    parts->Year = static_cast<uint16_t>(y);
    parts->Month = static_cast<uint16_t>(m);
    parts->Day = static_cast<uint16_t>(d);
    parts->Hour = static_cast<uint16_t>(rest / 3600);
    parts->Minute = static_cast<uint16_t>(rest / 60 % 60);
    parts->Second = static_cast<uint16_t>(rest % 60);
    return true;
}

// UTC to local by the current offset; false where the result is not a valid time.
bool LocalPartsOf(FileTime utc, DateTimeParts* parts) {
    int64_t offset = CurrentUtcOffset() * static_cast<int64_t>(FileTimeTicksPerSecond);
    if (utc >> 63) return false;
    int64_t local = static_cast<int64_t>(utc) + offset;
    if (local < 0) return false;
    return FileTimeToParts(static_cast<FileTime>(local), parts);
}

}  // namespace

PackedDateTime FileTimeToPacked(FileTime utc) {
    DateTimeParts parts = {};
    LocalPartsOf(utc, &parts);
    return PackDateTime(parts);
}

void PackedToFileTime(PackedDateTime packed, FileTime* utc) {
    DateTimeParts parts;
    UnpackDateTime(packed, &parts);
    FileTime local = 0;
    *utc = 0;
    if (!PartsToFileTime(parts, &local)) return;
    int64_t offset = CurrentUtcOffset() * static_cast<int64_t>(FileTimeTicksPerSecond);
    int64_t universal = static_cast<int64_t>(local) - offset;
    if (universal >= 0) *utc = static_cast<FileTime>(universal);
}

bool LocalDosStamp(FileTime utc, PackedDateTime* packed) {
    DateTimeParts parts;
    if (!LocalPartsOf(utc, &parts) || parts.Year < 1980 || parts.Year > 2107) return false;
    *packed = PackDateTime(parts);
    return true;
}

PackedDateTime GetFilePackedTime(FileHandle handle) {
    struct stat info;
    if (fstat(FdOf(handle), &info) != 0) {
        LastFileError = ErrorOfErrno(errno, nullptr);
        return 0;
    }
    LastFileError = ErrorSuccess;
    return FileTimeToPacked(FileTimeOf(info.st_mtim));
}

void SetFilePackedTime(FileHandle handle, PackedDateTime packed) {
    FileTime utc;
    PackedToFileTime(packed, &utc);
    int64_t seconds = static_cast<int64_t>(utc / FileTimeTicksPerSecond) - UnixEpochSeconds;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // only the last-write time changes
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(utc % FileTimeTicksPerSecond) * 100;
    if (futimens(FdOf(handle), times) != 0) {
        LastFileError = ErrorOfErrno(errno, nullptr);
        return;
    }
    LastFileError = ErrorSuccess;
}

// ---- Roots ------------------------------------------------------------------

// No drives on POSIX: the root "\" plays the drive root's part.
bool IsDriveRootPath(const char* path) { return path[0] == '\\' && path[1] == 0; }

bool DriveRootOf(const char* component, char* root) {
    if (component[0] != 0) return false;
    root[0] = '\\';
    root[1] = 0;
    return true;
}
