#include "tools/cepack/cab_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "tools/cepack/cabinet_layout.h"

namespace cepack {

namespace {

using namespace cabinet_layout;

// Compressed blocks may exceed BlockMax a little where the data does not compress.
constexpr size_t CompressedBlockMax = BlockMax + 6144;
constexpr size_t WindowSize = 32768;

using Findings = std::vector<CabinetFinding>;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return static_cast<uint32_t>(U16(p)) | static_cast<uint32_t>(U16(p + 2)) << 16; }

bool Fail(Findings* findings, std::string message) {
    findings->push_back({true, std::move(message)});
    return false;
}
bool PastEnd(Findings* findings, const std::string& what) {
    return Fail(findings, "is damaged: " + what + " runs past the end of the cabinet; copy or build it again");
}
bool Broken(Findings* findings, const std::string& what) {
    return Fail(findings, "is not a cabinet cepack can read: " + what);
}

// CFDATA's checksum: the XOR of the little-endian 32-bit words, and of the
// one to three bytes left over taken first byte highest.
uint32_t DataChecksum(const uint8_t* p, size_t n, uint32_t seed) {
    uint32_t sum = seed;
    for (; n >= 4; p += 4, n -= 4) sum ^= U32(p);
    uint32_t tail = 0;
    for (; n > 0; --n) tail = tail << 8 | *p++;
    return sum ^ tail;
}

// A NUL-terminated name of fewer than NameMax bytes at b[at], or false.
bool TakeName(const std::vector<uint8_t>& b, size_t at, std::string* name) {
    for (size_t i = 0; i < NameMax && at + i < b.size(); ++i) {
        if (b[at + i] == 0) {
            name->assign(reinterpret_cast<const char*>(b.data() + at), i);
            return true;
        }
    }
    return false;
}

// One raw-deflate stream per MSZIP block, the previous 32 KiB of the folder
// as its dictionary.
class MszipDecoder {
public:
    MszipDecoder() { ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
    ~MszipDecoder() {
        if (ready_) inflateEnd(&z_);
    }
    MszipDecoder(const MszipDecoder&) = delete;
    MszipDecoder& operator=(const MszipDecoder&) = delete;

    // data: the block after its "CK"; out holds BlockMax bytes. True when
    // the stream ends having given exactly expected bytes.
    bool Block(const uint8_t* data, size_t size, uint8_t* out, size_t expected) {
        if (!ready_ || inflateReset(&z_) != Z_OK) return false;
        if (!window_.empty() &&
            inflateSetDictionary(&z_, window_.data(), static_cast<uInt>(window_.size())) != Z_OK) {
            return false;
        }
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(size);
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(BlockMax);
        if (inflate(&z_, Z_FINISH) != Z_STREAM_END || z_.total_out != expected) return false;
        window_.insert(window_.end(), out, out + expected);
        if (window_.size() > WindowSize) window_.erase(window_.begin(), window_.end() - WindowSize);
        return true;
    }

private:
    z_stream z_{};
    bool ready_ = false;
    std::vector<uint8_t> window_;
};

}  // namespace

bool CabReader::Read(uint64_t offset, size_t count, std::vector<uint8_t>* out) const {
    if (offset > end_ || count > end_ - offset) return false;
    out->resize(count);
    return count == 0 || read_(offset, out->data(), count) == count;
}

bool CabReader::ReadDirectory(Findings* findings) {
    std::vector<uint8_t> h;
    end_ = fileSize_;
    if (!Read(0, std::min<uint64_t>(HeaderSize, fileSize_), &h)) return Fail(findings, "cannot be read");
    if (h.size() < 4 || std::memcmp(h.data(), "MSCF", 4) != 0) {
        return Fail(findings, "is not a cabinet (no \"MSCF\" signature)");
    }
    if (h.size() < HeaderSize) {
        return Fail(findings, "is cut short: " + std::to_string(h.size()) + " bytes, less than a cabinet header");
    }
    if (h[HeaderVersionMajor] != 1 || h[HeaderVersionMinor] != 3) {
        return Broken(findings, "its format version is " + std::to_string(h[HeaderVersionMajor]) + "." +
                                    std::to_string(h[HeaderVersionMinor]) + ", not 1.3");
    }
    header_.size = U32(&h[HeaderCbCabinet]);
    if (header_.size < HeaderSize) return Broken(findings, "its header gives a size smaller than the header");
    if (header_.size > fileSize_) {
        return Fail(findings, "is cut short: its header gives " + std::to_string(header_.size) +
                                  " bytes, the file has " + std::to_string(fileSize_));
    }
    end_ = header_.size;
    header_.flags = U16(&h[HeaderFlags]);
    header_.setId = U16(&h[HeaderSetId]);
    header_.index = U16(&h[HeaderICabinet]);
    uint64_t at = HeaderSize;
    if (header_.flags & FlagReservePresent) {
        std::vector<uint8_t> r;
        if (!Read(at, ReserveSizesSize, &r)) return PastEnd(findings, "its header");
        header_.headerReserve = U16(&r[0]);
        header_.folderReserve = r[2];
        header_.dataReserve = r[3];
        if (header_.headerReserve > MaxHeaderReserve) return Broken(findings, "its header reserve is over 60000 bytes");
        at += ReserveSizesSize + header_.headerReserve;
    }
    std::string* names[] = {&header_.previousCabinet, &header_.previousDisk, &header_.nextCabinet,
                            &header_.nextDisk};
    for (size_t i = 0; i < 4; ++i) {
        if (!(header_.flags & (i < 2 ? FlagPrevCabinet : FlagNextCabinet))) continue;
        std::vector<uint8_t> n;
        if (!Read(at, static_cast<size_t>(std::min<uint64_t>(NameMax, at < end_ ? end_ - at : 0)), &n)) {
            return PastEnd(findings, "its header");
        }
        if (!TakeName(n, 0, names[i])) {
            return n.size() < NameMax ? PastEnd(findings, "its header")
                                      : Broken(findings, "a cabinet name in its header has no end");
        }
        at += names[i]->size() + 1;
    }

    size_t folderCount = U16(&h[HeaderCFolders]);
    size_t folderEntry = FolderSize + header_.folderReserve;
    std::vector<uint8_t> table;
    if (folderCount == 0) return Broken(findings, "it has no folders");
    if (!Read(at, folderCount * folderEntry, &table)) return PastEnd(findings, "its folder table");
    for (size_t i = 0; i < folderCount; ++i) {
        const uint8_t* f = &table[i * folderEntry];
        folders_.push_back({U32(f), U16(f + 4), U16(f + 6)});
    }
    uint64_t fileTable = U32(&h[HeaderCoffFiles]);
    if (fileTable < at + table.size()) return Broken(findings, "its file table starts inside its header");
    size_t fileCount = U16(&h[HeaderCFiles]);
    uint64_t available = fileTable < end_ ? end_ - fileTable : 0;
    table.clear();
    if (!Read(fileTable, static_cast<size_t>(std::min<uint64_t>(fileCount * (FileFixedSize + NameMax), available)),
              &table) &&
        fileCount > 0) {
        return PastEnd(findings, "its file table");
    }
    size_t pos = 0;
    for (size_t i = 0; i < fileCount; ++i) {
        CabFileEntry e;
        if (table.size() < pos + FileFixedSize) return PastEnd(findings, "its file table");
        if (!TakeName(table, pos + FileFixedSize, &e.name)) {
            return table.size() - pos - FileFixedSize < NameMax ? PastEnd(findings, "its file table")
                                                                : Broken(findings, "a member's name has no end");
        }
        const uint8_t* p = &table[pos];
        e.size = U32(p);
        e.offset = U32(p + 4);
        e.folder = U16(p + 8);
        e.date = U16(p + 10);
        e.time = U16(p + 12);
        e.attributes = U16(p + 14);
        if (e.folder < FolderContinued && e.folder >= folderCount) {
            return Broken(findings, "member " + e.name + " lies in folder " + std::to_string(e.folder) + " of " +
                                        std::to_string(folderCount));
        }
        files_.push_back(std::move(e));
        pos += FileFixedSize + files_.back().name.size() + 1;
    }
    return true;
}

bool CabReader::ReadMember(size_t index, size_t limit, std::vector<uint8_t>* out, Findings* findings) const {
    out->clear();
    if (index >= files_.size()) return Fail(findings, "has no member " + std::to_string(index));
    const CabFileEntry& file = files_[index];
    if (file.folder >= FolderContinued) {
        return Fail(findings, "is one of a set: its member " + file.name +
                                  " continues into another cabinet, which cepack does not read");
    }
    if (file.size > limit) {
        return Fail(findings, "has a member " + file.name + " of " + std::to_string(file.size) +
                                  " bytes, more than cepack reads (" + std::to_string(limit) + ")");
    }
    const CabFolderEntry& folder = folders_[file.folder];
    CabMethod method = folder.Method();
    if (method == CabMethod::Lzx || method == CabMethod::Quantum) {
        return Fail(findings, std::string("is compressed with ") + (method == CabMethod::Lzx ? "LZX" : "Quantum") +
                                  ", which cepack cannot read (it reads uncompressed and MSZIP cabinets)");
    }
    if (method != CabMethod::None && method != CabMethod::Mszip) {
        return Broken(findings, "its folder " + std::to_string(file.folder) + " has the unknown compression type " +
                                    std::to_string(folder.compression & 0x000F));
    }
    const uint64_t begin = file.offset, end = begin + file.size;
    if (file.size == 0) return true;
    if (end > static_cast<uint64_t>(folder.blocks) * BlockMax) {  // before anything is allocated for it
        return Fail(findings, "is damaged: member " + file.name + " runs past the end of its folder's data");
    }
    out->reserve(file.size);
    MszipDecoder decoder;
    std::vector<uint8_t> head, data, plain(BlockMax);
    uint64_t at = folder.dataOffset, produced = 0;
    const std::string where = " of folder " + std::to_string(file.folder);
    for (uint32_t block = 0; block < folder.blocks; ++block) {
        const std::string name = "data block " + std::to_string(block) + where;
        if (!Read(at, DataHeaderSize + header_.dataReserve, &head)) return PastEnd(findings, name);
        uint32_t checksum = U32(&head[0]);
        size_t packed = U16(&head[4]), unpacked = U16(&head[6]);
        if (unpacked > BlockMax || packed > CompressedBlockMax || (method == CabMethod::None && packed != unpacked)) {
            return Fail(findings, "is damaged: " + name + " gives impossible sizes");
        }
        uint64_t dataAt = at + head.size();
        at = dataAt + packed;
        uint64_t blockEnd = produced + unpacked;
        if (method == CabMethod::None && blockEnd <= begin) {  // stored data before the member: not read
            produced = blockEnd;
            continue;
        }
        if (!Read(dataAt, packed, &data)) return PastEnd(findings, name);
        if (checksum != 0 &&
            DataChecksum(&head[4], head.size() - 4, DataChecksum(data.data(), data.size(), 0)) != checksum) {
            return Fail(findings, "is damaged: " + name + " fails its checksum; copy or build it again");
        }
        const uint8_t* bytes = data.data();
        if (method == CabMethod::Mszip) {
            if (packed < 2 || data[0] != 'C' || data[1] != 'K' ||
                !decoder.Block(data.data() + 2, packed - 2, plain.data(), unpacked)) {
                return Fail(findings, "is damaged: " + name + " is not valid MSZIP data");
            }
            bytes = plain.data();
        }
        uint64_t from = std::max(produced, begin), to = std::min(blockEnd, end);
        if (from < to) out->insert(out->end(), bytes + (from - produced), bytes + (to - produced));
        produced = blockEnd;
        if (produced >= end) return true;
    }
    return Fail(findings, "is damaged: member " + file.name + " runs past the end of its folder's data");
}

}  // namespace cepack
