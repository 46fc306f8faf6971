#include "tools/cepack/cabinet_writer.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "tools/cepack/cabinet_layout.h"

namespace cepack {

namespace {

using namespace cabinet_layout;

constexpr size_t BlockData = BlockMax;  // uncompressed bytes per CFDATA, the last one fewer
constexpr uint8_t VersionMinor = 3;
constexpr uint8_t VersionMajor = 1;
constexpr uint16_t FlagsNone = 0;  // no reserve, no previous or next cabinet
constexpr uint16_t SetId = 0;
constexpr uint16_t CabinetIndex = 0;
constexpr uint16_t FirstFolder = 0;
// Not even the archive bit: the device would carry any attribute over to the installed file.
constexpr uint16_t AttributesPlain = 0;
constexpr size_t BaseMax = 8, ExtensionMax = 3;
const char MszipSignature[2] = {'C', 'K'};
constexpr uint64_t MaxCabinetSize = 0xFFFFFFFFull;

class LittleEndian {
public:
    void U8(uint8_t v) { bytes_ += static_cast<char>(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v & 0xFF));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v & 0xFFFF));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Text(const std::string& s) { bytes_ += s; }
    void Zero() { bytes_ += '\0'; }
    const std::string& Get() const { return bytes_; }

private:
    std::string bytes_;
};

