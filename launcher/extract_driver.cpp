// The walk over a whole payload archive: sizing first, then every entry in
// directory order handed to the extraction engine.
#include "launcher/extract_driver.h"

#include "launcher/archive_directory.h"
#include "launcher/extract_entry.h"
#include "support/progress.h"
#include "support/text.h"

namespace {

constexpr int64_t MaxTotal = 0x7FFFFFFF;

int32_t ClampTotal(int64_t value) { return static_cast<int32_t>(value > MaxTotal ? MaxTotal : value); }

// A component the system would read as the parent directory: "..", and also
// forms it trims to that (trailing dots and spaces, "...", ". .").
bool IsParentLike(const char* component, const char* end) {
    int dots = 0;
    for (const char* p = component; p < end; ++p) {
        if (*p == '.') ++dots;
        else if (*p != ' ') return false;
    }
    return dots >= 2;
}

}  // namespace

// Every "\" byte counts as a separator here, also a double-byte trail byte;
// that can only refuse more names, never let one through.
bool IsContainedEntryName(const char* name) {
    if (name[0] == '\\') return false;                  // root, and UNC names
    if (name[0] != 0 && name[1] == ':') return false;   // another drive
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p != '\\' && *p != 0) continue;
        if (IsParentLike(component, p)) return false;
        if (*p == 0) return true;
        component = p + 1;
    }
}

bool BuildEntryPath(const char* destinationDir, const char* name, uint16_t attributes, char* path) {
    if (!IsContainedEntryName(name)) return false;
    size_t directoryLength = TextLength(destinationDir);
    size_t nameLength = TextLength(name);
    // The engine adds a "\" to a directory entry named without one.
    bool slashAdded = (attributes & AttrDirectory) && (nameLength == 0 || name[nameLength - 1] != '\\');
    if (directoryLength + nameLength + (slashAdded ? 1 : 0) > static_cast<size_t>(PathMaxChars)) return false;
    TextCopyMax(path, destinationDir, PathMaxChars);
    TextAppendMax(path, name, PathMaxChars);
    return true;
}

int32_t SumUncompressedSizes(const char* archiveName, uint32_t baseOffset, int32_t archiveSize) {
    ArchiveDirectory directory;
    int32_t result = OpenArchiveDirectory(archiveName, &directory, baseOffset, archiveSize);
    if (result == ArchiveNoEntry) return -1;
    int64_t sum = 0;
    if (result == ArchiveOpen) {
        do {
            sum += directory.UncompressedSize;
        } while (NextArchiveEntry(&directory) == ArchiveOpen);
    }
    CloseArchiveDirectory(&directory);
    return sum == 0 ? -1 : ClampTotal(sum);
}

int32_t ExtractAllEntries(const char* archiveName, const char* destinationDir, uint32_t baseOffset,
                          int32_t archiveSize) {
    ArchiveDirectory directory;
    int32_t result = OpenArchiveDirectory(archiveName, &directory, baseOffset, archiveSize);
    if (result == ArchiveNoEntry) return WalkOk;
    if (result != ArchiveOpen) return WalkUnreadable;

    int64_t done = 0;
    for (;;) {
        BeginProgressEntry(ClampTotal(done), ClampTotal(directory.UncompressedSize));
        done += directory.UncompressedSize;
        uint16_t attributes = directory.Attributes & ~AttrReadOnly;
        char path[PathBufferSize];
        // A name that would leave the destination, or a path too long for the
        // buffer, is refused before anything is written for it.
        if (!BuildEntryPath(destinationDir, directory.Name, attributes, path)) {
            CloseArchiveDirectory(&directory);
            return WalkDefective;
        }
        int32_t entry = ExtractEntry(archiveName, path, attributes, directory.LocalHeaderOffset + baseOffset,
                                     ProgressDialog, ProgressCommandId);
        if (entry != ExtractOk) {
            CloseArchiveDirectory(&directory);
            if (entry == ExtractWriteFailed) return WalkWriteError;
            if (entry == ExtractCancelled) return WalkCancelled;
            return WalkDefective;
        }
        if (NextArchiveEntry(&directory) != ArchiveOpen) return WalkOk;
    }
}
