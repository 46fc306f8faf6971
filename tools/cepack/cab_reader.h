// Reads a Microsoft cabinet (MS-CAB) back: the header with its reserve
// fields and neighbouring cabinets' names, the folders, the files, and one
// member's data from a folder stored uncompressed or MSZIP.
//
// Everything goes through a read-at-offset callback, so a cabinet of any size
// is read in pieces, never whole; every offset and size is checked against
// the cabinet's end before it is used, and every loop is bounded by a count
// from the header. What is wrong comes back as findings in lint's voice (the
// caller puts the file's name in front).
//
// Use:
//   CabReader cab(size, read);
//   if (!cab.ReadDirectory(&findings)) ...
//   for (const CabFileEntry& f : cab.Files()) ...
//   std::vector<uint8_t> data;
//   if (!cab.ReadMember(i, limit, &data, &findings)) ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cepack/cabinet_check.h"

namespace cepack {

enum class CabMethod : uint16_t { None = 0, Mszip = 1, Quantum = 2, Lzx = 3 };

struct CabFolderEntry {
    uint32_t dataOffset = 0;  // of its first CFDATA block
    uint16_t blocks = 0;
    uint16_t compression = 0;  // typeCompress as stored; method in the low four bits
    CabMethod Method() const { return static_cast<CabMethod>(compression & 0x000F); }
};

struct CabFileEntry {
    std::string name;
    uint32_t size = 0;
    uint32_t offset = 0;  // in its folder's uncompressed data
    uint16_t folder = 0;  // an index, or 0xFFFD..0xFFFF: continued from or into a neighbour
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attributes = 0;
};

struct CabHeaderInfo {
    uint32_t size = 0;  // cbCabinet
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t index = 0;  // iCabinet
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    std::string previousCabinet, previousDisk, nextCabinet, nextDisk;
};

class CabReader {
public:
    CabReader(uint64_t fileSize, CabinetReader read) : fileSize_(fileSize), read_(std::move(read)) {}

    // The header, folder and file tables; false after an error finding.
    bool ReadDirectory(std::vector<CabinetFinding>* findings);

    const CabHeaderInfo& Header() const { return header_; }
    const std::vector<CabFolderEntry>& Folders() const { return folders_; }
    const std::vector<CabFileEntry>& Files() const { return files_; }

    // The data of Files()[index], refused (a finding) when larger than limit,
    // stored in another cabinet of a set, or compressed in a way cepack does
    // not decode. Data blocks' checksums are checked where they are nonzero.
    bool ReadMember(size_t index, size_t limit, std::vector<uint8_t>* out,
                    std::vector<CabinetFinding>* findings) const;

private:
    bool Read(uint64_t offset, size_t count, std::vector<uint8_t>* out) const;

    uint64_t fileSize_;
    uint64_t end_ = 0;  // cbCabinet, never past the file
    CabinetReader read_;
    CabHeaderInfo header_;
    std::vector<CabFolderEntry> folders_;
    std::vector<CabFileEntry> files_;
};

}  // namespace cepack