// CFDATA's checksum: the XOR of the little-endian 32-bit words, and of the
// one to three bytes left over taken first byte highest (not little-endian).
uint32_t DataChecksum(const uint8_t* p, size_t n, uint32_t seed) {
    uint32_t sum = seed;
    for (; n >= 4; p += 4, n -= 4) {
        sum ^= static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
               static_cast<uint32_t>(p[3]) << 24;
    }
    uint32_t tail = 0;
    for (; n > 0; --n) tail = tail << 8 | *p++;
    return sum ^ tail;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAll(FILE* out, const void* data, size_t size, std::string* error) {
    if (std::fwrite(data, 1, size, out) == size) return true;
    *error = SystemError("can't write the cabinet");
    return false;
}

bool IsNameCharacter(char c) {
    if (c <= ' ' || c > '~') return false;
    return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool CheckMembers(const std::vector<CabinetMember>& members, std::string* error) {
    if (members.empty()) {
        *error = "a cabinet needs at least one member";
        return false;
    }
    if (members.size() > CabinetMaxMembers) {
        *error = std::to_string(members.size()) + " members: a cabinet holds at most " +
                 std::to_string(CabinetMaxMembers);
        return false;
    }
    uint64_t total = 0;
    std::set<std::string> seen;
    for (const CabinetMember& m : members) {
        if (!IsCabinetMemberName(m.name)) {
            *error = "\"" + m.name + "\": a member's name must be 8.3 printable ASCII (at most 8 characters, a dot, 3)";
            return false;
        }
        if (!seen.insert(Upper(m.name)).second) {
            *error = m.name + ": two members of the same name";
            return false;
        }
        if (m.size > CabinetMaxData - total) {
            *error = m.name + ": the members hold more than one cabinet folder can (" +
                     std::to_string(CabinetMaxData) + " bytes)";
            return false;
        }
        total += m.size;
    }
    return true;
}

uint32_t BlockCount(uint64_t total) { return static_cast<uint32_t>((total + BlockData - 1) / BlockData); }

// zlib's raw deflate, restarted for every block: each MSZIP block then stands
// alone, which readers take as well as a window carried over.
class MszipEncoder {
public:
    MszipEncoder() {
        ok_ = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~MszipEncoder() {
        if (ok_) deflateEnd(&stream_);
    }
    MszipEncoder(const MszipEncoder&) = delete;
    MszipEncoder& operator=(const MszipEncoder&) = delete;
    bool Ok() const { return ok_; }
    size_t Bound() { return sizeof MszipSignature + deflateBound(&stream_, BlockData); }

    // "CK" and the deflate stream of in; false if out is too small.
    bool Encode(const uint8_t* in, size_t size, uint8_t* out, size_t capacity, size_t* produced) {
        if (deflateReset(&stream_) != Z_OK || capacity < sizeof MszipSignature) return false;
        std::memcpy(out, MszipSignature, sizeof MszipSignature);
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(size);
        stream_.next_out = out + sizeof MszipSignature;
        stream_.avail_out = static_cast<uInt>(capacity - sizeof MszipSignature);
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return false;
        *produced = capacity - stream_.avail_out;
        return true;
    }

private:
    z_stream stream_{};
    bool ok_ = false;
};

// Gathers member data into 32 KiB blocks and writes each as a CFDATA,
// counting what goes out.
class BlockWriter {
public:
    BlockWriter(FILE* out, CabinetCompression compression, uint64_t written)
        : out_(out), compression_(compression), written_(written), in_(new uint8_t[BlockData]) {
        if (compression_ == CabinetCompression::Mszip) {
            packed_size_ = encoder_.Bound();
            packed_.reset(new uint8_t[packed_size_]);
        }
    }
    bool Ok() const { return compression_ == CabinetCompression::None || encoder_.Ok(); }

    bool AddMember(const CabinetMember& m, std::string* error) {
        uint64_t left = m.size;
        while (left > 0) {
            size_t want = BlockData - fill_;
            if (want > left) want = static_cast<size_t>(left);
            size_t got = 0;
            if (!m.source(in_.get() + fill_, want, &got, error)) return false;
            if (got == 0 || got > want) return Changed(m, error);
            fill_ += got;
            left -= got;
            if (fill_ == BlockData && !Flush(error)) return false;
        }
        // The source must end where its size said: else the file changed while packing.
        uint8_t probe;
        size_t got = 0;
        if (!m.source(&probe, 1, &got, error)) return false;
        return got == 0 || Changed(m, error);
    }

    // The last, partial block.
    bool Finish(std::string* error) { return fill_ == 0 || Flush(error); }
    uint64_t Written() const { return written_; }
    uint32_t Blocks() const { return blocks_; }

private:
    static bool Changed(const CabinetMember& m, std::string* error) {
        *error = m.name + ": the data did not match its size of " + std::to_string(m.size) +
                 " bytes (did the file change while packing?)";
        return false;
    }

    bool Flush(std::string* error) {
        const uint8_t* data = in_.get();
        size_t size = fill_;
        if (compression_ == CabinetCompression::Mszip) {
            if (!encoder_.Encode(in_.get(), fill_, packed_.get(), packed_size_, &size)) {
                *error = "zlib could not compress a block";
                return false;
            }
            data = packed_.get();
        }
        uint8_t sizes[4] = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                            static_cast<uint8_t>(fill_ & 0xFF), static_cast<uint8_t>(fill_ >> 8)};
        LittleEndian b;
        b.U32(DataChecksum(sizes, sizeof sizes, DataChecksum(data, size, 0)));
        b.U16(static_cast<uint16_t>(size));
        b.U16(static_cast<uint16_t>(fill_));
        written_ += b.Get().size() + size;
        if (written_ > MaxCabinetSize) {
            *error = "the cabinet would be larger than 4 GiB, which its size field cannot hold";
            return false;
        }
        if (!WriteAll(out_, b.Get().data(), b.Get().size(), error) || !WriteAll(out_, data, size, error)) return false;
        fill_ = 0;
        blocks_++;
        return true;
    }

    FILE* out_;
    CabinetCompression compression_;
    uint64_t written_;
    std::unique_ptr<uint8_t[]> in_;
    size_t fill_ = 0;
    MszipEncoder encoder_;
    std::unique_ptr<uint8_t[]> packed_;
    size_t packed_size_ = 0;
    uint32_t blocks_ = 0;
};

// CFHEADER, CFFOLDER and the CFFILE table: all known before any data, but
// for the cabinet's size, written as 0 here and filled in at the end.
std::string Directory(const std::vector<CabinetMember>& members, CabinetCompression compression) {
    size_t filesAt = HeaderSize + FolderSize;
    size_t dataAt = filesAt;
    uint64_t total = 0;
    for (const CabinetMember& m : members) {
        dataAt += FileFixedSize + m.name.size() + 1;
        total += m.size;
    }
    LittleEndian b;
    b.Text("MSCF");
    b.U32(0);  // reserved1
    b.U32(0);  // cbCabinet
    b.U32(0);  // reserved2
    b.U32(static_cast<uint32_t>(filesAt));
    b.U32(0);  // reserved3
    b.U8(VersionMinor);
    b.U8(VersionMajor);
    b.U16(1);  // cFolders
    b.U16(static_cast<uint16_t>(members.size()));
    b.U16(FlagsNone);
    b.U16(SetId);
    b.U16(CabinetIndex);

    b.U32(static_cast<uint32_t>(dataAt));
    b.U16(static_cast<uint16_t>(BlockCount(total)));
    b.U16(compression == CabinetCompression::Mszip ? CompressionMszip : CompressionNone);

    uint64_t offset = 0;
    for (const CabinetMember& m : members) {
        b.U32(static_cast<uint32_t>(m.size));
        b.U32(static_cast<uint32_t>(offset));
        b.U16(FirstFolder);
        b.U16(m.dosDate);
        b.U16(m.dosTime);
        b.U16(AttributesPlain);
        b.Text(m.name);
        b.Zero();
        offset += m.size;
    }
    return b.Get();
}

}  // namespace

bool IsCabinetMemberName(const std::string& name) {
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > BaseMax || extension.size() > ExtensionMax) return false;
    if (dot != std::string::npos && extension.empty()) return false;
    for (char c : base + extension) {
        if (!IsNameCharacter(c)) return false;
    }
    return true;
}

bool WriteCabinet(FILE* out, const std::vector<CabinetMember>& members, CabinetCompression compression,
                  std::string* error) {
    if (!CheckMembers(members, error)) return false;
    std::string directory = Directory(members, compression);
    BlockWriter data(out, compression, directory.size());
    if (!data.Ok()) {
        *error = "zlib could not start a deflate stream";
        return false;
    }
    if (!WriteAll(out, directory.data(), directory.size(), error)) return false;
    for (const CabinetMember& m : members) {
        if (!data.AddMember(m, error)) return false;
    }
    if (!data.Finish(error)) return false;

    LittleEndian size;
    size.U32(static_cast<uint32_t>(data.Written()));
    if (std::fseek(out, HeaderCbCabinet, SEEK_SET) != 0 || !WriteAll(out, size.Get().data(), 4, error) ||
        std::fseek(out, 0, SEEK_END) != 0 || std::fflush(out) != 0) {
        *error = SystemError("can't write the cabinet");
        return false;
    }
    return true;
}

}  // namespace cepack
