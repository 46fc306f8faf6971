// The portable half of the file layer: the rules that sit on top of the
// system calls (open modes, the search's attribute mask, date packing, path
// kinds and the directory walk), shared by the Win32 and POSIX backends.
#include "support/file_layer.h"

#include "support/file_layer_backend.h"
#include "support/text.h"

constinit CE_PER_THREAD uint32_t LastFileError = 0;
bool UseLongNames = false;

void SetUseLongNames(bool on) { UseLongNames = on; }

// ---- Opening ----------------------------------------------------------------

namespace {

uint32_t AccessOfMode(uint8_t mode) {
    switch (mode & 0x0F) {
        case 0: return GenericRead;
        case 1: return GenericWrite;
        case 2: return GenericRead | GenericWrite;
        default: return 0;  // no data access
    }
}

uint32_t ShareOfMode(uint8_t mode) {
    switch (mode >> 4) {
        case 0: return ShareRead | ShareWrite;  // compatible
        case 2: return ShareRead;               // deny write
        case 3: return ShareWrite;              // deny read
        case 4: return ShareRead | ShareWrite;  // deny none
        default: return 0;                      // exclusive, and 5-15
    }
}

}  // namespace

OpenRequest OpenRequestFor(uint32_t creationDisposition, uint16_t mode) {
    auto m = static_cast<uint8_t>(mode);
    // Anything that may create or truncate needs read/write access.
    if (creationDisposition != OpenExisting) m = static_cast<uint8_t>((m & 0xF0) | 2);
    return OpenRequest{AccessOfMode(m), ShareOfMode(m)};
}

FileHandle OpenExistingFile(const char* path, FileOpenMode mode) { return OpenFileHandle(path, 0, OpenExisting, mode); }

FileHandle CreateOrTruncateFile(const char* path, uint32_t attributes) {
    return OpenFileHandle(path, attributes, CreateAlways, 0);
}

uint32_t GetOpenFileSize(FileHandle handle) {
    int32_t position = SeekFileHandle(handle, 0, 1);
    uint32_t size = 0;
    if (LastFileError == ErrorSuccess) size = static_cast<uint32_t>(SeekFileHandle(handle, 0, 2));
    SeekFileHandle(handle, position, 0);
    return size;
}

// ---- Directory search -------------------------------------------------------

namespace {

// The archive bit never excludes an entry; every other bit must be named by the mask.
bool EntryMatches(uint32_t attributes, uint16_t mask) {
    return (attributes & 0x3F & ~(static_cast<uint32_t>(mask) | AttrArchive)) == 0;
}

void FillDirEntry(DirEntry* entry, const FoundEntry& found) {
    TextCopyMax(entry->Name, found.LongName, PathMaxChars);
    if (!UseLongNames && found.ShortName[0] != 0) TextCopyMax(entry->Name, found.ShortName, PathMaxChars);
    if (TextCompare(found.LongName, found.ShortName) != 0) {
        TextCopyMax(entry->ShortName, found.ShortName, sizeof entry->ShortName - 1);
    } else {
        entry->ShortName[0] = 0;
    }
    entry->Size = static_cast<uint32_t>(found.Size);
    entry->FileSize = (found.Attributes & AttrDirectory) ? 0 : entry->Size;
    entry->Attr = static_cast<uint8_t>(found.Attributes & 0x3F);
    entry->Attributes = static_cast<uint16_t>(found.Attributes);
    entry->WriteTime = found.WriteTime;
    entry->Time = FileTimeToPacked(found.WriteTime);
}

// The search ended without an entry: close it and make sure the caller sees
// a failure even where the system left no error code.
void EndSearchWith(DirEntry* entry, void* search, uint32_t error, uint32_t fallback) {
    LastFileError = error != 0 ? error : fallback;
    if (search != InvalidFileHandle) SystemFindClose(search);
    entry->SearchHandle = InvalidFileHandle;
}

}  // namespace

void BeginDirSearch(const char* pattern, uint16_t mask, DirEntry* entry) {
    FoundEntry found;
    void* search = InvalidFileHandle;
    uint32_t error = SystemFindFirst(pattern, &search, &found);
    while (error == 0 && !EntryMatches(found.Attributes, mask)) error = SystemFindNext(search, &found);
    if (error != 0) {
        EndSearchWith(entry, search, error, ErrorFileNotFound);
        return;
    }
    entry->SearchHandle = search;
    entry->Mask = mask;
    FillDirEntry(entry, found);
    LastFileError = ErrorSuccess;
}

void ContinueDirSearch(DirEntry* entry) {
    // An ended search reports its end again, so that a loop that runs while
    // LastFileError is 0 stops.
    if (entry->SearchHandle == InvalidFileHandle) {
        LastFileError = ErrorNoMoreFiles;
        return;
    }
    FoundEntry found;
    uint32_t error;
    do {
        error = SystemFindNext(entry->SearchHandle, &found);
    } while (error == 0 && !EntryMatches(found.Attributes, entry->Mask));
    if (error != 0) {
        EndSearchWith(entry, entry->SearchHandle, error, ErrorNoMoreFiles);
        return;
    }
    FillDirEntry(entry, found);
    LastFileError = ErrorSuccess;
}

