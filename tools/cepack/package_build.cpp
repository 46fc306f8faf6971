// cepack build: the files of a directory into a ZIP behind the launcher stub,
// refusing up front whatever the launcher could not extract.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "support/text.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"
#include "tools/cepack/package_files.h"
#include "tools/cepack/package_output.h"
#include "tools/cepack/pe_resources.h"
#include "tools/cepack/zip_writer.h"

namespace fs = std::filesystem;

namespace cepack {

uint32_t DosDateTimeOf(time_t when) {
    std::tm local{};
    if (!LocalTimeOf(when, &local)) return (1u << 5 | 1u) << 16;
    int year = local.tm_year + 1900;
    // DOS stamps hold 1980 to 2107.
    if (year < 1980) return (1u << 5 | 1u) << 16;
    if (year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time = static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: no entry is dated
// later, so a package rebuilt from a fresh checkout is the same file.
std::optional<time_t> SourceDateEpoch(std::ostream& err) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (*end != 0 || errno != 0 || value < 0) {
        err << "cepack: note: SOURCE_DATE_EPOCH=" << text << " is not a count of seconds; ignored\n";
        return std::nullopt;
    }
    return static_cast<time_t>(value);
}

time_t ClampTime(time_t when, const std::optional<time_t>& epoch) { return epoch && when > *epoch ? *epoch : when; }

namespace {

// The launcher's sizes and positions are signed 32-bit numbers, and a ZIP
// without ZIP64 counts entries in 16 bits.
constexpr uint64_t MaxPackageSize = 0x7FFFFFFF;
constexpr uint64_t MaxTotalSize = 0x7FFFFFFF;
constexpr uint64_t MaxFileSize = 0xFFFFFFFF;
constexpr size_t MaxEntries = 0xFFFF;
constexpr size_t MaxProblemsShown = 20;

struct SourceFile {
    std::string relative;  // UTF-8, "/"-separated, as the user knows it, and the entry's name
    fs::path path;
    uint64_t size = 0;
    uint32_t dosDateTime = 0;
    uint8_t attributes = 0;
};

struct Problems {
    std::vector<std::string> list;
    void Add(const std::string& text) { list.push_back(text); }
};

void CheckSizes(const std::vector<SourceFile>& files, uint64_t stubSize, Problems* problems) {
    if (files.size() > MaxEntries) {
        problems->Add(std::to_string(files.size()) + " files: a package holds at most 65535");
    }
    uint64_t total = 0, package = stubSize + 22;
    for (const SourceFile& f : files) {
        if (f.size > MaxFileSize) problems->Add(f.relative + ": 4 GiB or larger; the ZIP format here can't hold it");
        total += f.size;
        package += 30 + 46 + 2 * f.relative.size();
    }
    if (total > MaxTotalSize) problems->Add("the files add up to 2 GiB or more; the launcher counts in 31 bits");
    if (total == 0) problems->Add("no data: the launcher takes a package whose files are all empty for a broken download");
    // Stored data is never larger than the file, so this bounds the result.
    if (package + total > MaxPackageSize && total <= MaxTotalSize) {
        problems->Add("the package could reach 2 GiB; the launcher can't seek that far");
    }
}

int RefuseProblems(const Problems& problems, std::ostream& err) {
    for (size_t i = 0; i < problems.list.size() && i < MaxProblemsShown; ++i) {
        err << "cepack: " << problems.list[i] << "\n";
    }
    if (problems.list.size() > MaxProblemsShown) {
        err << "cepack: ... and " << problems.list.size() - MaxProblemsShown << " more\n";
    }
    err << "cepack: nothing written: the launcher could not extract this package\n";
    return ExitRefused;
}

// A link to a file is packed as that file; one that leads out of the folder
// may bring in what the author never meant to ship.
void NoteLinkOutside(const fs::path& root, const TreeEntry& entry, std::ostream& err) {
    std::error_code ec;
    fs::path target = fs::canonical(entry.path, ec);
    fs::path base = ec ? fs::path() : fs::canonical(root, ec);
    if (ec) return;
    fs::path inside = target.lexically_relative(base);
    if (!inside.empty() && *inside.begin() != "..") return;
    err << "cepack: note: " << entry.relative << ": link to a file outside the folder (" << Utf8Of(target)
        << "), packed as that file\n";
}

std::vector<SourceFile> CollectFiles(const fs::path& root, const fs::path& output, const std::optional<time_t>& epoch,
                                     Problems* problems, std::ostream& err) {
    std::vector<SourceFile> files;
    // The package this build replaces, inside the tree: recognised by identity.
    bool hasPrevious = HostKindOf(output) == HostKind::File;
    std::string listError;
    bool listed = WalkTree(
        root,
        [&](const TreeEntry& entry) {
            bool directory = entry.kind == TreeEntryKind::Directory || entry.kind == TreeEntryKind::DirectoryLink;
            if (std::string why = LeftOutReason(entry); !why.empty()) {
                err << "cepack: note: " << entry.relative << ": " << why << ", left out\n";
                return false;
            }
            if (hasPrevious && !directory && SameHostFile(entry.path, output)) {
                err << "cepack: note: " << entry.relative << ": the package this build replaces, left out\n";
                return true;
            }
            if (entry.link && !directory) NoteLinkOutside(root, entry, err);
            if (entry.kind == TreeEntryKind::DirectoryLink) {
                err << "cepack: note: " << entry.relative << ": link to a directory, not followed\n";
            } else if (directory && EmptyHostDirectory(entry.path)) {
                err << "cepack: note: " << entry.relative << ": empty directory, not packed\n";
            } else if (entry.kind == TreeEntryKind::Other) {
                problems->Add(entry.relative + ": not a regular file");
            } else if (!directory) {
                SourceFile f;
                f.relative = entry.relative;
                f.path = entry.path;
                f.size = entry.info.size;
                f.dosDateTime = DosDateTimeOf(ClampTime(entry.info.modified, epoch));
                f.attributes = static_cast<uint8_t>(0x20 | (entry.info.writable ? 0 : 0x01));  // archive, read-only
                files.push_back(std::move(f));
            }
            return true;
        },
        &listError);
    if (!listed) problems->Add(listError);
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
    return files;
}

// Keys and credentials, and the package's icon, go only where the setup file lists them.
void LeaveOutUnlisted(const std::map<std::string, std::string>& unlisted, std::vector<SourceFile>* files,
                      std::ostream& err) {
    auto secret = [&](const SourceFile& f) {
        auto it = unlisted.find(f.relative);
        if (it == unlisted.end()) return false;
        err << "cepack: note: " << f.relative << ": " << it->second << ", left out (list it in the setup file to "
            << "ship it)\n";
        return true;
    };
    files->erase(std::remove_if(files->begin(), files->end(), secret), files->end());
}

bool HasTopLevel(const std::vector<SourceFile>& files, const char* name) {
    for (const SourceFile& f : files) {
        if (FoldedName(f.relative) == name) return true;
    }
    return false;
}

// A folder with install.inf but no installer program of its own gets the
// shared install.exe, so that an author keeps only their own files.
// Without one, a package behind the stub would do nothing: refused; a bare
// archive is only noted.
bool AddSharedInstaller(const std::optional<time_t>& epoch, bool bare, std::vector<SourceFile>* files,
                        const Streams& s) {
    if (!HasTopLevel(*files, "install.inf") || HasTopLevel(*files, "install.exe") || HasTopLevel(*files, "setup.exe")) {
        return true;
    }
    std::string lookedAt;
    std::string shared = SharedProgram("install.exe", &lookedAt);
    HostFileInfo info;
    if (shared.empty() || !ReadHostFileInfo(HostPath(shared), &info)) {
        s.err << "cepack: " << (bare ? "note" : "error") << ": install.inf but no install.exe, and no shared one "
              << "(looked at " << lookedAt << ")\n";
        return bare;
    }
    SourceFile f;
    f.relative = "install.exe";
    f.path = HostPath(shared);
    f.size = info.size;
    f.dosDateTime = DosDateTimeOf(ClampTime(info.modified, epoch));
    f.attributes = 0x20;
    files->insert(std::upper_bound(files->begin(), files->end(), f,
                                   [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; }),
                  f);
    s.out << "cepack: adding the shared installer " << shared << " as install.exe\n";
    return true;
}

// Whether the launcher finds something to start at the top: an installer
// program, or install.inf, beside which the shared installer is put.
bool HasSomethingToStart(const std::vector<SourceFile>& files) {
    for (const SourceFile& f : files) {
        std::string name = FoldedName(f.relative);
        if (name == "setup.exe" || name == "install.exe" || name == "insstart.exe" || name == "install.bat" ||
            name == "install.inf") {
            return true;
        }
    }
    return false;
}

// The stub with the package's identity in place of ours: its version
// information (never our name) and, with an icon, the author's.
bool BrandedStub(const std::string& stub, const std::string& output, const Identity& identity, std::string* image,
                 std::string* reason) {
    if (!ReadHostFile(HostPath(stub), image)) {
        *reason = "can't be read";
        return false;
    }
    Branding branding;
    branding.company = identity.company;
    branding.product = identity.program;
    branding.copyright = identity.copyright;
    branding.version = identity.version;
    branding.fileName = Utf8Of(HostPath(output).filename());
    if (!identity.icon.empty() && !ReadIconFile(identity.icon, &branding.icon, reason)) return false;
    return BrandStub(image, branding, reason);
}

// A stub that is no Windows program at all (a stand-in) has no resources to
// brand and no checksum: it is written as given, as before.
bool Brandable(const std::string& stub, const Streams& streams) {
    std::string head;
    FILE* in = OpenHostFile(HostPath(stub), "rb");
    if (!in) return true;
    head.resize(4096);
    head.resize(std::fread(head.data(), 1, head.size(), in));
    std::fclose(in);
    if (IsPeImage(head)) return true;
    streams.err << "cepack: note: " << stub << ": no Windows program; written as given, without the package's "
                << "version information and icon\n";
    return false;
}

// The stub as it goes into the package: branded, or a stand-in as given.
int StubImage(const BuildOptions& options, const Identity& identity, std::string* image, const Streams& streams) {
    std::string reason;
    if (!Brandable(options.stub, streams)) {
        if (ReadHostFile(HostPath(options.stub), image)) return ExitOk;
        reason = "stub not found or not readable";
    } else if (BrandedStub(options.stub, options.output, identity, image, &reason)) {
        return ExitOk;
    }
    streams.err << "cepack: " << options.stub << ": " << reason << "\n";
    return ExitNoInput;
}

// The header checksum covers the whole file, so it is written last, over
// stub and payload together (a signature, if one follows, replaces it).
bool WriteChecksum(const std::string& stub, FILE* out) {
    uint64_t at = 0, sum = 0;
    unsigned char field[4];
    if (!PeChecksumOffset(stub, &at) || std::fflush(out) != 0 || !PeChecksum(out, &sum)) return false;
    for (int i = 0; i < 4; ++i) field[i] = static_cast<unsigned char>(sum >> (8 * i));
    return fseeko(out, static_cast<off_t>(at), SEEK_SET) == 0 && std::fwrite(field, 1, 4, out) == 4 &&
           fseeko(out, 0, SEEK_END) == 0;
}

int WritePackage(const BuildOptions& options, const std::string& stub, const std::vector<SourceFile>& files,
                 const Streams& streams) {
    PackageOutput output(HostPath(options.output));
    if (!output.File()) {
        streams.err << "cepack: " << options.output << ": can't create the output file\n";
        return ExitWriteError;
    }
    if (std::fwrite(stub.data(), 1, stub.size(), output.File()) != stub.size()) {
        streams.err << "cepack: " << options.output << ": can't write the stub " << options.stub << "\n";
        return ExitWriteError;
    }
    ZipWriter writer(output.File());
    std::string error;
    for (const SourceFile& f : files) {
        if (!writer.AddFile(f.relative, Utf8Of(f.path), f.size, f.dosDateTime, f.attributes, &error)) {
            streams.err << "cepack: " << f.relative << ": " << error << "\n";
            return ExitWriteError;
        }
    }
    if (!writer.Finish(&error)) {
        streams.err << "cepack: " << options.output << ": " << error << "\n";
        return ExitWriteError;
    }
    if (IsPeImage(stub) && !WriteChecksum(stub, output.File())) {
        streams.err << "cepack: " << options.output << ": can't write the header checksum\n";
        return ExitWriteError;
    }
    off_t written = ftello(output.File());
    if (written >= 0) HoldBeforeRenameForTest();
    std::string reason = written < 0 ? std::strerror(errno) : "";
    if (written < 0 || !output.Commit(!options.stub.empty(), &reason)) {
        streams.err << "cepack: " << options.output << ": can't be written: " << reason << "\n";
        return ExitWriteError;
    }
    uint64_t total = 0;
    for (const SourceFile& f : files) total += f.size;
    streams.out << "cepack: wrote " << options.output << ": " << written << " bytes, " << files.size() << " files ("
                << total << " bytes unpacked)\n";
    return ExitOk;
}

}  // namespace

int RunBuild(const BuildOptions& options, const Streams& streams) {
    if (HostKindOf(HostPath(options.input)) != HostKind::Directory) {
        streams.err << "cepack: " << options.input << ": no such directory\n";
        return ExitNoInput;
    }
    BuildOptions resolved = options;
    if (resolved.stub.empty() && !resolved.bare) {
        std::string lookedAt;
        resolved.stub = SharedProgram("zipstub.exe", &lookedAt);
        if (resolved.stub.empty()) {
            streams.err << "cepack: no launcher stub found (looked at " << lookedAt << "); name one with --stub, "
                        << "or --bare for the archive alone\n";
            return ExitNoInput;
        }
    }
    HostFileInfo stub;
    if (!resolved.stub.empty() && (!IsReadableFile(HostPath(resolved.stub)) || !ReadHostFileInfo(HostPath(resolved.stub), &stub))) {
        streams.err << "cepack: " << resolved.stub << ": stub not found or not readable\n";
        return ExitNoInput;
    }
    Problems problems;
    std::optional<time_t> epoch = SourceDateEpoch(streams.err);
    std::vector<SourceFile> files = CollectFiles(HostPath(options.input), HostPath(options.output), epoch, &problems, streams.err);
    // Past the count nothing else can help; lint would read every file first.
    if (files.size() > MaxEntries) {
        CheckSizes(files, stub.size, &problems);
        return RefuseProblems(problems, streams.err);
    }
    // The same checks as cepack lint; --no-lint lets only the setup file's findings pass.
    LintOptions lintOptions;
    lintOptions.forBuild = true;
    lintOptions.setupFindings = options.lint;
    lintOptions.destinationLength = options.destinationLength;
    lintOptions.output = options.output;
    lintOptions.overrides = options.overrides;
    LintResult lint;
    if (LintFolder(options.input, streams.err, lintOptions, &lint) == ExitNoInput) {
        streams.err << "cepack: " << options.input << ": cannot read the folder\n";
        return ExitNoInput;
    }
    LeaveOutUnlisted(lint.unlisted, &files, streams.err);
    if (!AddSharedInstaller(epoch, resolved.stub.empty(), &files, streams)) return ExitRefused;
    // What lint calls an error in the identity cannot be branded.
    std::string image;
    if (!resolved.stub.empty() && lint.refusals == 0) {
        if (int status = StubImage(resolved, lint.identity, &image, streams); status != ExitOk) return status;
    }
    CheckSizes(files, image.empty() ? stub.size : image.size(), &problems);
    if (!problems.list.empty()) return RefuseProblems(problems, streams.err);
    if (lint.refusals > 0) {
        streams.err << "cepack: nothing written: the folder holds what no package may carry (see the errors above)\n";
        return ExitRefused;
    }
    // A bare archive has no launcher; behind the stub the package would do nothing.
    if (!HasSomethingToStart(files)) {
        const char* what = resolved.stub.empty() ? "cepack: note: " : "cepack: error: ";
        streams.err << what << "no setup.exe, install.exe, insstart.exe, install.bat or install.inf at the top: "
                    << "the launcher would find nothing to start\n";
        if (!resolved.stub.empty()) {
            streams.err << "cepack: nothing written: the package would do nothing for its user\n";
            return ExitRefused;
        }
    }
    if (lint.errors > 0) {
        streams.err << "cepack: nothing written: the setup information file has errors (--no-lint packs it "
                       "anyway)\n";
        return ExitRefused;
    }
    return WritePackage(resolved, image, files, streams);
}

}  // namespace cepack
