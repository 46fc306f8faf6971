// cepack list, verify and extract: the launcher's own directory reader, walk
// and entry extraction, with their results put into words.
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "launcher/archive_directory.h"
#include "launcher/entry_path.h"
#include "launcher/extract_driver.h"
#include "launcher/extract_entry.h"
#include "support/progress.h"
#include "tools/cepack/authenticode.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

constexpr uint32_t EndRecordSize = 22;
constexpr uint32_t DiskNumberAt = 4;      // this disk, then the directory's disk
constexpr uint32_t DiskEntryCountAt = 8;  // entries on this disk
constexpr uint32_t EntryCountAt = 10;     // total entries, in the end record

// The signature bytes alone also sit in any program that reads ZIP files,
// the launcher stub among them; a record some archiver wrote names its own
// disk as the directory's and counts no more entries there than in all.
bool LooksWritten(const char* record) {
    auto le16 = [&](uint32_t k) {
        return static_cast<unsigned>(static_cast<unsigned char>(record[k]) |
                                     static_cast<unsigned char>(record[k + 1]) << 8);
    };
    return le16(DiskNumberAt) == le16(DiskNumberAt + 2) && le16(DiskEntryCountAt) <= le16(EntryCountAt);
}

// The entry count of the end record the launcher would take (the last
// signature with room for the record's fixed part), read independently of
// the launcher's code; nothing without an end record. With writtenOnly,
// signatures that don't look like a written record are passed over.
std::optional<uint16_t> EndRecordEntryCount(const std::string& hostPath, bool writtenOnly = false) {
    HostFileInfo info;
    if (!ReadHostFileInfo(HostPath(hostPath), &info) || info.size < EndRecordSize) return std::nullopt;
    std::unique_ptr<FILE, int (*)(FILE*)> in(OpenHostFile(HostPath(hostPath), "rb"), std::fclose);
    if (!in) return std::nullopt;
    uint64_t size = info.size;
    const uint64_t block = 1 << 20;
    uint64_t end = size;  // the block is [start, end), plus the record's tail
    std::vector<char> bytes;
    for (;;) {
        uint64_t start = end > block ? end - block : 0;
        uint64_t length = std::min<uint64_t>(size, end + EndRecordSize - 1) - start;
        bytes.resize(length);
        if (fseeko(in.get(), static_cast<off_t>(start), SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, length, in.get()) != length) {
            return std::nullopt;
        }
        for (uint64_t i = length - EndRecordSize + 1; i-- > 0;) {
            if (start + i + EndRecordSize <= size && bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 &&
                bytes[i + 3] == 6 && (!writtenOnly || LooksWritten(&bytes[i]))) {
                auto at = [&](uint64_t k) { return static_cast<unsigned char>(bytes[i + k]); };
                return static_cast<uint16_t>(at(EntryCountAt) | at(EntryCountAt + 1) << 8);
            }
        }
        if (start == 0) return std::nullopt;
        end = start;
    }
}

// Whether a ZIP starts somewhere in the file: a local header whose fields
// look written (a version and method in use, a name of printable bytes that
// fits the file). The signature alone is also an immediate in the stub's
// code. A file with one but no end record was cut short.
bool HoldsLocalHeader(const std::string& hostPath) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(OpenHostFile(HostPath(hostPath), "rb"), std::fclose);
    if (!in) return false;
    constexpr size_t Block = 1 << 20, HeaderSize = 30, NameMax = 259;
    std::vector<unsigned char> bytes;
    for (uint64_t start = 0;; start += Block) {
        // Each block read with room for a header and name that straddle its end.
        bytes.resize(Block + HeaderSize + NameMax);
        if (fseeko(in.get(), static_cast<off_t>(start), SEEK_SET) != 0) return false;
        size_t length = std::fread(bytes.data(), 1, bytes.size(), in.get());
        for (size_t i = 0; i + HeaderSize <= length && i < Block; ++i) {
            if (bytes[i] != 'P' || bytes[i + 1] != 'K' || bytes[i + 2] != 3 || bytes[i + 3] != 4) continue;
            auto le16 = [&](size_t k) { return static_cast<unsigned>(bytes[i + k] | bytes[i + k + 1] << 8); };
            unsigned version = le16(4), method = le16(8), nameLength = le16(26);
            if ((version & 0xFF) > 63 || (method != 0 && method != 8) || nameLength == 0 || nameLength > NameMax ||
                i + HeaderSize + nameLength > length) {
                continue;
            }
            bool printable = true;
            for (size_t k = 0; k < nameLength && printable; ++k) printable = bytes[i + HeaderSize + k] >= 0x20;
            if (printable) return true;
        }
        if (length < bytes.size()) return false;
    }
}