void EndDirSearch(DirEntry* entry) {
    if (entry->SearchHandle != InvalidFileHandle) LastFileError = SystemFindClose(entry->SearchHandle);
    entry->SearchHandle = InvalidFileHandle;
}

bool IsExistingFile(const char* path) {
    FoundEntry found;
    void* search = InvalidFileHandle;
    if (SystemFindFirst(path, &search, &found) != 0) return false;
    SystemFindClose(search);
    PackedDateTime stamp;
    return (found.Attributes & AttrDirectory) == 0 && LocalDosStamp(found.WriteTime, &stamp);
}

// ---- Date and time ----------------------------------------------------------

PackedDateTime PackDateTime(const DateTimeParts& parts) {
    // 16-bit sums without masking: out-of-range parts carry into their neighbours.
    uint32_t date = ((uint32_t{parts.Year} - 1980u) << 9) + (uint32_t{parts.Month} << 5) + parts.Day;
    uint32_t time = (uint32_t{parts.Hour} << 11) + (uint32_t{parts.Minute} << 5) + parts.Second / 2u;
    return ((date & 0xFFFFu) << 16) | (time & 0xFFFFu);
}

void UnpackDateTime(PackedDateTime packed, DateTimeParts* parts) {
    parts->Year = static_cast<uint16_t>((packed >> 25) + 1980);
    parts->Month = static_cast<uint16_t>((packed >> 21) & 0x0F);
    parts->Day = static_cast<uint16_t>((packed >> 16) & 0x1F);
    parts->Hour = static_cast<uint16_t>((packed >> 11) & 0x1F);
    parts->Minute = static_cast<uint16_t>((packed >> 5) & 0x3F);
    parts->Second = static_cast<uint16_t>((packed & 0x1F) * 2);
}

// ---- Path kinds and the directory walk --------------------------------------

int GetPathKind(const char* path) {
    if (path == nullptr) return PathMissing;
    if (IsDriveRootPath(path) || IsRootPath(path)) {
        // A root has no directory entry of its own: try to stand in it.
        ChangeCurrentDirectory(path);
        return LastFileError == ErrorSuccess ? PathIsDirectory : PathMissing;
    }
    char work[PathBufferSize];
    TextCopyMax(work, path, PathMaxChars);
    StripTrailingBackslash(work);
    DirEntry entry;
    BeginDirSearch(work, 0x3F, &entry);
    if (LastFileError != ErrorSuccess) return PathMissing;
    int kind = PathIsFile;
    if (entry.Attr & AttrDirectory) kind = (entry.Attr & AttrVolumeLabel) ? PathMissing : PathIsDirectory;
    EndDirSearch(&entry);
    return kind;
}

bool IsExistingDirectory(const char* path) { return GetPathKind(path) == PathIsDirectory; }
bool IsExistingPath(const char* path) { return GetPathKind(path) != PathMissing; }

namespace {

// Splits the work buffer into its first component; later ones come from
// NextToken(nullptr, '\\'). May change the current directory to a drive root.
char* FirstComponent(char* work) {
    if (*work == 0) return nullptr;
    if (IsUncName(work)) {
        // The share root "\\server\share" is entered as one component.
        char* server_end = ScanChar(work + 2, '\\');
        if (server_end == nullptr) return nullptr;
        NextToken(server_end + 1, '\\');
        return work;
    }
    char* component = NextToken(work, '\\');
    char root[4];
    if (component != nullptr && DriveRootOf(component, root)) {
        ChangeCurrentDirectory(root);
        component = NextToken(nullptr, '\\');
    }
    return component;
}

}  // namespace

FileHandle CreateFileWithDirectories(const char* path, bool directoriesOnly) {
    char work[PathBufferSize];
    TextCopyMax(work, path, PathMaxChars);
    FileHandle handle = nullptr;
    if (!directoriesOnly) {
        handle = CreateOrTruncateFile(path, 0);
        if (LastFileError != ErrorPathNotFound) return handle;
    }
    // The component behind the last backslash is the file name and is never
    // made a directory; without any backslash the whole text is that name.
    char* backslash = ScanCharBack(work, '\\');
    const char* stop = backslash ? backslash + 1 : work;
    for (char* component = FirstComponent(work); component && component != stop;
         component = NextToken(nullptr, '\\')) {
        ChangeCurrentDirectory(component);
        if (LastFileError != ErrorSuccess) {
            MakeDirectory(component);
            if (LastFileError == ErrorSuccess) ChangeCurrentDirectory(component);
        }
        if (LastFileError != ErrorSuccess) break;
    }
    if (!directoriesOnly) handle = CreateOrTruncateFile(path, 0);
    return handle;
}
