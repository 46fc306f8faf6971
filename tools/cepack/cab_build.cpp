// cepack cab: the author's information file into a device cabinet. The .inf
// is read and checked whole first; only a clean one gives a cabinet, written
// as build writes its package (a temporary file renamed into place).

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/cepack/cab_build.h"

#include <string>
#include "tools/cepack/cab_inf.h"
#include "tools/cepack/cab_setup_file.h"
#include "tools/cepack/cabinet_writer.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"
#include "tools/cepack/package_output.h"

namespace cepack {

namespace {

constexpr unsigned SetupFileNumber = 0;
constexpr unsigned SetupDllNumber = 999;

// The stem of a member's name: the file's own name where it is a plain 8.3
// one ("Blkjack.exe" gives "0Blkjack"), else its first six usable letters
// in capitals and "~1" ("Win Game.wav" gives "WINGAM~1"), padded on the left
// with "0" to eight, as the device cabinets the description shows. Only the
// number identifies a member, so two alike are harmless.
std::string MemberStem(const std::string& ownName) {
    std::string name = ownName.substr(ownName.find_last_of("/\\") + 1);
    std::string stem = name.substr(0, name.rfind('.'));
    auto usable = [](unsigned char c) { return c < 0x80 && (std::isalnum(c) || std::strchr("_-~!#$&'()@^`{}", c)); };
    bool plain = !stem.empty() && stem.size() <= 8;
    for (unsigned char c : stem) plain = plain && usable(c);
    if (!plain) {
        std::string shortened;
        for (unsigned char c : stem) {
            if (usable(c) && c != '~' && shortened.size() < 6) shortened += static_cast<char>(std::toupper(c));
        }
        stem = shortened + "~1";
    }
    return std::string(8 - stem.size(), '0') + stem;
}

std::string MemberName(const std::string& ownName, unsigned number) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03u", number % 1000);
    return MemberStem(ownName) + "." + digits;
}

// A host file's bytes in pieces, open only while it is being read.
CabinetSource FileSource(const std::string& path) {
    std::shared_ptr<FILE> file;
    return [path, file](uint8_t* out, size_t capacity, size_t* got, std::string* error) mutable {
        if (!file) {
            FILE* opened = OpenHostFile(HostPath(path), "rb");
            if (!opened) {
                *error = path + ": can't be opened";
                return false;
            }
            file.reset(opened, std::fclose);
        }
        *got = std::fread(out, 1, capacity, file.get());
        if (*got == 0 && std::ferror(file.get())) {
            *error = path + ": can't be read";
            return false;
        }
        if (*got == 0) file.reset();
        return true;
    };
}

CabinetSource MemorySource(const std::string& bytes) {
    auto at = std::make_shared<size_t>(0);
    return [bytes, at](uint8_t* out, size_t capacity, size_t* got, std::string*) {
        *got = std::min(capacity, bytes.size() - *at);
        std::memcpy(out, bytes.data() + *at, *got);
        *at += *got;
        return true;
    };
}

bool AddFileMember(const std::string& path, const std::string& ownName, unsigned number,
                   const std::optional<time_t>& epoch, std::vector<CabinetMember>* members, const Streams& streams) {
    HostFileInfo info;
    if (!ReadHostFileInfo(HostPath(path), &info)) {
        streams.err << "cepack: " << path << ": can't be read\n";
        return false;
    }
    uint32_t stamp = DosDateTimeOf(ClampTime(info.modified, epoch));
    members->push_back({MemberName(ownName, number), info.size, static_cast<uint16_t>(stamp >> 16),
                        static_cast<uint16_t>(stamp & 0xFFFF), FileSource(path)});
    return true;
}

void ReportFindings(const std::string& inf, const std::vector<InfFinding>& findings, const Streams& streams) {
    for (const InfFinding& f : findings) {
        streams.err << inf;
        if (f.line != 0) streams.err << ":" << f.line;
        streams.err << (f.error ? ": error: " : ": warning: ");
        if (!f.section.empty()) {
            streams.err << "[" << f.section << "]";
            if (!f.key.empty()) streams.err << " " << f.key;
            streams.err << ": ";
        }
        streams.err << f.message << "\n";
    }
}

}  // namespace

int PrepareCab(const std::string& inf, const std::string& cpu, PreparedCab* prepared, const Streams& streams) {
    HostFileInfo infInfo;
    if (!ReadHostFileInfo(HostPath(inf), &infInfo)) {
        streams.err << "cepack: " << inf << ": no such file\n";
        return ExitNoInput;
    }
    prepared->inf = inf;
    prepared->infModified = infInfo.modified;
    std::vector<InfFinding> findings;
    bool clean = ReadCabInf(inf, cpu, &prepared->app, &findings);
    ReportFindings(inf, findings, streams);
    if (!clean) {
        streams.err << "cepack: nothing written: the information file has errors\n";
        return ExitRefused;
    }
    std::string error;
    if (!BuildSetupFile(prepared->app, &prepared->setupFile, &error)) {
        streams.err << "cepack: " << inf << ": " << error << "\n" << "cepack: nothing written\n";
        return ExitRefused;
    }
    return ExitOk;
}

int WritePreparedCab(const PreparedCab& prepared, const std::string& output, bool compress, const Streams& streams) {
    const CabApplication& app = prepared.app;
    // The setup file first, then the others from the highest number down.
    std::optional<time_t> epoch = SourceDateEpoch(streams.err);
    std::vector<CabinetMember> members;
    uint32_t stamp = DosDateTimeOf(ClampTime(prepared.infModified, epoch));
    members.push_back({MemberName(Utf8Of(HostPath(prepared.inf).filename()), SetupFileNumber),
                       prepared.setupFile.size(), static_cast<uint16_t>(stamp >> 16),
                       static_cast<uint16_t>(stamp & 0xFFFF), MemorySource(prepared.setupFile)});
    if (!app.setupDll.empty() && !AddFileMember(app.setupDll, app.setupDllOwnName, SetupDllNumber, epoch, &members, streams)) {
        return ExitNoInput;
    }
    for (size_t i = app.files.size(); i-- > 0;) {
        const CabFile& f = app.files[i];
        if (!AddFileMember(f.source, f.ownName, static_cast<unsigned>(i + 1), epoch, &members, streams)) return ExitNoInput;
    }

    PackageOutput out(HostPath(output));
    if (!out.File()) {
        streams.err << "cepack: " << output << ": can't create the output file\n";
        return ExitWriteError;
    }
    CabinetCompression compression = compress ? CabinetCompression::Mszip : CabinetCompression::None;
    std::string error;
    if (!WriteCabinet(out.File(), members, compression, &error)) {
        streams.err << "cepack: " << output << ": " << error << "\n";
        return ExitWriteError;
    }
    std::string reason;
    if (!out.Commit(false, &reason)) {
        streams.err << "cepack: " << output << ": can't be written: " << reason << "\n";
        return ExitWriteError;
    }
    auto count = [](size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    streams.out << "cepack: wrote " << output << ": " << count(app.files.size(), "file", "files") << ", "
                << count(app.registry.size(), "registry value", "registry values") << ", "
                << count(app.shortcuts.size(), "shortcut", "shortcuts") << "\n";
    return ExitOk;
}

int RunCab(const CabOptions& options, const Streams& streams) {
    PreparedCab prepared;
    int status = PrepareCab(options.input, options.cpu, &prepared, streams);
    return status == ExitOk ? WritePreparedCab(prepared, options.output, options.compress, streams) : status;
}

}  // namespace cepack
