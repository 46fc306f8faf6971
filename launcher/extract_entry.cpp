// One archive entry becomes a file or a directory: local header, method and
// encryption tests, the output with its directories, the stored copy or the
// decoder, the CRC-32 (from the data descriptor where the header has none),
// time stamp and attributes. On any failure the output is deleted again.
#include "launcher/extract_entry.h"

#include <cstdlib>
#include <cstring>

#include "launcher/archive_directory.h"
#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "support/file_layer.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

constexpr uint32_t LocalHeaderSize = 30;
constexpr uint32_t LocalHeaderSignature = 0x04034B50;
constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;
constexpr uint32_t CrcCheckOff = 0xFFFFFFFFu;
constexpr int32_t ExactPercentLimit = 1000000;  // above: floating point, no overflow

struct LocalHeader {
    uint16_t Flags;
    uint16_t Method;
    PackedDateTime DosDateTime;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;  // recorded, never compared
    uint16_t NameLength;
    uint16_t ExtraLength;
};

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) { return Read16(p) | static_cast<uint32_t>(Read16(p + 2)) << 16; }

bool HasHandle(FileHandle handle) { return handle != nullptr && handle != InvalidFileHandle; }

// Everything an entry takes, given back on every way out of ExtractEntry.
struct EntryResources {
    WindowHandle SavedPumpWindow = PumpDialogWindow;
    ~EntryResources() {
        ExtractState& s = TheExtractState;
        CloseOutput();
        CloseArchive();
        ReleaseWindow(s.Window);
        s.Window = nullptr;
        PumpDialogWindow = SavedPumpWindow;
    }
    static void CloseOutput() {
        ExtractState& s = TheExtractState;
        if (HasHandle(s.OutputFile)) CloseFileHandle(s.OutputFile);
        s.OutputFile = InvalidFileHandle;
    }
};

bool ReadLocalHeader(uint32_t offset, LocalHeader* header) {
    uint8_t* b = TheExtractState.InputBuffer;
    uint16_t done = 0;
    if (!SeekArchive(offset) || !ReadArchive(b, LocalHeaderSize, &done) || done != LocalHeaderSize) return false;
    if (Read32(b) != LocalHeaderSignature) return false;
    header->Flags = Read16(b + 6);
    header->Method = Read16(b + 8);
    header->DosDateTime = Read32(b + 10);
    header->Crc32 = Read32(b + 14);
    header->CompressedSize = Read32(b + 18);
    header->UncompressedSize = Read32(b + 22);
    header->NameLength = Read16(b + 26);
    header->ExtraLength = Read16(b + 28);
    return true;
}

bool EndsInBackslash(char* path) {
    char* end = TextEnd(path);
    return end != path && *PrevCharOf(path, end) == '\\';
}

// Copies destPath into path, with the backslash a directory entry needs.
// A path that wouldn't fit is refused rather than cut.
bool PrepareOutputPath(const char* destPath, uint16_t attributes, char* path) {
    if (!destPath) return false;
    size_t length = 0;
    while (length < PathBufferSize && destPath[length]) ++length;
    if (length > PathMaxChars) return false;
    std::memcpy(path, destPath, length + 1);
    if ((attributes & AttrDirectory) && length > 0 && !EndsInBackslash(path)) {
        if (length + 1 > PathMaxChars) return false;
        path[length] = '\\';
        path[length + 1] = 0;
    }
    return true;
}

// The descriptor behind deflated data, through the bit reader: its signature
// is skipped unread, then the CRC follows.
uint32_t ReadDescriptorCrc() {
    DropBits(TheExtractState.BitCount & 7);
    for (int i = 0; i < 2; ++i) {
        EnsureBits(16);
        DropBits(16);
    }
    EnsureBits(16);
    uint32_t low = static_cast<uint32_t>(TheExtractState.BitBuffer & 0xFFFF);
    DropBits(16);
    EnsureBits(16);
    uint32_t high = static_cast<uint32_t>(TheExtractState.BitBuffer & 0xFFFF);
    DropBits(16);
    return low | high << 16;
}

