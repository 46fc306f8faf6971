#include "installer/copy_files.h"

#include <cstdlib>

#include "installer/backup_name.h"
#include "installer/destination.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "installer/texts.h"
#include "support/file_identity.h"
#include "support/file_layer.h"
#include "support/heap_array.h"
#include "support/progress.h"
#include "support/text.h"

CopyUi TheCopyUi = {};

namespace {

constexpr FileOpenMode ReadOnlyMode = 0x00;
constexpr FileOpenMode ReadWriteMode = 0x02;

void SetLine(int id, const char* text) {
    if (TheCopyUi.SetLine) TheCopyUi.SetLine(id, text);
}

void ShowWarning(int text, const char* path) {
    if (TheCopyUi.ShowWarning) TheCopyUi.ShowWarning(text, path);
}

// dir + name into a JoinedPathSize buffer; both are at most 259 characters.
void JoinPath(const char* dir, const char* name, char* out) {
    TextCopyMax(out, dir, PathMaxChars);
    TextAppendMax(out, name, JoinedPathSize - 1);
}

bool FitsPath(const char* path) { return TextLength(path) <= PathMaxChars; }

// Nearest integer, ties to even, for the non-negative percents.
int32_t RoundPercent(double value) {
    int64_t whole = static_cast<int64_t>(value);
    double fraction = value - static_cast<double>(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0)) ++whole;
    return static_cast<int32_t>(whole);
}

// A found directory entry's size and time; false when nothing is there.
bool LookUp(const char* path, DirEntry* entry) {
    if (!FitsPath(path)) return false;
    BeginDirSearch(path, AllEntryKinds, entry);
    bool found = LastFileError == ErrorSuccess;
    EndDirSearch(entry);
    return found;
}

class FileGuard {
public:
    explicit FileGuard(FileHandle handle) : handle_(handle) {}
    ~FileGuard() { Close(); }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    FileHandle Get() const { return handle_; }
    bool IsOpen() const { return handle_ != InvalidFileHandle; }
    void Close() {
        if (handle_ != InvalidFileHandle) CloseFileHandle(handle_);
        handle_ = InvalidFileHandle;
    }

private:
    FileHandle handle_;
};

enum : int { BlocksDone = 0 };

// The block loop of CopyOneFile (step 9): 0 when the source is copied.
int CopyBlocks(FileGuard& source, FileGuard& destination, uint32_t size) {
    HeapArray<uint8_t> buffer(CopyBlockSize);
    if (buffer.Get() == nullptr) return CopyWriteFailed;
    uint32_t copied = 0;
    uint16_t n = 0;
    do {
        PumpMessages();
        if (UserCancelled) return CopyCancelled;
        ReadFileBlock(source.Get(), buffer.Get(), CopyBlockSize, &n);
        if (LastFileError != ErrorSuccess) return CopyReadFailed;
        if (size > CopyBlockSize) ShowEntryPercent(RoundPercent((copied + n / 2) * 100.0 / size));
        uint16_t written = 0;
        WriteFileBlock(destination.Get(), buffer.Get(), n, &written);
        if (LastFileError != ErrorSuccess || written != n) return CopyWriteFailed;
        copied += n;
        if (size > 0) ShowEntryPercent(RoundPercent(copied * 100.0 / size));
    } while (n == CopyBlockSize);
    return BlocksDone;
}

void CopyTimeAndAttributes(const char* destination, PackedDateTime time, uint16_t attributes) {
    FileGuard file(OpenExistingFile(destination, ReadWriteMode));
    if (file.IsOpen()) SetFilePackedTime(file.Get(), time);
    file.Close();
    SetPathAttributes(destination, attributes);
}

// Windows refuses to truncate a read-only, hidden or system file, which an
// earlier installation may have left (entries carry these attributes): the
// update would stop half-way, after the files in front were replaced. The
// copy gets the source's attributes afterwards.
void ClearReplacedAttributes(const char* destination) {
    uint32_t attributes = GetPathAttributes(destination);
    if (LastFileError != ErrorSuccess || (attributes & AttrDirectory) != 0) return;
    if ((attributes & (AttrReadOnly | AttrHidden | AttrSystem)) != 0) SetPathAttributes(destination, AttrNormal);
}

// The system reads "/" as a separator too: it is written as one, so that
// the checks below see every folder. No trail byte is "/".
void UseBackslashes(char* name) {
    for (char* p = name; *p != 0; ++p) {
        if (*p == '/') *p = '\\';
    }
}

// A list entry's name as a path below SourceDir and DestinationDir.
void EntryPath(const char* entry, char* name) {
    EntryName(entry, name, PathBufferSize);
    UseBackslashes(name);
}

}  // namespace

bool MakeEntryDirectories(const char* dir, const char* name) {
    if (!IsContainedEntryName(name) || TextLength(dir) > static_cast<size_t>(PathMaxChars)) return false;
    char path[JoinedPathSize];
    JoinPath(dir, name, path);
    if (!FitsPath(path)) return false;
    for (char* p = ScanChar(path + TextLength(dir), '\\'); p != nullptr; p = ScanChar(p + 1, '\\')) {
        *p = 0;
        uint32_t attributes = GetPathAttributes(path);
        if (LastFileError != ErrorSuccess) {
            MakeDirectory(path);
            if (LastFileError != ErrorSuccess) return false;
        } else if ((attributes & AttrDirectory) == 0) {
            return false;
        }
        *p = '\\';
    }
    return true;
}