// Checks what the launcher checks before it shows any dialog, and says why a
// package fails. ExitOk, with the name the engine opens it by, when the
// launcher would go on.
int OpenPackage(const std::string& package, std::unique_ptr<ArchiveName>* archive, const Streams& s) {
    HostKind kind = HostKindOf(HostPath(package));
    if (kind == HostKind::Missing) {
        s.err << "cepack: " << package << ": no such file\n";
        return ExitNoInput;
    }
    if (kind != HostKind::File || !IsReadableFile(HostPath(package))) {
        s.err << "cepack: " << package << ": can't be read\n";
        return ExitNoInput;
    }
    *archive = std::make_unique<ArchiveName>(package);
    const std::string& name = (*archive)->Name();
    if (name.empty()) {
        s.err << "cepack: " << package << ": can't be read\n";
        return ExitNoInput;
    }
    if (SumUncompressedSizes(name.c_str(), 0, 0) != -1) return ExitOk;

    ArchiveDirectory directory;
    int32_t result = OpenArchiveDirectory(name.c_str(), &directory, 0, 0);
    if (result == ArchiveOpen) {
        while (NextArchiveEntry(&directory) == ArchiveOpen) {
        }
    }
    CloseArchiveDirectory(&directory);
    const char* why = "all its entries are empty, which the launcher takes for a broken download";
    if (result == ArchiveOpen && !directory.EndReached) {
        why = "its central directory breaks off at a damaged header or disagrees with the end record's entry count";
    }
    if (result == ArchiveUnreadable && !EndRecordEntryCount(package, true)) {
        if (HoldsLocalHeader(package)) {
            s.err << "cepack: " << package << ": damaged: cut short (its ZIP begins, but its end is missing): "
                  << "download or build it again\n";
            return ExitDefective;
        }
        s.err << "cepack: " << package << ": not a package (no ZIP end record found)\n";
        return ExitNotPackage;
    }
    if (result == ArchiveUnreadable) why = "its central directory can't be read";
    if (result == ArchiveTooShort) why = "its end record leaves no room for a central directory";
    if (result == ArchiveNoEntry) why = "its central directory holds no entries";
    s.err << "cepack: " << package << ": defective package: " << why << "\n";
    return ExitDefective;
}

std::string MethodName(uint16_t method) {
    if (method == 0) return "stored";
    if (method == 8) return "deflated";
    return "method " + std::to_string(method);
}

std::string DisplayName(const char* name) {
    std::string out(name);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::string EntryResultText(int32_t result, uint16_t method) {
    switch (result) {
        case ExtractOk: return "ok";
        case ExtractCrcMismatch: return "CRC mismatch or bad block header";
        case ExtractWriteFailed: return "could not write the output";
        case ExtractReadFailed: return "data truncated or unreadable";
        case ExtractCorrupt: return "bad local header or corrupt data";
        case ExtractCancelled: return "cancelled";
        case ExtractUnsupportedMethod: return "unsupported " + MethodName(method);
        case ExtractEncrypted: return "encrypted";
        default: return "failed (" + std::to_string(result) + ")";
    }
}

// CRC-32 and size of a file as the host reads it.
bool ChecksumFile(const std::string& hostPath, uint32_t* crc, uint64_t* size) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(OpenHostFile(HostPath(hostPath), "rb"), std::fclose);
    if (!in) return false;
    std::vector<char> block(1 << 16);
    uLong value = crc32(0, nullptr, 0);
    *size = 0;
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), in.get())) > 0) {
        value = crc32(value, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(n));
        *size += n;
    }
    *crc = static_cast<uint32_t>(value);
    return !std::ferror(in.get());
}

// On Windows the core's form is the system's own.
std::string HostPathOf(const std::string& corePath) {
    std::string out = corePath;
#ifndef _WIN32
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
#endif
    return out;
}