// The stored copy reads whole blocks and leaves the archive right behind the
// data, where the descriptor is. Without a readable one the expected CRC stays.
uint32_t ReadStoredDescriptorCrc(uint32_t expected) {
    uint8_t* b = TheExtractState.InputBuffer;
    uint16_t done = 0;
    if (!ReadArchive(b, 8, &done) || done != 8) return expected;
    return Read32(b + 4);
}

// Gives the closed file the entry's time again where the system changed it.
void ConfirmFileTime(const char* path, PackedDateTime time) {
    FileHandle file = OpenExistingFile(path, 0);
    if (LastFileError != 0 || !HasHandle(file)) return;
    if (GetFilePackedTime(file) != time) SetFilePackedTime(file, time);
    CloseFileHandle(file);
}

void SendPercent(int16_t percent) {
    ExtractState& s = TheExtractState;
    s.LastPercent = percent;
    if (s.ProgressWindow) SendProgressMessage(s.ProgressWindow, s.ProgressId, percent);
}

}  // namespace

void RequestCancel() { TheExtractState.CancelRequested = true; }

bool LocalHeaderNameIs(const char* archiveName, uint32_t localHeaderOffset, const char* name) {
    ExtractState& s = TheExtractState;
    s.ArchiveFile = InvalidFileHandle;
    if (!OpenArchive(archiveName)) return false;
    LocalHeader header;
    // Other names longer than a path buffer are cut alike on both sides; a
    // UTF-8 one of more bytes than this has more characters than a path holds.
    uint8_t stored[3 * PathBufferSize];
    uint16_t length = 0, done = 0;
    bool read = ReadLocalHeader(localHeaderOffset, &header);
    if (read) {
        length = header.NameLength < sizeof stored ? header.NameLength : static_cast<uint16_t>(sizeof stored);
        read = ReadArchive(stored, length, &done) && done == length;
    }
    CloseArchive();
    if (!read) return false;
    char local[PathBufferSize];
    return CopyEntryName(stored, length, header.Flags, local) && TextCompare(local, name) == 0;
}

void ReportProgress() {
    ExtractState& s = TheExtractState;
    if (s.CompressedSize == 0) return;
    int32_t percent;
    if (s.CompressedRead <= ExactPercentLimit) {
        // 32-bit arithmetic: a 64-bit division would link libgcc's helper.
        percent = static_cast<int32_t>(s.CompressedRead) * 100 / s.CompressedSize;
    } else {
        double exact = static_cast<double>(s.CompressedRead) * 100.0 / s.CompressedSize;
        percent = exact > 100.0 ? 100 : exact < 0.0 ? 0 : static_cast<int32_t>(exact);
    }
    if (percent > 100) percent = 100;
    if (percent < 0) percent = 0;  // only a size above 2 GiB in the header gets here
    if (percent == s.LastPercent) return;
    s.LastPercent = static_cast<int16_t>(percent);
    if (s.ProgressWindow) {
        SendProgressMessage(s.ProgressWindow, s.ProgressId, percent);
    } else if (s.ProgressId != 0) {
        s.CancelRequested = IsKeyDown(s.ProgressId);
    }
}

bool FlushWindow(uint32_t count) {
    ExtractState& s = TheExtractState;
    bool written;
    if (s.Output) {
        written = s.Output->Write(s.Output->Context, s.Window, count) == count;
    } else {
        uint16_t done = 0;
        WriteFileBlock(s.OutputFile, s.Window, static_cast<uint16_t>(count), &done);
        written = done == count && LastFileError == 0;
    }
    if (!written) SoundBeep();
    if (!(s.Output && s.Output->SkipCrc)) s.RunningCrc = UpdateCrc32(s.Window, count, s.RunningCrc);
    return written;
}

int32_t CopyStoredEntry() {
    ExtractState& s = TheExtractState;
    while (s.CompressedRead < s.CompressedSize && !s.CancelRequested) {
        int64_t wanted = s.CompressedSize - s.CompressedRead;
        if (wanted > WindowSize) wanted = WindowSize;
        uint16_t done = 0;
        if (!ReadArchive(s.Window, static_cast<uint16_t>(wanted), &done)) return ExtractReadFailed;
        if (!FlushWindow(done)) return ExtractWriteFailed;
        s.CompressedRead += done;
        PumpMessages();
        ReportProgress();
        if (done < wanted) {  // the archive ended inside the entry
            CloseArchive();
            return ExtractReadFailed;
        }
    }
    return s.CancelRequested ? ExtractCancelled : ExtractOk;
}