int CopyOneFile(const char* source, const char* destination, int32_t* runningCount) {
    char line[JoinedPathSize + 2] = "\r";
    TextAppendMax(line, destination, sizeof line - 1);
    SetLine(FileLineId, line);
    ShowEntryPercent(0);
    // A path too long for the system's buffers fails its file, never cut.
    if (!FitsPath(source)) return CopyReadFailed;
    if (!FitsPath(destination)) return CopyCreateFailed;

    uint32_t attributes = GetPathAttributes(source);
    if (LastFileError != ErrorSuccess) attributes = 0;
    FileGuard in(OpenExistingFile(source, ReadOnlyMode));
    if (!in.IsOpen()) return CopyReadFailed;
    // The destination is never opened when it is the source, so a file is
    // never truncated onto itself, whatever spelling its paths use.
    if (TextCompareNoCase(source, destination) == 0 || SameExistingFile(source, destination)) return CopySameFile;
    PackedDateTime time = GetFilePackedTime(in.Get());

    ClearReplacedAttributes(destination);
    FileGuard out(CreateOrTruncateFile(destination, 0));
    if (!out.IsOpen()) return CopyCreateFailed;
    uint32_t size = GetOpenFileSize(in.Get());
    BeginProgressEntry(*runningCount, static_cast<int32_t>(size));
    *runningCount = static_cast<int32_t>(static_cast<uint32_t>(*runningCount) + size);

    int result = CopyBlocks(in, out, size);
    if (result != BlocksDone) {
        out.Close();
        RemoveFile(destination);
        if (result == CopyWriteFailed) SoundBeep();
        return result;
    }
    out.Close();
    CopyTimeAndAttributes(destination, time, static_cast<uint16_t>(attributes));
    return CopyDone;
}

int32_t SumSourceSizes() {
    uint32_t total = 0;
    char entry[PathBufferSize];
    for (int number = 1; ReadFileListEntry(InstallSection, number, entry); ++number) {
        char name[PathBufferSize];
        char path[JoinedPathSize];
        EntryPath(entry, name);
        if (!IsContainedEntryName(name)) continue;
        JoinPath(SourceDir, name, path);
        DirEntry found;
        if (LookUp(path, &found)) total += found.Size;
    }
    return static_cast<int32_t>(total);
}

namespace {

// The first digit whose name does not exist goes into the slot; '9' when
// '0' to '8' all exist, so that one file keeps at most ten backups.
void ChooseBackupDigit(char* name, int slot) {
    for (char digit = '0'; digit <= '9'; ++digit) {
        name[slot] = digit;
        DirEntry found;
        if (digit == '9' || !LookUp(name, &found)) return;
    }
}

}  // namespace

void BackupExistingFiles() {
    char entry[PathBufferSize];
    for (int number = 1; ReadPlainListEntry("Backup data", number, entry); ++number) {
        // The whole value is the name here; one that leads out of the
        // destination has nothing there to keep.
        UseBackslashes(entry);
        if (!IsContainedEntryName(entry)) continue;
        char existing[JoinedPathSize];
        JoinPath(DestinationDir, entry, existing);
        DirEntry found;
        if (!LookUp(existing, &found)) continue;
        char backup[PathBufferSize];
        int slot = MakeBackupPattern(DestinationDir, entry, backup, sizeof backup);
        if (slot < 0) continue;
        ChooseBackupDigit(backup, slot);
        int32_t ownCount = 0;
        CopyOneFile(existing, backup, &ownCount);
    }
}

int CompareForUpdate(const char* source, const char* destination) {
    DirEntry from;
    DirEntry to;
    if (!LookUp(destination, &to)) return 0;
    // A missing source is copied, so that its read failure is reported.
    if (!LookUp(source, &from)) return 0;
    // Packed times, as a copy leaves them: an odd second of the source does
    // not make it newer than its own earlier copy.
    return from.Time > to.Time ? 0 : 1;
}

namespace {

int ReportCopyResult(int result, const char* source, const char* destination) {
    switch (result) {
        case CopySameFile:
            return CopyDone;
        case CopyReadFailed:
            ShowWarning(ReadErrorText, source);
            break;
        case CopyCreateFailed:
            ShowWarning(WriteErrorText, destination);
            break;
        case CopyCancelled:
            ShowWarning(AbortedText, nullptr);
            break;
        case CopyWriteFailed:
            ShowWarning(DiskFullText, nullptr);
            break;
        default:
            break;
    }
    return result;
}

}  // namespace

int InstallFiles() {
    int32_t runningCount = 0;
    int result = CopyDone;
    char entry[PathBufferSize];
    for (int number = 1; result == CopyDone && ReadFileListEntry(InstallSection, number, entry); ++number) {
        char name[PathBufferSize];
        char flags[PathBufferSize];
        EntryPath(entry, name);
        EntryFlags(entry, flags, sizeof flags);
        char source[JoinedPathSize];
        char destination[JoinedPathSize];
        JoinPath(SourceDir, name, source);
        JoinPath(DestinationDir, name, destination);
        // A name that leads out of the destination fails as an unwritable
        // one, before anything is read or made for it. A folder that cannot
        // be made fails at the copy, after the source is checked.
        if (!IsContainedEntryName(name)) {
            result = ReportCopyResult(CopyCreateFailed, source, destination);
            continue;
        }
        MakeEntryDirectories(DestinationDir, name);
        if ((flags[0] == 'W' || flags[0] == 'S') && CompareForUpdate(source, destination) != 0) continue;
        result = ReportCopyResult(CopyOneFile(source, destination, &runningCount), source, destination);
    }
    return result;
}