// Extracts one entry into the scratch directory and compares the result with
// the central directory's record; the file is removed again.
std::string VerifyEntry(const std::string& archiveName, const std::string& scratch, const ArchiveDirectory& d) {
    uint16_t attributes = d.Attributes & ~AttrReadOnly;
    char path[PathBufferSize];
    if (!d.NameUsable) return "UTF-8 name not valid or not in this system's code page";
    if (!BuildEntryPath(scratch.c_str(), d.Name, attributes, path)) {
        return IsContainedEntryName(d.Name) ? "path too long for the launcher" : "name leaves the destination";
    }
    int32_t result = ExtractDirectoryEntry(archiveName.c_str(), path, attributes, d, 0, nullptr, 0);
    if (result != ExtractOk) return EntryResultText(result, d.Method);
    std::string hostPath = HostPathOf(path);
    std::error_code ec;
    if (fs::is_directory(HostPath(hostPath), ec)) return "ok";
    uint32_t crc = 0;
    uint64_t size = 0;
    bool readable = ChecksumFile(hostPath, &crc, &size);
    fs::remove(HostPath(hostPath), ec);
    if (!readable) return "extracted file can't be read back";
    if (crc != d.Crc32) return "CRC differs from the central directory";
    if (size != d.UncompressedSize) return "size differs from the central directory";
    return "ok";
}

// The directory again, for the walk; a package changed or taken away since
// OpenPackage read it is said so rather than failing without a word.
bool OpenDirectoryAgain(const std::string& package, const std::string& archiveName, ArchiveDirectory* d,
                        const Streams& s) {
    if (OpenArchiveDirectory(archiveName.c_str(), d, 0, 0) == ArchiveOpen) return true;
    s.err << "cepack: " << package << ": can't be read: it changed or went away while cepack read it\n";
    return false;
}

// Bytes of a file from offset, all of them or nothing.
bool ReadHostBytes(const std::string& hostPath, uint64_t offset, size_t count, std::vector<uint8_t>* bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(OpenHostFile(HostPath(hostPath), "rb"), std::fclose);
    bytes->resize(count);
    return in && fseeko(in.get(), static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(bytes->data(), 1, count, in.get()) == count;
}

// The signers the certificate table names, one line each. A damaged table
// is a warning only: the payload the launcher reads is checked on its own.
void ReportSignatures(const std::string& package, const Streams& s) {
    constexpr size_t HeadSize = 64 * 1024;
    constexpr uint32_t TableLimit = 64 << 20;  // far beyond any signature, short of any memory
    HostFileInfo info;
    std::vector<uint8_t> head, table;
    if (!ReadHostFileInfo(HostPath(package), &info) ||
        !ReadHostBytes(package, 0, static_cast<size_t>(std::min<uint64_t>(info.size, HeadSize)), &head)) {
        s.out << "signature: warning: the headers can't be read\n";
        return;
    }
    CertificateTableSpot spot = FindCertificateTable(head.data(), head.size(), info.size);
    if (spot.place == TablePlace::NotProgram || spot.place == TablePlace::None) {
        s.out << "signature: not signed\n";
        return;
    }
    if (spot.place == TablePlace::Damaged) {
        s.out << "signature: warning: " << spot.problem << "\n";
        return;
    }
    if (spot.size > TableLimit) {
        s.out << "signature: warning: the certificate table (" << spot.size << " bytes) is too large to read\n";
        return;
    }
    if (!ReadHostBytes(package, spot.offset, spot.size, &table)) {
        s.out << "signature: warning: the certificate table can't be read\n";
        return;
    }
    for (const SignatureFinding& f : ReadCertificateTable(table.data(), table.size())) {
        std::string which = "signature: ";
        if (f.depth == 1) which = "nested signature: ";
        if (f.depth > 1) which = "nested signature (level " + std::to_string(f.depth) + "): ";
        if (f.problem.empty()) {
            s.out << which << "signed by \"" << f.signer << "\" (not checked for trust)\n";
        } else {
            s.out << which << "warning: " << f.problem << "\n";
        }
    }
}

}  // namespace

int RunList(const std::string& package, const Streams& s) {
    std::unique_ptr<ArchiveName> archive;
    int status = OpenPackage(package, &archive, s);
    if (status != ExitOk) return status;
    const std::string& archiveName = archive->Name();
    ArchiveDirectory d;
    if (!OpenDirectoryAgain(package, archiveName, &d, s)) return ExitNoInput;
    s.out << "    Length  Compressed  Method    Date       Time   Name\n";
    uint64_t total = 0, totalCompressed = 0, count = 0;
    char line[128];
    do {
        uint32_t date = d.DosDateTime >> 16, time = d.DosDateTime & 0xFFFF;
        std::snprintf(line, sizeof line, "%10u  %10u  %-8s  %04u-%02u-%02u %02u:%02u  ", d.UncompressedSize,
                      d.CompressedSize, MethodName(d.Method).c_str(), (date >> 9) + 1980, (date >> 5) & 15, date & 31,
                      time >> 11, (time >> 5) & 63);
        s.out << line << DisplayName(d.Name) << "\n";
        total += d.UncompressedSize;
        totalCompressed += d.CompressedSize;
        ++count;
    } while (NextArchiveEntry(&d) == ArchiveOpen);
    std::snprintf(line, sizeof line, "%10llu  %10llu  ", static_cast<unsigned long long>(total),
                  static_cast<unsigned long long>(totalCompressed));
    s.out << line << count << (count == 1 ? " entry\n" : " entries\n");
    return ExitOk;
}