int32_t ExtractEntry(const char* archiveName, const char* destPath, uint16_t attributes,
                     uint32_t localHeaderOffset, WindowHandle progressWindow, int16_t progressId) {
    ExtractState& s = TheExtractState;
    uint32_t directorySize = s.DirectoryCompressedSize;  // for this entry only
    s.DirectoryCompressedSize = 0;
    s.CancelRequested = false;
    s.ArchiveFile = InvalidFileHandle;
    s.OutputFile = InvalidFileHandle;
    EntryResources resources;
    s.Window = AllocateWindow();
    if (!s.Window) return ExtractReadFailed;
    if (!OpenArchive(archiveName)) return ExtractReadFailed;

    LocalHeader header;
    if (!ReadLocalHeader(localHeaderOffset, &header)) return ExtractCorrupt;
    uint32_t expectedCrc = header.Crc32;
    s.CompressedSize = static_cast<int32_t>(header.CompressedSize);
    bool descriptor = (header.Flags & FlagDataDescriptor) != 0;
    if (descriptor && header.Method != MethodStored && (header.Crc32 == 0 || header.CompressedSize == 0)) {
        s.CompressedSize = OpenEndedSize;  // decode to the final block, CRC from the descriptor
        expectedCrc = 0;
    }
    // Stored data has no end of its own: where the local header defers its
    // size to the descriptor (a writer on a pipe), the directory's is taken.
    if (descriptor && header.Method == MethodStored && header.CompressedSize == 0) {
        s.CompressedSize = static_cast<int32_t>(directorySize);
    }
    if (((KnownMethods >> (header.Method % 32)) & 1) == 0) return ExtractUnsupportedMethod;
    if (header.Flags & FlagEncrypted) return ExtractEncrypted;

    s.CompressedRead = 0;
    uint64_t dataStart = uint64_t{localHeaderOffset} + LocalHeaderSize + header.NameLength + header.ExtraLength;
    if (dataStart > 0xFFFFFFFFu || !SeekArchive(static_cast<uint32_t>(dataStart))) return ExtractCorrupt;

    char path[PathBufferSize];
    if (!PrepareOutputPath(destPath, attributes, path)) return ExtractWriteFailed;
    if (EndsInBackslash(path)) {
        CreateFileWithDirectories(path, true);  // a failure shows at the entries inside it
        SetPathAttributes(path, attributes);
        return ExtractOk;
    }
    s.OutputFile = CreateFileWithDirectories(path, false);
    if (LastFileError != 0 || !HasHandle(s.OutputFile)) return ExtractWriteFailed;

    s.InputExhausted = false;
    s.ProgressWindow = progressWindow;
    s.ProgressId = progressId;
    PumpDialogWindow = progressWindow;
    PumpMessages();
    SendPercent(0);
    s.RunningCrc = 0xFFFFFFFFu;

    int32_t result = ExtractUnsupportedMethod;  // methods 1-6 get this far
    if (header.Method == MethodStored) result = CopyStoredEntry();
    else if (header.Method == MethodDeflated) result = InflateEntry();

    // A descriptor is read unless the header's CRC is present and already
    // confirmed. For stored data a header CRC of 0 is not taken on trust
    // either: a streamed entry has 0 there, and its sizes too.
    if (result == ExtractOk && descriptor && !(~s.RunningCrc == expectedCrc && expectedCrc != 0)) {
        expectedCrc = header.Method == MethodStored ? ReadStoredDescriptorCrc(expectedCrc) : ReadDescriptorCrc();
    }
    uint32_t finalCrc = ~s.RunningCrc;
    CloseArchive();
    SetFilePackedTime(s.OutputFile, header.DosDateTime);
    EntryResources::CloseOutput();

    if (result == ExtractOk && expectedCrc != finalCrc && expectedCrc != CrcCheckOff) result = ExtractCrcMismatch;
    if (result != ExtractOk) {
        RemoveFile(path);
        return result;
    }
    SendPercent(100);
    ConfirmFileTime(path, header.DosDateTime);
    SetPathAttributes(path, attributes);
    return ExtractOk;
}
