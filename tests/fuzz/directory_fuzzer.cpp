// Arbitrary file bytes through OpenArchiveDirectory and NextArchiveEntry to
// the end: over the whole file, over a base offset and range taken from the
// input's first bytes, and over the file without its last few bytes; and once
// more stopping early. Every entry's fields must be in bounds, a closed
// directory must hold nothing, and no file may stay open.
#include <cstring>
#include <string>

#include "launcher/archive_directory.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

using fuzz::Check;

void CheckEntry(const ArchiveDirectory& d) {
    Check(d.Buffer != nullptr, "an open directory without its buffer");
    Check(d.BufferLength <= DirectoryChunkSize, "buffer longer than a chunk");
    Check(d.Position <= d.BufferLength, "position beyond the buffer", std::to_string(d.Position));
    const void* end = std::memchr(d.Name, 0, sizeof d.Name);
    Check(end != nullptr, "name not terminated within its buffer");
    Check(std::strchr(d.Name, '/') == nullptr, "name keeps a forward slash", d.Name);
    Check(d.Attributes <= 0xFF, "attributes beyond the DOS byte");
}

// Walks to the end, or stops after `stop` entries (0: never) and closes.
void Walk(const char* archive, uint32_t base, int32_t range, size_t fileSize, uint32_t stop) {
    int descriptors = fuzz::OpenDescriptors();
    ArchiveDirectory d;
    std::memset(&d, 0xA5, sizeof d);  // Open must not rely on a cleared record
    int32_t r = OpenArchiveDirectory(archive, &d, base, range);
    Check(r == ArchiveOpen || r == ArchiveNoEntry || r == ArchiveUnreadable || r == ArchiveTooShort,
          "unknown open result", std::to_string(r));
    // Every header takes 46 bytes at least; a chunked walk may meet some twice.
    const size_t limit = 2 * (fileSize / 46) + DirectoryChunkSize / 46 + 2;
    size_t entries = 0;
    while (r == ArchiveOpen) {
        CheckEntry(d);
        Check(++entries <= limit, "more entries than the file can hold");
        if (stop != 0 && entries == stop) {
            CloseArchiveDirectory(&d);
            CloseArchiveDirectory(&d);  // harmless twice
            Check(NextArchiveEntry(&d) == ArchiveNoEntry, "a closed directory yields an entry");
            break;
        }
        r = NextArchiveEntry(&d);
        Check(r == ArchiveOpen || r == ArchiveNoEntry, "unknown next result", std::to_string(r));
    }
    Check(d.Buffer == nullptr, "a finished walk keeps its buffer");
    Check(NextArchiveEntry(&d) == ArchiveNoEntry, "a closed directory yields an entry");
    CloseArchiveDirectory(&d);
    Check(fuzz::OpenDescriptors() == descriptors, "a walk leaves a file open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string native = fuzz::ScratchRoot() + "/archive.zip";
    static const std::string core = fuzz::CorePath(native);
    if (!fuzz::WriteFile(native, data, size)) fuzz::Fail("cannot write the archive", native);
    Walk(core.c_str(), 0, 0, size, 0);
    if (size >= 4) {
        uint32_t base = static_cast<uint32_t>(data[0] | data[1] << 8) % static_cast<uint32_t>(size + 1);
        int32_t range = static_cast<int16_t>(data[2] | data[3] << 8);  // also negative, or past the end
        Walk(core.c_str(), base, range, size, 0);
        int32_t shorter = static_cast<int32_t>(size) - data[size - 1] % 64;
        if (shorter > 0) Walk(core.c_str(), 0, shorter, size, 0);
        Walk(core.c_str(), 0, 0, size, 1 + data[size - 1] % 3);
    }
    return 0;
}
