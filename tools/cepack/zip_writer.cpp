#include "tools/cepack/zip_writer.h"

#include <sys/types.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/cepack/host_paths.h"

namespace cepack {

namespace {

constexpr size_t BlockSize = 1 << 18;
constexpr uint16_t VersionStored = 10;
constexpr uint16_t VersionDeflated = 20;
// Host 0 (MS-DOS): the launcher then takes the low attribute byte as DOS attributes.
constexpr uint16_t VersionMadeBy = 20;
constexpr uint16_t FlagMaximumCompression = 0x0002;
constexpr uint16_t FlagUtf8Name = 0x0800;
constexpr const char* ChangedWhilePacking = "the file changed while it was being packed";

class Bytes {
public:
    void U16(uint16_t v) {
        text_ += static_cast<char>(v & 0xFF);
        text_ += static_cast<char>(v >> 8);
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v & 0xFFFF));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Text(const std::string& s) { text_ += s; }
    const std::string& Get() const { return text_; }

private:
    std::string text_;
};

// Plain ASCII names stay unflagged: readers take those alike in any code page.
uint16_t NameFlag(const std::string& name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return FlagUtf8Name;
    }
    return 0;
}

// Version needed to the name length: the same in local and central headers.
void PutSharedFields(Bytes* b, const ZipEntryRecord& e) {
    b->U16(e.versionNeeded);
    b->U16(e.flags | NameFlag(e.name));
    b->U16(e.method);
    b->U32(e.dosDateTime);
    b->U32(e.crc32);
    b->U32(e.compressedSize);
    b->U32(e.size);
    b->U16(static_cast<uint16_t>(e.name.size()));
}

bool WriteAll(FILE* file, const void* data, size_t size) { return std::fwrite(data, 1, size, file) == size; }
bool WriteAll(FILE* file, const std::string& data) { return WriteAll(file, data.data(), data.size()); }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

// zlib's raw deflate stream, ended at scope exit.
class DeflateStream {
public:
    DeflateStream() { ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~DeflateStream() {
        if (ok_) deflateEnd(&stream_);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
    bool Ok() const { return ok_; }
    z_stream* Get() { return &stream_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

}  // namespace

ZipWriter::ZipWriter(FILE* file) : file_(file) {}

bool ZipWriter::WriteLocalHeader(const ZipEntryRecord& e) {
    Bytes b;
    b.U32(0x04034B50);
    PutSharedFields(&b, e);
    b.U16(0);  // extra field
    b.Text(e.name);
    return WriteAll(file_, b.Get());
}

bool ZipWriter::Deflate(FILE* input, uint64_t* read, uint32_t* crc, uint64_t* written, std::string* error) {
    DeflateStream deflater;
    if (!deflater.Ok()) {
        *error = "zlib could not start a deflate stream";
        return false;
    }
    z_stream* z = deflater.Get();
    std::unique_ptr<unsigned char[]> in(new unsigned char[BlockSize]);
    std::unique_ptr<unsigned char[]> out(new unsigned char[BlockSize]);
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        size_t n = std::fread(in.get(), 1, BlockSize, input);
        if (std::ferror(input)) {
            *error = SystemError("read failed");
            return false;
        }
        *read += n;
        *crc = static_cast<uint32_t>(crc32(*crc, in.get(), static_cast<uInt>(n)));
        flush = n < BlockSize ? Z_FINISH : Z_NO_FLUSH;
        z->next_in = in.get();
        z->avail_in = static_cast<uInt>(n);
        do {
            z->next_out = out.get();
            z->avail_out = static_cast<uInt>(BlockSize);
            deflate(z, flush);
            size_t produced = BlockSize - z->avail_out;
            if (!WriteAll(file_, out.get(), produced)) {
                *error = SystemError("write failed");
                return false;
            }
            *written += produced;
        } while (z->avail_out == 0);
    }
    return true;
}

bool ZipWriter::CopyStored(FILE* input, uint64_t* read, uint32_t* crc, std::string* error) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[BlockSize]);
    for (;;) {
        size_t n = std::fread(block.get(), 1, BlockSize, input);
        if (std::ferror(input)) {
            *error = SystemError("read failed");
            return false;
        }
        if (n == 0) return true;
        *read += n;
        *crc = static_cast<uint32_t>(crc32(*crc, block.get(), static_cast<uInt>(n)));
        if (!WriteAll(file_, block.get(), n)) {
            *error = SystemError("write failed");
            return false;
        }
    }
}

