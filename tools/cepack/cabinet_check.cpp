#include "tools/cepack/cabinet_check.h"

#include "tools/cepack/cab_setup_read.h"
#include "tools/cepack/cabinet_layout.h"

#include <algorithm>
#include <cstring>

namespace cepack {

namespace {

using namespace cabinet_layout;

const char CabinetSignature[] = "MSCF";
const char SetupFileSignature[] = "MSCE";
const char SetupFileExtension[] = ".000";
// What cepack new writes until the author puts the real cabinet in its place.
const char NewPlaceholder[] = "MSCF placeholder:";

struct DeviceSetupFile {
    std::string name;
    uint32_t size = 0;
    uint32_t offset = 0;  // in its folder's uncompressed data
    uint16_t folder = 0;
};

class Cabinet {
public:
    Cabinet(uint64_t size, const CabinetReader& read) : size_(size), read_(read) {}

    // Bytes [offset, offset + count) below end, or false where they run past it.
    bool Read(uint64_t offset, size_t count, std::vector<uint8_t>* out) const {
        if (offset > end_ || count > end_ - offset) return false;
        out->resize(count);
        return count == 0 || read_(offset, out->data(), count) == count;
    }
    // As many of the count bytes at offset as lie below end.
    void ReadUpTo(uint64_t offset, size_t count, std::vector<uint8_t>* out) const {
        uint64_t available = offset < end_ ? end_ - offset : 0;
        out->resize(static_cast<size_t>(std::min<uint64_t>(count, available)));
        if (!out->empty()) out->resize(read_(offset, out->data(), out->size()));
    }

    void Error(std::string message) { findings_.push_back({true, std::move(message)}); }
    void Warning(std::string message) { findings_.push_back({false, std::move(message)}); }
    void Broken(const std::string& what) {
        Error("is not a cabinet the application manager can read: " + what +
              "; build the cabinet again with the CE cabinet wizard");
    }
    void PastEnd(const std::string& table) {
        Error("is damaged: " + table + " runs past the end of the cabinet; copy or build it again");
    }

    uint64_t size_;
    uint64_t end_ = 0;  // of the cabinet: its header's cbCabinet, never past the file
    const CabinetReader& read_;
    std::vector<CabinetFinding> findings_;
};

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}
bool StartsWith(const std::vector<uint8_t>& b, const char* text) {
    size_t length = std::strlen(text);
    return b.size() >= length && std::memcmp(b.data(), text, length) == 0;
}

// A NUL-terminated name of at most NameMax bytes at b[at]: its length, or
// NameMax when it has no NUL in reach, or npos where b ends before that.
size_t NameLength(const std::vector<uint8_t>& b, size_t at) {
    for (size_t i = 0; i < NameMax; ++i) {
        if (at + i >= b.size()) return std::string::npos;
        if (b[at + i] == 0) return i;
    }
    return NameMax;
}

bool IsSetupFileName(const std::string& name) {
    size_t n = std::strlen(SetupFileExtension);
    return name.size() > n && name.compare(name.size() - n, n, SetupFileExtension) == 0;
}

// The header up to the folder table; false after a finding.
bool ReadHeader(Cabinet* cab, uint32_t* folders, uint32_t* folderReserve, uint32_t* dataReserve,
                uint64_t* folderTable) {
    std::vector<uint8_t> h;
    cab->end_ = cab->size_;
    cab->ReadUpTo(0, HeaderSize, &h);
    if (StartsWith(h, NewPlaceholder)) {
        cab->Error("is cepack new's placeholder, not a cabinet: put your application's device cabinet in its place "
                   "(cepack new --cab FILE does that for a new folder)");
        return false;
    }
    if (!StartsWith(h, CabinetSignature)) {
        cab->Error("is not a cabinet (no \"MSCF\" signature): name the device cabinet made by the CE cabinet wizard");
        return false;
    }
    if (h.size() < HeaderSize) {
        cab->Error("is cut short: " + std::to_string(h.size()) + " bytes, less than a cabinet header; copy it again");
        return false;
    }
    uint32_t declared = U32(h, HeaderCbCabinet);
    if (h[HeaderVersionMajor] != 1 || h[HeaderVersionMinor] != 3) {
        cab->Broken("its format version is " + std::to_string(h[HeaderVersionMajor]) + "." +
                    std::to_string(h[HeaderVersionMinor]) + ", not 1.3");
        return false;
    }
    if (declared < HeaderSize || U16(h, HeaderCFolders) == 0) {
        cab->Broken(declared < HeaderSize ? "its header gives a size smaller than the header" : "it has no folders");
        return false;
    }
    if (declared > cab->size_) {
        cab->Error("is cut short: its header gives " + std::to_string(declared) + " bytes, the file has " +
                   std::to_string(cab->size_) + "; copy the whole cabinet again");
        return false;
    }
    cab->end_ = declared;
    *folders = U16(h, HeaderCFolders);
    uint16_t flags = U16(h, HeaderFlags);
    uint64_t at = HeaderSize;
    *folderReserve = *dataReserve = 0;
    if (flags & FlagReservePresent) {
        std::vector<uint8_t> r;
        if (!cab->Read(at, ReserveSizesSize, &r)) return cab->PastEnd("its header"), false;
        uint32_t headerReserve = U16(r, 0);
        if (headerReserve > MaxHeaderReserve) return cab->Broken("its header reserve is larger than 60000 bytes"), false;
        *folderReserve = r[2];
        *dataReserve = r[3];
        at += ReserveSizesSize + headerReserve;
    }
    // The names of the previous and next cabinets of a set: two each.
    int names = ((flags & FlagPrevCabinet) ? 2 : 0) + ((flags & FlagNextCabinet) ? 2 : 0);
    for (int i = 0; i < names; ++i) {
        std::vector<uint8_t> n;
        cab->ReadUpTo(at, NameMax, &n);
        size_t length = NameLength(n, 0);
        if (length == std::string::npos) return cab->PastEnd("its header"), false;
        if (length == NameMax) return cab->Broken("a cabinet name in its header has no end"), false;
        at += length + 1;
    }
    *folderTable = at;
    return true;
}

// Whether the setup file's first bytes, where the first data block of an
// uncompressed folder holds them, are the device setup signature; true
// where they cannot be seen that cheaply.
bool SetupFileLooksRight(Cabinet* cab, const DeviceSetupFile& setup, uint32_t folderStart, uint32_t dataReserve,
                         bool* damaged) {
    std::vector<uint8_t> d;
    if (!cab->Read(folderStart, DataHeaderSize + dataReserve, &d)) return *damaged = true, true;
    uint16_t blockBytes = U16(d, 4);
    size_t wanted = std::min<size_t>(setup.size, std::strlen(SetupFileSignature));
    if (static_cast<uint64_t>(setup.offset) + wanted > blockBytes) return true;
    std::vector<uint8_t> first;
    if (!cab->Read(folderStart + DataHeaderSize + dataReserve + setup.offset, wanted, &first)) {
        return *damaged = true, true;
    }
    return StartsWith(first, SetupFileSignature);
}

void CheckSetupFile(Cabinet* cab, const DeviceSetupFile& setup, const std::vector<uint8_t>& folders,
                    uint32_t folderCount, uint32_t folderReserve, uint32_t dataReserve) {
    if (setup.folder >= FolderContinued) return;  // begins in another cabinet of a set
    if (setup.folder >= folderCount) {
        cab->Broken(setup.name + " lies in folder " + std::to_string(setup.folder) + " of " +
                    std::to_string(folderCount));
        return;
    }
    size_t entry = setup.folder * (FolderSize + folderReserve);
    if ((U16(folders, entry + 6) & CompressionMask) != CompressionNone) return;
    bool damaged = false;
    bool right = SetupFileLooksRight(cab, setup, U32(folders, entry), dataReserve, &damaged);
    if (damaged) {
        cab->PastEnd("the data of " + setup.name);
    } else if (!right) {
        cab->Warning("its device setup file " + setup.name +
                     " does not start with \"MSCE\": the device will not install it; build the cabinet "
                     "again with the CE cabinet wizard");
    }
}

// Past the header: the setup file read whole, its sections and what they
// refer to, as the device will meet them.
void CheckSetupContents(Cabinet* cab) {
    DeviceCabinet device;
    std::vector<CabinetFinding> findings;
    bool read = ReadDeviceCabinet(cab->size_, cab->read_, &device, &findings);
    if (!read && device.undecodable) {
        cab->Warning("its setup file " + device.setupMember +
                     " is compressed with LZX or Quantum, which cepack cannot read: lint checked no further than "
                     "its file table");
        return;
    }
    for (CabinetFinding& f : findings) {
        if (f.error) f.message += "; build the cabinet again";
        cab->findings_.push_back(std::move(f));
    }
}

}  // namespace

