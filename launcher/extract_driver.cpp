// The walk over a whole payload archive: sizing first, then every entry in
// directory order handed to the extraction engine.
#include "launcher/extract_driver.h"

#include "launcher/archive_directory.h"
#include "launcher/entry_path.h"
#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "support/progress.h"

namespace {

constexpr int64_t MaxTotal = 0x7FFFFFFF;

int32_t ClampTotal(int64_t value) { return static_cast<int32_t>(value > MaxTotal ? MaxTotal : value); }

}  // namespace

int32_t ExtractDirectoryEntry(const char* archiveName, const char* path, uint16_t attributes,
                              const ArchiveDirectory& directory, uint32_t baseOffset, WindowHandle progressWindow,
                              int16_t progressId) {
    TheExtractState.DirectoryCompressedSize = directory.CompressedSize;
    return ExtractEntry(archiveName, path, attributes, directory.LocalHeaderOffset + baseOffset, progressWindow,
                        progressId);
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
    // A walk that stopped at a damaged header would unpack only part of the
    // archive and call that success.
    if (!directory.EndReached) return -1;
    return sum == 0 ? -1 : ClampTotal(sum);
}

int32_t ExtractAllEntries(const char* archiveName, const char* destinationDir, uint32_t baseOffset,
                          int32_t archiveSize) {
    ArchiveDirectory directory;
    int32_t result = OpenArchiveDirectory(archiveName, &directory, baseOffset, archiveSize);
    if (result == ArchiveNoEntry) return directory.EndReached ? WalkOk : WalkDefective;
    if (result != ArchiveOpen) return WalkUnreadable;

    int64_t done = 0;
    for (;;) {
        BeginProgressEntry(ClampTotal(done), ClampTotal(directory.UncompressedSize));
        done += directory.UncompressedSize;
        uint16_t attributes = directory.Attributes & ~AttrReadOnly;
        char path[PathBufferSize];
        // A name that would leave the destination, one the code page cannot
        // hold, or a path too long for the buffer, is refused before anything
        // is written for it.
        if (!directory.NameUsable || !BuildEntryPath(destinationDir, directory.Name, attributes, path)) {
            CloseArchiveDirectory(&directory);
            return WalkDefective;
        }
        // A directory holds no data: one with data is a file whose
        // attribute byte is damaged. A name that differs from the local
        // header's is damaged in one of the two.
        bool dataInDirectory = (attributes & AttrDirectory) && (directory.CompressedSize | directory.UncompressedSize);
        if (dataInDirectory ||
            !LocalHeaderNameIs(archiveName, directory.LocalHeaderOffset + baseOffset, directory.Name)) {
            CloseArchiveDirectory(&directory);
            return WalkDefective;
        }
        int32_t entry = ExtractDirectoryEntry(archiveName, path, attributes, directory, baseOffset, ProgressDialog,
                                              ProgressCommandId);
        if (entry != ExtractOk) {
            CloseArchiveDirectory(&directory);
            if (entry == ExtractWriteFailed) return WalkWriteError;
            if (entry == ExtractCancelled) return WalkCancelled;
            return WalkDefective;
        }
        if (NextArchiveEntry(&directory) != ArchiveOpen) return directory.EndReached ? WalkOk : WalkDefective;
    }
}
