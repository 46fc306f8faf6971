// cepack lint: the setup information file of a package folder and the
// application manager's .ini files it lists, read with the installer's own
// rules, checked before the package ships.
#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "installer/setup_lint.h"
#include "tools/cepack/cabinet_check.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"
#include "tools/cepack/package_files.h"
#include "tools/cepack/pe_resources.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

// The programs the launcher starts, in its order; each reads the setup file
// of its own name. install.bat comes last and reads none.
const char* const InstallerNames[] = {"setup.exe", "install.exe", "insstart.exe"};
const char* const LastInstallerName = "install.bat";
const char* const SharedSetupFileName = "install.inf";

// A UTF-8 host name as the installer sees it after unpacking: Latin-1
// characters as ANSI bytes, "\" between directories, A to Z folded (Windows
// finds files without regard to case).
std::string InstallerView(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else if (c == '/') {
            out += '\\';
        } else {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
    }
    return out;
}

std::string Folded(const char* name) {
    std::string out;
    for (const char* p = name; *p; ++p) {
        char c = *p == '/' ? '\\' : *p;
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    return out;
}

struct LeftOut {
    fs::path path;
    std::string why;
};

struct Folder {
    fs::path dir;
    const LintOptions* options = nullptr;
    std::map<std::string, fs::path> files;  // InstallerView of every file below the folder: its path
    std::map<std::string, std::string> relativeOf;  // InstallerView: the name as build gives it
    std::map<std::string, LeftOut> leftOut;  // files build leaves out whatever is listed, by InstallerView
    std::set<std::string> listedLeftOut;  // of those, the ones the lists name
    std::set<std::string> earlier;  // earlier packages at the top, by InstallerView
    std::map<std::string, bool> secret;  // whether a file goes only where listed (a secret, the icon), as far as looked at
    std::map<std::string, std::string> texts;  // the files read so far, by InstallerView
    std::string infName;
    std::set<std::string> reported;  // the same finding reached by several languages is shown once
    std::set<std::string> cabinets;  // checked already
    std::ostream* out = nullptr;
    LintResult* result = nullptr;
    std::set<std::string> referenced;  // what the setup file and the .ini files name, by InstallerView
    std::vector<std::string> relatives;  // every file as build names it
    bool unreadable = false;  // a file lint could not read, so "never installed" would be guesses
};

// The file as the author finds it: the folder joined with its name on disk,
// or with the name as a list gives it (ANSI).
std::string ShownName(const Folder& folder, const char* name) {
    auto it = folder.files.find(Folded(name));
    return it != folder.files.end() ? Utf8Of(it->second) : Utf8Of(folder.dir / HostPath(Utf8FromAnsi(name)));
}

// FILE:LINE: error: [SECTION] KEY: message, the form editors jump from. All
// but the folder's own names come from the author's ANSI files.
void Report(void* context, const LintFinding* finding) {
    Folder* folder = static_cast<Folder*>(context);
    if (!folder->options->setupFindings) return;
    std::ostringstream line;
    line << ShownName(*folder, finding->File);
    if (finding->Line != 0) line << ":" << finding->Line;
    line << (finding->Severity == LintError ? ": error: " : ": warning: ");
    if (*finding->Section) {
        line << "[" << Utf8FromAnsi(finding->Section) << "]";
        if (*finding->Key) line << " " << Utf8FromAnsi(finding->Key);
        line << ": ";
    }
    line << Utf8FromAnsi(finding->Message) << "\n";
    if (!folder->reported.insert(line.str()).second) return;
    *folder->out << line.str();
    ++(finding->Severity == LintError ? folder->result->errors : folder->result->warnings);
}

// A file build leaves out is there all the same: named once, by
// ReportListedLeftOut, rather than as missing for every language.
bool Exists(void* context, const char* name) {
    Folder* folder = static_cast<Folder*>(context);
    std::string key = Folded(name);
    folder->referenced.insert(key);
    if (folder->leftOut.count(key)) {
        folder->listedLeftOut.insert(key);
        return true;
    }
    return folder->files.count(key) != 0;
}

bool ReadFile(void* context, const char* name, IniText* text) {
    Folder* folder = static_cast<Folder*>(context);
    std::string key = Folded(name);
    folder->referenced.insert(key);
    auto file = folder->files.find(key);
    if (file == folder->files.end()) return false;
    auto cached = folder->texts.find(key);
    if (cached == folder->texts.end()) {
        std::string bytes;
        if (!ReadHostFile(file->second, &bytes)) return false;
        cached = folder->texts.emplace(key, std::move(bytes)).first;
    }
    *text = IniText{cached->second.data(), cached->second.size()};
    return true;
}

// One error when the file cannot be read.
std::vector<CabinetFinding> CheckCabinetFile(const std::filesystem::path& path) {
    HostFileInfo info;
    FILE* in = ReadHostFileInfo(path, &info) ? OpenHostFile(path, "rb") : nullptr;
    if (!in) return {{true, "cannot be read"}};
    CabinetReader reader = [in](uint64_t offset, uint8_t* out, size_t count) -> size_t {
        if (fseeko(in, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
        return std::fread(out, 1, count, in);
    };
    std::vector<CabinetFinding> findings = CheckCabinet(info.size, reader);
    std::fclose(in);
    return findings;
}

// A cabinet as the application manager meets it, once however many .ini
// files name it.
int CheckCabinet(void* context, const char* name) {
    Folder* folder = static_cast<Folder*>(context);
    folder->referenced.insert(Folded(name));
    auto file = folder->files.find(Folded(name));
    if (file == folder->files.end() || !folder->cabinets.insert(file->first).second) return 0;
    std::vector<CabinetFinding> findings = CheckCabinetFile(file->second);
    for (const CabinetFinding& f : findings) {
        LintFinding finding{f.error ? LintError : LintWarning, name, 0, "", "", f.message.c_str()};
        Report(folder, &finding);
    }
    return static_cast<int>(findings.size());
}

bool EndsWithExe(const std::string& name) {
    return name.size() > 4 && Folded(name.substr(name.size() - 4).c_str()) == ".exe";
}


int64_t FileSize(void* context, const char* name) {
    Folder* folder = static_cast<Folder*>(context);
    auto file = folder->files.find(Folded(name));
    std::error_code error;
    uintmax_t size = file != folder->files.end() ? fs::file_size(file->second, error) : 0;
    return file == folder->files.end() || error ? -1 : static_cast<int64_t>(size);
}

// A setup file or .ini lint could not read: which files it names is unknown.
void Unreadable(void* context, const char*) { static_cast<Folder*>(context)->unreadable = true; }

bool CollectFolder(Folder* folder) {
    std::string listError;
    fs::path output = HostPath(folder->options->output);
    bool hasOutput = !folder->options->output.empty() && HostKindOf(output) == HostKind::File;
    bool listed = WalkTree(
        folder->dir,
        [folder, &output, hasOutput](const TreeEntry& entry) {
            // Only what build packs is in the package the installer reads.
            std::string view = InstallerView(entry.relative);
            if (std::string why = LeftOutReason(entry); !why.empty()) {
                if (entry.kind == TreeEntryKind::File) folder->leftOut.emplace(view, LeftOut{entry.path, why});
                return false;
            }
            if (entry.kind != TreeEntryKind::File || (hasOutput && SameHostFile(entry.path, output))) return true;
            folder->files.emplace(view, entry.path);
            folder->relativeOf.emplace(view, entry.relative);
            folder->relatives.push_back(entry.relative);
            if (entry.relative.find('/') == std::string::npos && EndsWithExe(entry.relative) &&
                IsEarlierPackage(entry.path)) {
                folder->earlier.insert(view);
            }
            return true;
        },
        &listError);
    if (!listed) *folder->out << listError << "\n";
    return listed;
}

// An earlier package at the top is no installer: it is reported, and the
// setup file is the one the installer would read once it is gone.
bool AtTop(const Folder& folder, const std::string& name) {
    return folder.files.count(name) != 0 && folder.earlier.count(name) == 0;
}

// The setup file that the installer of this folder reads.
std::string SetupFileName(const Folder& folder) {
    for (const char* program : InstallerNames) {
        if (AtTop(folder, program)) {
            std::string name = program;
            return name.substr(0, name.rfind('.')) + ".inf";
        }
    }
    return SharedSetupFileName;
}

bool HasInstallerProgram(const Folder& folder) {
    for (const char* program : InstallerNames) {
        if (AtTop(folder, program)) return true;
    }
    return AtTop(folder, LastInstallerName);
}

// A line of the folder's own findings: FILE: error|warning: message. A
// refusal is about what goes into the package, which build refuses even
// with --no-lint.
void ReportFile(Folder* folder, bool error, const fs::path& file, const std::string& message,
                bool refusal = false) {
    if (!refusal && !folder->options->setupFindings) return;
    *folder->out << Utf8Of(file) << (error ? ": error: " : ": warning: ") << message << "\n";
    ++(error ? folder->result->errors : folder->result->warnings);
    if (refusal) ++folder->result->refusals;
}

void ReportMissingSetupFile(Folder* folder) {
    std::string message = "not found";
    if (HasInstallerProgram(*folder)) {
        message += ": the installer beside it reads it";
    } else {
        message += ", and no setup.exe, install.exe, insstart.exe or install.bat at the top: the launcher would "
                   "find nothing to start";
    }
    ReportFile(folder, true, folder->dir / HostPath(folder->infName), message);
}

// The launcher unpacks a name beyond ASCII only where the system's ANSI code
// page holds it; anywhere else it refuses the whole package.
void CheckFileNames(Folder* folder) {
    std::map<std::string, std::string> byView;
    for (const std::string& relative : folder->relatives) byView.emplace(InstallerView(relative), relative);
    for (const auto& [key, relative] : byView) {
        bool ascii = true;
        for (char c : relative) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) continue;
        LintFinding finding{LintWarning, key.c_str(), 0, "", "",
                            "the name is not plain ASCII: the package installs only where the system's ANSI code "
                            "page holds it"};
        Report(folder, &finding);
    }
}

// The line of the setup file that lists a name first, as the author wrote
// section and key; 0 when no line does.
struct ListingLine {
    std::string name;  // Folded
    uint32_t number = 0;
    std::string section, key;
};

void FindListing(void* context, const IniLine* line) {
    ListingLine* listing = static_cast<ListingLine*>(context);
    if (listing->number != 0 || line->Header || !line->FirstOfName) return;
    std::string value(line->Value, line->ValueLength);
    value = value.substr(0, value.find(','));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (Folded(value.c_str()) != listing->name) return;
    listing->number = line->Number;
    listing->section.assign(line->Section, line->SectionLength);
    listing->key.assign(line->Key, line->KeyLength);
}

// A listed file that build leaves out would be missing on every customer's
// machine, though the author sees it in the folder.
void ReportListedLeftOut(Folder* folder, const IniText* setup) {
    for (const std::string& key : folder->listedLeftOut) {
        const LeftOut& left = folder->leftOut.at(key);
        ListingLine listing;
        listing.name = key;
        IniWalk(setup, FindListing, &listing);
        std::string why = "is in the folder, but build leaves it out (" + left.why +
                          "): the customer would not get it; rename it";
        if (listing.number == 0) {
            ReportFile(folder, true, left.path, why);
            continue;
        }
        std::string message = "\"" + key + "\" " + why;
        LintFinding finding{LintError, folder->infName.c_str(), listing.number, listing.section.c_str(),
                            listing.key.c_str(), message.c_str()};
        Report(folder, &finding);
    }
}

// Whether build packs the file: a secret goes only where a list names it.
bool Packed(Folder* folder, const std::string& key) {
    if (folder->earlier.count(key)) return false;
    if (folder->referenced.count(key)) return true;
    auto known = folder->secret.find(key);
    if (known != folder->secret.end()) return !known->second;
    TreeEntry entry;
    entry.relative = folder->relativeOf.at(key);
    entry.path = folder->files.at(key);
    entry.kind = TreeEntryKind::File;
    ReadHostFileInfo(entry.path, &entry.info);
    std::string why = SecretReason(entry);
    if (!why.empty()) folder->result->unlisted.emplace(entry.relative, why);
    folder->secret.emplace(key, !why.empty());
    return why.empty();
}

void CheckEarlierPackages(Folder* folder) {
    for (const std::string& key : folder->earlier) {
        ReportFile(folder, true, folder->files.at(key), EarlierPackageText, true);
    }
}

// The name rules build enforces, named here already: what Windows or the
// launcher could not take, and names Windows would take for one.
void CheckPackedNames(Folder* folder) {
    std::vector<std::string> named;
    // Every name: two that fold alike are one key of the maps.
    for (const std::string& relative : folder->relatives) {
        if (!Packed(folder, InstallerView(relative))) continue;
        std::string why = PackedNameProblem(relative, folder->options->destinationLength);
        if (why.empty()) named.push_back(relative);
        else ReportFile(folder, true, folder->dir / HostPath(relative), why, true);
    }
    std::sort(named.begin(), named.end());
    for (const NameClash& clash : CaseClashes(named)) {
        ReportFile(folder, true, folder->dir / HostPath(clash.name), CaseClashText(clash), true);
    }
}

// The program the launcher starts must run on 32-bit Windows: a PE image for
// the i386 with a 32-bit optional header. Empty when it does.
std::string ProgramProblem(const fs::path& path) {
    FILE* in = OpenHostFile(path, "rb");
    if (!in) return "is no Windows program";
    unsigned char dos[64] = {}, pe[26] = {};
    bool read = std::fread(dos, 1, sizeof dos, in) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z';
    uint32_t peOffset = dos[60] | dos[61] << 8 | dos[62] << 16 | static_cast<uint32_t>(dos[63]) << 24;
    read = read && fseeko(in, peOffset, SEEK_SET) == 0 && std::fread(pe, 1, sizeof pe, in) == sizeof pe;
    std::fclose(in);
    if (!read || pe[0] != 'P' || pe[1] != 'E' || pe[2] || pe[3]) return "is no Windows program";
    uint16_t machine = static_cast<uint16_t>(pe[4] | pe[5] << 8);
    uint16_t magic = static_cast<uint16_t>(pe[24] | pe[25] << 8);
    constexpr uint16_t MachineI386 = 0x14C;
    constexpr uint16_t Pe32Magic = 0x10B;
    if (machine != MachineI386 || magic != Pe32Magic) return "is no 32-bit Windows program";
    return {};
}

bool SameBytes(const fs::path& a, const fs::path& b) {
    std::string x, y;
    return ReadHostFile(a, &x) && ReadHostFile(b, &y) && x == y;
}

void CheckInstallerPrograms(Folder* folder) {
    for (const char* program : InstallerNames) {
        auto it = folder->files.find(program);
        if (it == folder->files.end() || folder->earlier.count(program)) continue;
        std::string why = ProgramProblem(it->second);
        if (!why.empty()) {
            ReportFile(folder, true, it->second, why + ": the launcher could not start it; put the real program there");
            continue;
        }
        std::string lookedAt;
        std::string shared = std::string(program) == "install.exe" ? SharedProgram(program, &lookedAt) : "";
        if (!shared.empty() && !SameBytes(it->second, HostPath(shared))) {
            ReportFile(folder, false, it->second,
                       "differs from the install.exe installed beside cepack (" + shared +
                           "): a copy kept from an earlier version? Delete it and build adds the current one");
        }
    }
}

// What no list and no .ini names goes to every customer and stays in TEMP.
void CheckNeverInstalled(Folder* folder) {
    for (const auto& [key, path] : folder->files) {
        bool program = key == LastInstallerName;
        for (const char* name : InstallerNames) program = program || key == name;
        if (program || folder->referenced.count(key) || key == folder->infName || !Packed(folder, key)) continue;
        ReportFile(folder, false, path,
                   "is packed but never installed: no language's file list names it, nor any listed .ini; list it "
                   "in the setup file or delete it");
    }
}

// ---- What the package says of itself ----

// An .ico larger than this is no icon an author means.
constexpr uint64_t MaxIconBytes = 16u << 20;

std::string InstallationValue(const IniText* ini, const char* key) {
    if (!ini) return {};
    char value[1024];
    IniReadString(ini, "Installation", key, "", value, sizeof value);
    return value;
}

// A finding about a value, at its line in the setup file or named by its flag.
// Build cannot brand a package with a wrong one: errors are refusals.
void ReportIdentity(Folder* folder, const IniText* ini, const char* key, bool fromFlag, bool error,
                    const std::string& message) {
    if (!error && !folder->options->setupFindings) return;
    std::string flag = key;
    for (char& c : flag) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    uint32_t line = ini && !fromFlag ? IniLineOf(ini, "Installation", key) : 0;
    if (fromFlag) {
        *folder->out << "--" << flag;
    } else {
        *folder->out << ShownName(*folder, folder->infName.c_str()) << (line ? ":" + std::to_string(line) : "");
    }
    *folder->out << (error ? ": error: " : ": warning: ");
    if (!fromFlag) *folder->out << "[Installation] " << key << ": ";
    *folder->out << message << "\n";
    ++(error ? folder->result->errors : folder->result->warnings);
    if (error) ++folder->result->refusals;
}

void CheckIdentityTexts(Folder* folder, const IniText* ini) {
    const Overrides& given = folder->options->overrides;
    const Identity& id = folder->result->identity;
    struct Text {
        const char* key;
        const std::string& value;
        bool fromFlag;
    } texts[] = {{"Program", id.program, false}, {"Company", id.company, given.company.has_value()},
                 {"Copyright", id.copyright, false}};
    for (const Text& t : texts) {
        size_t length = Utf16Length(t.value);
        if (length <= MaxVersionTextChars) continue;
        ReportIdentity(folder, ini, t.key, t.fromFlag, true,
                       "is " + std::to_string(length) + " characters; the package's version information holds " +
                           std::to_string(MaxVersionTextChars) + ": shorten it");
    }
    uint16_t numbers[4];
    if (id.version.empty()) {
        // A setup file read as nothing (UTF-16) has its own finding.
        if (ini && !folder->unreadable) {
            ReportIdentity(folder, ini, "Version", false, false,
                           "is not set: the package shows no version (0.0.0.0) in its properties");
        }
    } else if (!ParseVersionNumbers(id.version, numbers)) {
        ReportIdentity(folder, ini, "Version", given.version.has_value(), true,
                       "is not one to four numbers up to 65535, such as 2.1 or 2.1.0.37");
    }
}

// The icon from --icon, or the .ico in the folder that Icon= names, which
// goes into the payload only where a list names it.
void CheckIcon(Folder* folder, const IniText* ini) {
    const Overrides& given = folder->options->overrides;
    bool fromFlag = given.icon.has_value();
    std::string name = fromFlag ? *given.icon : InstallationValue(ini, "Icon");
    if (name.empty()) return;
    fs::path path = HostPath(name);
    std::string key = Folded(name.c_str());
    if (!fromFlag) {
        auto file = folder->files.find(key);
        if (file == folder->files.end()) {
            ReportIdentity(folder, ini, "Icon", false, true, "names no file in the package folder");
            return;
        }
        path = file->second;
    }
    HostFileInfo info;
    std::string bytes, reason;
    std::vector<IconImage> images;
    if (!ReadHostFileInfo(path, &info) || info.size > MaxIconBytes || !ReadHostFile(path, &bytes)) {
        ReportIdentity(folder, ini, "Icon", fromFlag, true, "cannot be read, or is too large for an icon");
        return;
    }
    if (!ReadIconFile(bytes, &images, &reason)) {
        ReportIdentity(folder, ini, "Icon", fromFlag, true, reason);
        return;
    }
    if (!HasClassicSmallImage(images)) {
        ReportIdentity(folder, ini, "Icon", fromFlag, false,
                       "has no image of 32x32 or smaller in bitmap (not PNG) form: Windows XP shows no icon for "
                       "the package");
    }
    folder->result->identity.icon = std::move(bytes);
}

// The icon Icon= names (--icon or not) is the package's, not the customer's.
void LeaveOutIcon(Folder* folder, const IniText* ini) {
    std::string key = Folded(InstallationValue(ini, "Icon").c_str());
    if (key.empty() || !folder->files.count(key) || folder->referenced.count(key)) return;
    folder->result->unlisted.emplace(folder->relativeOf.at(key), "the package's icon");
    folder->secret[key] = true;
}

void CheckIdentity(Folder* folder, const IniText* ini) {
    const Overrides& given = folder->options->overrides;
    Identity& id = folder->result->identity;
    id.program = Utf8FromAnsi(InstallationValue(ini, "Program"));
    id.copyright = Utf8FromAnsi(InstallationValue(ini, "Copyright"));
    id.company = given.company ? *given.company : Utf8FromAnsi(InstallationValue(ini, "Company"));
    id.version = given.version ? *given.version : InstallationValue(ini, "Version");
    CheckIdentityTexts(folder, ini);
    CheckIcon(folder, ini);
    LeaveOutIcon(folder, ini);
}

}  // namespace

int LintFolder(const std::string& dir, std::ostream& out, const LintOptions& options, LintResult* result) {
    *result = LintResult{};
    Folder folder;
    folder.dir = HostPath(dir);
    folder.options = &options;
    folder.out = &out;
    folder.result = result;
    if (HostKindOf(folder.dir) != HostKind::Directory || !CollectFolder(&folder)) return ExitNoInput;
    folder.infName = SetupFileName(folder);
    bool present = folder.files.count(folder.infName) != 0;
    // install.bat alone reads no setup file; for build, a folder without
    // install.inf is no package for our installer.
    bool unread = (folder.infName == SharedSetupFileName && AtTop(folder, LastInstallerName)) ||
                  (options.forBuild && !AtTop(folder, SharedSetupFileName));
    IniText ini{nullptr, 0};
    if (present) {
        LintSink sink{Report, Exists, ReadFile, &folder, CheckCabinet, FileSize, Unreadable};
        if (!ReadFile(&folder, folder.infName.c_str(), &ini)) return ExitNoInput;
        result->checked = true;
        LintSetupFile(&ini, folder.infName.c_str(), &sink);
        ReportListedLeftOut(&folder, &ini);
    } else if (!unread) {
        result->checked = true;
        ReportMissingSetupFile(&folder);
    }
    const Overrides& given = options.overrides;
    if (present || given.version || given.company || given.icon) CheckIdentity(&folder, present ? &ini : nullptr);
    CheckEarlierPackages(&folder);
    CheckPackedNames(&folder);
    if (present) {
        CheckFileNames(&folder);
        CheckInstallerPrograms(&folder);
        if (!folder.unreadable) CheckNeverInstalled(&folder);
    }
    return result->errors == 0 ? ExitOk : ExitRefused;
}

std::string LintSummary(const LintResult& result) {
    auto counted = [](int n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); };
    return counted(result.errors, "error") + ", " + counted(result.warnings, "warning");
}

int RunLint(const std::string& dir, const Streams& streams) {
    LintResult result;
    int status = LintFolder(dir, streams.out, LintOptions{}, &result);
    if (status == ExitNoInput) {
        streams.err << "cepack: " << dir << ": cannot read the folder\n";
        return status;
    }
    streams.out << "cepack: " << dir << ": " << LintSummary(result) << "\n";
    return status;
}

}  // namespace cepack