int RunVerify(const std::string& package, const Streams& s) {
    std::unique_ptr<ArchiveName> archive;
    int status = OpenPackage(package, &archive, s);
    if (status != ExitOk) return status;
    const std::string& archiveName = archive->Name();
    PrivateTempDir scratchDir;
    std::optional<std::string> scratch = scratchDir.Ok() ? CorePathOf(scratchDir.HostPath(), 1) : std::nullopt;
    if (!scratch) {
        s.err << "cepack: can't make a temporary directory to extract into\n";
        return ExitWriteError;
    }
    *scratch += '\\';
    ArchiveDirectory d;
    if (!OpenDirectoryAgain(package, archiveName, &d, s)) return ExitNoInput;
    uint64_t count = 0, failed = 0, total = 0;
    char line[64];
    do {
        std::string verdict = VerifyEntry(archiveName, *scratch, d);
        std::snprintf(line, sizeof line, "%10u  %-8s  ", d.UncompressedSize, MethodName(d.Method).c_str());
        s.out << line << DisplayName(d.Name) << ": " << verdict << "\n";
        ++count;
        total += d.UncompressedSize;
        if (verdict != "ok") ++failed;
    } while (NextArchiveEntry(&d) == ArchiveOpen);

    std::optional<uint16_t> counted = EndRecordEntryCount(package);
    if (counted && *counted != count % 0x10000) {
        s.out << "the directory walk ended after " << count << " entries; the end record counts " << *counted
              << "\n";
        ++failed;
    }
    ReportSignatures(package, s);
    if (failed != 0) {
        s.out << package << ": " << failed << " of " << count << " checks failed\n";
        return ExitDefective;
    }
    s.out << package << ": ok, " << count << (count == 1 ? " entry, " : " entries, ") << total << " bytes\n";
    return ExitOk;
}

int RunExtract(const std::string& package, const std::string& directory, const Streams& s) {
    std::unique_ptr<ArchiveName> archive;
    int status = OpenPackage(package, &archive, s);
    if (status != ExitOk) return status;
    const std::string& archiveName = archive->Name();
    if (!CreateHostDirectories(HostPath(directory))) {
        s.err << "cepack: " << directory << ": can't be used as the destination directory\n";
        return ExitWriteError;
    }
    // The launcher's extraction, which this is, joins names to it in 259 characters.
    std::optional<std::string> destination = CorePathOf(directory, 1);
    if (!destination) {
#ifdef _WIN32
        const char* why = "is longer than the 259 characters the launcher extracts into, even in its short form";
#else
        const char* why = "holds a \"\\\" or is longer than the 259 characters the launcher extracts into";
#endif
        s.err << "cepack: " << directory << ": can't be used as the destination directory: its path " << why << "\n";
        return ExitWriteError;
    }
    *destination += '\\';
    // The launcher's sequence: size first, then the walk with base 0 and size 0.
    int32_t total = SumUncompressedSizes(archiveName.c_str(), 0, 0);
    SetProgressTotal(total);
    int32_t result = ExtractAllEntries(archiveName.c_str(), destination->c_str(), 0, 0);
    switch (result) {
        case WalkOk:
            s.out << "cepack: extracted " << package << " into " << directory << " (" << total << " bytes)\n";
            return ExitOk;
        case WalkWriteError:
            s.err << "cepack: " << directory << ": write error; the disk may be full or write protected\n";
            return ExitWriteError;
        case WalkCancelled:
            s.err << "cepack: extraction cancelled\n";
            return ExitDefective;
        default:
            s.err << "cepack: " << package << ": defective package: an entry is damaged, unsupported, or "
                  << "named to leave the destination (cepack verify says which)\n";
            return ExitDefective;
    }
}

}  // namespace cepack
