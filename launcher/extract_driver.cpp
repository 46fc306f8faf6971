// The walk over a whole payload archive: sizing first, then every entry in
// directory order handed to the extraction engine.
#include "launcher/extract_driver.h"

#include "launcher/archive_directory.h"
#include "launcher/entry_path.h"
#include "launcher/extract_entry.h"
#include "support/progress.h"

namespace {

constexpr int64_t MaxTotal = 0x7FFFFFFF;

int32_t ClampTotal(int64_t value) { return static_cast<int32_t>(value > MaxTotal ? MaxTotal : value); }

}  // namespace

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