std::vector<CabinetFinding> CheckCabinet(uint64_t size, const CabinetReader& read) {
    Cabinet cab(size, read);
    uint32_t folderCount = 0, folderReserve = 0, dataReserve = 0;
    uint64_t folderTable = 0;
    if (!ReadHeader(&cab, &folderCount, &folderReserve, &dataReserve, &folderTable)) return cab.findings_;
    std::vector<uint8_t> h, folders, files;
    cab.Read(0, HeaderSize, &h);
    if (!cab.Read(folderTable, folderCount * (FolderSize + folderReserve), &folders)) {
        cab.PastEnd("its folder table");
        return cab.findings_;
    }
    uint32_t fileTable = U32(h, HeaderCoffFiles);
    uint32_t fileCount = U16(h, HeaderCFiles);
    if (fileTable < folderTable + folders.size()) {
        cab.Broken("its file table starts inside its header");
        return cab.findings_;
    }
    cab.ReadUpTo(fileTable, fileCount * (FileFixedSize + NameMax), &files);
    DeviceSetupFile setup;
    bool found = false;
    size_t at = 0;
    for (uint32_t i = 0; i < fileCount; ++i) {
        size_t length = files.size() >= at + FileFixedSize ? NameLength(files, at + FileFixedSize) : std::string::npos;
        if (length == std::string::npos) {
            cab.PastEnd("its file table");
            return cab.findings_;
        }
        if (length == NameMax) {
            cab.Broken("a member's name in its file table has no end");
            return cab.findings_;
        }
        std::string name(reinterpret_cast<const char*>(&files[at + FileFixedSize]), length);
        if (!found && IsSetupFileName(name)) {
            found = true;
            setup = {name, U32(files, at), U32(files, at + 4), U16(files, at + 8)};
        }
        at += FileFixedSize + length + 1;
    }
    if (!found) {
        cab.Error("holds no device setup file (no member named NAME.000): it is a desktop or plain cabinet; name "
                  "the cabinet the CE cabinet wizard made for the device");
        return cab.findings_;
    }
    CheckSetupFile(&cab, setup, folders, folderCount, folderReserve, dataReserve);
    if (cab.findings_.empty()) CheckSetupContents(&cab);
    return cab.findings_;
}

}  // namespace cepack