bool ZipWriter::AddFile(const std::string& archiveName, const std::string& hostPath, uint64_t expectedSize,
                        uint32_t dosDateTime, uint8_t attributes, std::string* error) {
    ZipEntryRecord e{archiveName, VersionDeflated, FlagMaximumCompression, MethodDeflated, dosDateTime, 0, 0,
                     static_cast<uint32_t>(expectedSize), attributes, 0};
    off_t headerAt = ftello(file_);
    if (headerAt < 0 || !WriteLocalHeader(e)) {
        *error = SystemError("write failed");
        return false;
    }
    e.localHeaderOffset = static_cast<uint32_t>(headerAt);
    off_t dataAt = ftello(file_);
    InputFile input(OpenHostFile(HostPath(hostPath), "rb"));
    if (!input) {
        *error = SystemError("can't open");
        return false;
    }
    uint64_t read = 0, written = 0;
    uint32_t crc = 0;
    if (!Deflate(input.get(), &read, &crc, &written, error)) return false;
    if (written >= read) {
        // Deflate did not pay: store the bytes instead, over what it wrote.
        uint32_t firstCrc = crc;
        e = ZipEntryRecord{archiveName, VersionStored, 0, MethodStored, dosDateTime, 0, 0, 0, attributes,
                           e.localHeaderOffset};
        if (std::fseek(input.get(), 0, SEEK_SET) != 0 || fseeko(file_, dataAt, SEEK_SET) != 0) {
            *error = SystemError("seek failed");
            return false;
        }
        uint64_t firstRead = read;
        read = 0;
        crc = 0;
        if (!CopyStored(input.get(), &read, &crc, error)) return false;
        written = read;
        if (read != firstRead || crc != firstCrc) {
            *error = ChangedWhilePacking;
            return false;
        }
    }
    if (read != expectedSize) {
        *error = ChangedWhilePacking;
        return false;
    }
    e.crc32 = crc;
    e.compressedSize = static_cast<uint32_t>(written);
    e.size = static_cast<uint32_t>(read);
    off_t endAt = ftello(file_);
    if (endAt < 0 || fseeko(file_, headerAt, SEEK_SET) != 0 || !WriteLocalHeader(e) ||
        fseeko(file_, endAt, SEEK_SET) != 0) {
        *error = SystemError("write failed");
        return false;
    }
    entries_.push_back(e);
    return true;
}

bool ZipWriter::Finish(std::string* error) {
    off_t directoryAt = ftello(file_);
    Bytes b;
    for (const ZipEntryRecord& e : entries_) {
        b.U32(0x02014B50);
        b.U16(VersionMadeBy);
        PutSharedFields(&b, e);
        b.U16(0);  // extra field
        b.U16(0);  // comment
        b.U16(0);  // disk
        b.U16(0);  // internal attributes
        b.U32(e.attributes);
        b.U32(e.localHeaderOffset);
        b.Text(e.name);
    }
    size_t directorySize = b.Get().size();
    b.U32(0x06054B50);
    b.U16(0);
    b.U16(0);
    b.U16(static_cast<uint16_t>(entries_.size()));
    b.U16(static_cast<uint16_t>(entries_.size()));
    b.U32(static_cast<uint32_t>(directorySize));
    b.U32(static_cast<uint32_t>(directoryAt));
    b.U16(0);  // comment
    if (directoryAt < 0 || !WriteAll(file_, b.Get()) || std::fflush(file_) != 0 ||
        ftruncate(fileno(file_), ftello(file_)) != 0) {
        *error = SystemError("write failed");
        return false;
    }
    return true;
}

}  // namespace cepack
