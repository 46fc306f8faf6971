// Writes a ZIP archive behind whatever the output file already holds; the
// stored offsets count from the start of that file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cepack {

enum : uint16_t { MethodStored = 0, MethodDeflated = 8 };

struct ZipEntryRecord {
    std::string name;  // UTF-8, "/"-separated
    uint16_t versionNeeded;
    uint16_t flags;
    uint16_t method;
    uint32_t dosDateTime;
    uint32_t crc32;
    uint32_t compressedSize;
    uint32_t size;
    uint8_t attributes;  // DOS attribute byte
    uint32_t localHeaderOffset;
};

class ZipWriter {
public:
    explicit ZipWriter(FILE* file);
    // One file's local header and data: deflated at the best level, or
    // stored when that does not make it smaller. A name beyond ASCII is
    // flagged as UTF-8. False with *error set.
    bool AddFile(const std::string& archiveName, const std::string& hostPath, uint64_t expectedSize,
                 uint32_t dosDateTime, uint8_t attributes, std::string* error);
    // Central directory and end record; cuts off anything left behind them.
    bool Finish(std::string* error);
    const std::vector<ZipEntryRecord>& Entries() const { return entries_; }

private:
    bool Deflate(FILE* input, uint64_t* read, uint32_t* crc, uint64_t* written, std::string* error);
    bool CopyStored(FILE* input, uint64_t* read, uint32_t* crc, std::string* error);
    bool WriteLocalHeader(const ZipEntryRecord& entry);

    FILE* file_;
    std::vector<ZipEntryRecord> entries_;
};

}  // namespace cepack
