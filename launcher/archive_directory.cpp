// Finds a ZIP archive's end record behind whatever data follows it, loads the
// central directory (in 64000-byte chunks when it is larger) and walks it one
// header at a time.
#include "launcher/archive_directory.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "support/heap_array.h"
#include "support/platform.h"

namespace {

constexpr uint32_t EndRecordSize = 22;
constexpr uint32_t CentralHeaderSize = 46;
constexpr uint32_t SignatureSize = 4;
constexpr uint8_t EndSignature[SignatureSize] = {0x50, 0x4B, 0x05, 0x06};
constexpr uint8_t CentralSignature[SignatureSize] = {0x50, 0x4B, 0x01, 0x02};
// The Zip64 end record sits between the directory and the end record.
constexpr uint8_t Zip64EndSignature[SignatureSize] = {0x50, 0x4B, 0x06, 0x06};
// An entry count too large for the end record; the Zip64 record holds it.
constexpr uint16_t CountInZip64Record = 0xFFFF;
constexpr uint8_t HostMsDos = 0;
// The file layer positions with signed 32-bit distances.
constexpr uint64_t MaxFilePosition = 0x7FFFFFFF;

// Central header fields.
enum : uint32_t {
    HostByteAt = 5,
    FlagsAt = 8,
    MethodAt = 10,
    DosDateTimeAt = 12,
    Crc32At = 16,
    CompressedSizeAt = 20,
    UncompressedSizeAt = 24,
    NameLengthAt = 28,
    ExtraLengthAt = 30,
    CommentLengthAt = 32,
    ExternalAttributesAt = 38,
    LocalHeaderOffsetAt = 42,
};
// In the end record.
constexpr uint32_t EntryCountAt = 10;
constexpr uint32_t DirectoryOffsetAt = 16;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

bool HasSignature(const uint8_t* p, const uint8_t (&signature)[SignatureSize]) {
    return Le32(p) == Le32(signature);
}

// A file handle closed at scope exit unless released.
class OpenFile {
public:
    explicit OpenFile(FileHandle handle) : handle_(handle) {}
    ~OpenFile() {
        if (handle_ != InvalidFileHandle) CloseFileHandle(handle_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    FileHandle Get() const { return handle_; }
    FileHandle Release() { return std::exchange(handle_, InvalidFileHandle); }

private:
    FileHandle handle_;
};

bool SeekTo(FileHandle file, uint64_t position) {
    if (position > MaxFilePosition) return false;
    int32_t reached = SeekFileHandle(file, static_cast<int32_t>(position), 0);
    return reached != -1 && LastFileError == ErrorSuccess;
}

bool ReadExactly(FileHandle file, uint8_t* buffer, uint32_t count) {
    uint16_t done = 0;
    ReadFileBlock(file, buffer, static_cast<uint16_t>(count), &done);
    return LastFileError == ErrorSuccess && done == count;
}

struct EndRecord {
    uint32_t Position;         // of the signature, within the searched range
    uint32_t DirectoryOffset;  // as stored
    uint16_t EntryCount;       // total entries, as stored
};

// Searches the range backwards in windows that overlap by the end record's
// fixed size, so a record is never split between two of them; the hit
// nearest the end wins. ArchiveOpen when found, else ArchiveUnreadable.
int32_t FindEndRecord(FileHandle file, uint32_t baseOffset, uint32_t rangeSize, EndRecord* found) {
    uint32_t length = rangeSize > EocdWindowSize ? EocdWindowSize : rangeSize;
    uint32_t start = rangeSize - length;
    HeapArray<uint8_t> window(length);
    if (!window.Get()) return ArchiveUnreadable;
    for (;;) {
        if (!SeekTo(file, uint64_t{baseOffset} + start) || !ReadExactly(file, window.Get(), length)) {
            return ArchiveUnreadable;
        }
        for (uint32_t i = length >= EndRecordSize ? length - EndRecordSize + 1 : 0; i-- > 0;) {
            if (HasSignature(window.Get() + i, EndSignature)) {
                found->Position = start + i;
                found->DirectoryOffset = Le32(window.Get() + i + DirectoryOffsetAt);
                found->EntryCount = Le16(window.Get() + i + EntryCountAt);
                return ArchiveOpen;
            }
        }
        if (start == 0) return ArchiveUnreadable;
        uint32_t step = length - EndRecordSize;  // length is a full window here
        start = start > step ? start - step : 0;
    }
}

uint32_t RemainingBytes(const ArchiveDirectory* directory) {
    return directory->BufferLength - directory->Position;
}

// The header at Position lies wholly inside the buffer.
bool EntryFits(const ArchiveDirectory* directory) {
    if (RemainingBytes(directory) < CentralHeaderSize) return false;
    const uint8_t* header = directory->Buffer + directory->Position;
    uint32_t end = directory->Position + CentralHeaderSize + Le16(header + NameLengthAt) +
                   Le16(header + ExtraLengthAt) + Le16(header + CommentLengthAt);
    return end <= directory->BufferLength;
}

// Chunked mode: keeps the unread bytes, moved to the front, and fills the
// space behind them with the next directory bytes. Reads stop at the end
// record's signature, so the buffer never holds stale or foreign bytes.
bool RefillChunk(ArchiveDirectory* directory) {
    uint32_t consumed = directory->Position;
    uint32_t kept = RemainingBytes(directory);
    std::memmove(directory->Buffer, directory->Buffer + consumed, kept);
    uint32_t wanted = consumed < directory->ChunkRemaining ? consumed : directory->ChunkRemaining;
    if (!ReadExactly(directory->ChunkFile, directory->Buffer + kept, wanted)) return false;
    directory->ChunkRemaining -= wanted;
    directory->BufferLength = static_cast<uint16_t>(kept + wanted);
    directory->Position = 0;
    return true;
}

int32_t ReadDirectoryEntry(ArchiveDirectory* directory) {
    if (directory->ChunkFile != InvalidFileHandle && !EntryFits(directory) && !RefillChunk(directory)) {
        return ArchiveNoEntry;
    }
    const uint8_t* header = directory->Buffer + directory->Position;
    if (RemainingBytes(directory) >= SignatureSize &&
        (HasSignature(header, EndSignature) || HasSignature(header, Zip64EndSignature))) {
        uint16_t count = directory->EndEntryCount;
        directory->EndReached = count == CountInZip64Record || count == (directory->EntriesRead & 0xFFFF);
        return ArchiveNoEntry;
    }
    if (!EntryFits(directory) || !HasSignature(header, CentralSignature)) return ArchiveNoEntry;

    directory->Flags = Le16(header + FlagsAt);
    directory->Method = Le16(header + MethodAt);
    directory->DosDateTime = Le32(header + DosDateTimeAt);
    directory->Crc32 = Le32(header + Crc32At);
    directory->CompressedSize = Le32(header + CompressedSizeAt);
    directory->UncompressedSize = Le32(header + UncompressedSizeAt);
    directory->LocalHeaderOffset = Le32(header + LocalHeaderOffsetAt);
    // Only MS-DOS style hosts store DOS attributes in the low byte.
    directory->Attributes = header[HostByteAt] == HostMsDos ? header[ExternalAttributesAt] : 0;

    uint16_t nameLength = Le16(header + NameLengthAt);
    directory->NameUsable = CopyEntryName(header + CentralHeaderSize, nameLength, directory->Flags, directory->Name);
    directory->Position = static_cast<uint16_t>(directory->Position + CentralHeaderSize + nameLength +
                                                Le16(header + ExtraLengthAt) + Le16(header + CommentLengthAt));
    ++directory->EntriesRead;
    return ArchiveOpen;
}

// Loads the first (or only) block of the directory that ends with the end
// record's signature at rangePosition.
int32_t LoadDirectory(OpenFile& file, ArchiveDirectory* directory, uint32_t baseOffset, const EndRecord& end) {
    uint64_t start = uint64_t{baseOffset} + end.DirectoryOffset;
    uint64_t signatureEnd = uint64_t{baseOffset} + end.Position + SignatureSize;
    // A directory said to start behind its own end record can't be read.
    if (start > signatureEnd - SignatureSize) return ArchiveUnreadable;
    uint64_t size = signatureEnd - start;
    bool chunked = size >= DirectoryChunkSize;
    uint32_t length = chunked ? DirectoryChunkSize : static_cast<uint32_t>(size);

    HeapArray<uint8_t> buffer(length + 1);
    if (!buffer.Get()) return ArchiveUnreadable;
    if (!SeekTo(file.Get(), start) || !ReadExactly(file.Get(), buffer.Get(), length)) return ArchiveUnreadable;
    directory->Buffer = buffer.Release();
    directory->BufferLength = static_cast<uint16_t>(length);
    directory->Position = 0;
    if (chunked) {
        directory->ChunkFile = file.Release();
        directory->ChunkRemaining = static_cast<uint32_t>(size - length);
    }
    return ArchiveOpen;
}

}  // namespace

// Name bytes as stored; an embedded NUL ends the name as it would any C
// string, and "/" becomes "\". A UTF-8 name is converted whole (it may take
// more bytes than its ANSI form); any other is cut to what a path buffer
// holds and taken from the OEM code page into the ANSI one.
bool CopyEntryName(const uint8_t* bytes, uint32_t length, uint16_t flags, char* name) {
    uint32_t end = 0;
    while (end < length && bytes[end] != 0) ++end;
    if (flags & FlagUtf8Name) {
        if (!Utf8ToAnsi(reinterpret_cast<const char*>(bytes), end, name, PathBufferSize)) return false;
        // Slashes and backslashes are single bytes in UTF-8; in a double-byte
        // code page a trail byte may be "\", which the entry path check
        // treats as a separator anyway.
        for (char* p = name; *p; p = NextCharOf(p)) {
            if (*p == '/') *p = '\\';
        }
        return true;
    }
    uint32_t limit = end < static_cast<uint32_t>(PathMaxChars) ? end : PathMaxChars;
    for (uint32_t i = 0; i < limit; ++i) name[i] = bytes[i] == '/' ? '\\' : static_cast<char>(bytes[i]);
    name[limit] = 0;
    OemToAnsiInPlace(name, PathBufferSize);
    return true;
}

int32_t OpenArchiveDirectory(const char* archiveName, ArchiveDirectory* directory, uint32_t baseOffset,
                             int32_t archiveSize) {
    std::memset(directory, 0, sizeof *directory);
    directory->ChunkFile = InvalidFileHandle;

    OpenFile file(OpenExistingFile(archiveName, 0));
    if (file.Get() == InvalidFileHandle || LastFileError != ErrorSuccess) return ArchiveUnreadable;
    uint32_t rangeSize = static_cast<uint32_t>(archiveSize);
    if (archiveSize <= 0) {
        // The rest of the file from the base; the whole file when the base is 0.
        uint32_t fileSize = GetOpenFileSize(file.Get());
        if (LastFileError != ErrorSuccess) return ArchiveUnreadable;
        rangeSize = fileSize > baseOffset ? fileSize - baseOffset : 0;
    }
    if (rangeSize == 0) return ArchiveUnreadable;
    directory->UncompressedSize = rangeSize;

    EndRecord end;
    int32_t result = FindEndRecord(file.Get(), baseOffset, rangeSize, &end);
    if (result != ArchiveOpen) return result;
    if (end.Position < CentralHeaderSize) return ArchiveTooShort;
    directory->EndEntryCount = end.EntryCount;
    result = LoadDirectory(file, directory, baseOffset, end);
    if (result != ArchiveOpen) return result;

    result = ReadDirectoryEntry(directory);
    if (result != ArchiveOpen) CloseArchiveDirectory(directory);
    return result;
}

int32_t NextArchiveEntry(ArchiveDirectory* directory) {
    if (directory->Buffer == nullptr) return ArchiveNoEntry;
    int32_t result = ReadDirectoryEntry(directory);
    if (result != ArchiveOpen) CloseArchiveDirectory(directory);
    return result;
}

void CloseArchiveDirectory(ArchiveDirectory* directory) {
    if (directory->Buffer == nullptr) return;
    std::free(directory->Buffer);
    directory->Buffer = nullptr;
    if (directory->ChunkFile != InvalidFileHandle) CloseFileHandle(directory->ChunkFile);
    directory->ChunkFile = InvalidFileHandle;
    directory->ChunkRemaining = 0;
}
