// cepack lint: the setup information file of a package folder and the
// application manager's .ini files it lists, read with the installer's own
// rules, checked before the package ships.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "installer/setup_lint.h"
#include "tools/cepack/cabinet_check.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/package_files.h"

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

struct Folder {
    fs::path dir;
    std::map<std::string, fs::path> files;  // InstallerView of every file below the folder: its path
    std::map<std::string, std::string> texts;  // the files read so far, by InstallerView
    std::string infName;
    std::set<std::string> reported;  // the same finding reached by several languages is shown once
    std::set<std::string> cabinets;  // checked already
    std::ostream* out;
    LintResult* result;
};

// The file as the author finds it: the folder joined with its name on disk.
std::string ShownName(const Folder& folder, const char* name) {
    auto it = folder.files.find(Folded(name));
    return it != folder.files.end() ? it->second.string() : (folder.dir / name).string();
}

// FILE:LINE: error: [SECTION] KEY: message, the form editors jump from.
void Report(void* context, const LintFinding* finding) {
    Folder* folder = static_cast<Folder*>(context);
    std::ostringstream line;
    line << ShownName(*folder, finding->File);
    if (finding->Line != 0) line << ":" << finding->Line;
    line << (finding->Severity == LintError ? ": error: " : ": warning: ");
    if (*finding->Section) {
        line << "[" << finding->Section << "]";
        if (*finding->Key) line << " " << finding->Key;
        line << ": ";
    }
    line << finding->Message << "\n";
    if (!folder->reported.insert(line.str()).second) return;
    *folder->out << line.str();
    ++(finding->Severity == LintError ? folder->result->errors : folder->result->warnings);
}

bool Exists(void* context, const char* name) { return static_cast<Folder*>(context)->files.count(Folded(name)) != 0; }

bool ReadText(const fs::path& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

bool ReadFile(void* context, const char* name, IniText* text) {
    Folder* folder = static_cast<Folder*>(context);
    std::string key = Folded(name);
    auto file = folder->files.find(key);
    if (file == folder->files.end()) return false;
    auto cached = folder->texts.find(key);
    if (cached == folder->texts.end()) {
        std::string bytes;
        if (!ReadText(file->second, &bytes)) return false;
        cached = folder->texts.emplace(key, std::move(bytes)).first;
    }
    *text = IniText{cached->second.data(), cached->second.size()};
    return true;
}

// A cabinet as the application manager meets it, once however many .ini
// files name it.
int CheckCabinet(void* context, const char* name) {
    Folder* folder = static_cast<Folder*>(context);
    auto file = folder->files.find(Folded(name));
    if (file == folder->files.end() || !folder->cabinets.insert(file->first).second) return 0;
    std::vector<CabinetFinding> findings = CheckCabinetFile(file->second.string());
    for (const CabinetFinding& f : findings) {
        LintFinding finding{f.error ? LintError : LintWarning, name, 0, "", "", f.message.c_str()};
        Report(folder, &finding);
    }
    return static_cast<int>(findings.size());
}

bool CollectFolder(Folder* folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder->dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        // Named as build names it: a link under its own name.
        std::string relative = it->path().lexically_relative(folder->dir).generic_string();
        bool directory = it->is_directory(ec);
        // Only what build packs is in the package the installer reads.
        if (!ec && !LeftOutReason(relative, it->path(), directory).empty()) {
            if (directory) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(ec)) continue;
        folder->files.emplace(InstallerView(relative), it->path());
    }
    return !ec;
}

bool AtTop(const Folder& folder, const std::string& name) { return folder.files.count(name) != 0; }

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

void ReportMissingSetupFile(Folder* folder) {
    *folder->out << (folder->dir / folder->infName).string() << ": error: not found";
    if (HasInstallerProgram(*folder)) {
        *folder->out << ": the installer beside it reads it\n";
    } else {
        *folder->out << ", and no setup.exe, install.exe, insstart.exe or install.bat at the top: the launcher "
                        "would find nothing to start\n";
    }
    ++folder->result->errors;
}

// The launcher unpacks a name beyond ASCII only where the system's ANSI code
// page holds it; anywhere else it refuses the whole package.
void CheckFileNames(Folder* folder) {
    for (const auto& [key, path] : folder->files) {
        std::string relative = fs::relative(path, folder->dir).generic_string();
        bool ascii = true;
        for (char c : relative) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) continue;
        LintFinding finding{LintWarning, key.c_str(), 0, "", "",
                            "the name is not plain ASCII: the package installs only where the system's ANSI code "
                            "page holds it"};
        Report(folder, &finding);
    }
}

}  // namespace

int LintFolder(const std::string& dir, std::ostream& out, bool onlyWithSetupFile, LintResult* result) {
    *result = LintResult{};
    Folder folder{dir, {}, {}, "", {}, {}, &out, result};
    std::error_code ec;
    if (!fs::is_directory(dir, ec) || !CollectFolder(&folder)) return ExitNoInput;
    folder.infName = SetupFileName(folder);
    auto inf = folder.files.find(folder.infName);
    if (inf == folder.files.end()) {
        // install.bat alone reads no setup file: nothing to check.
        if (onlyWithSetupFile || (folder.infName == SharedSetupFileName && AtTop(folder, LastInstallerName))) {
            return ExitOk;
        }
        result->checked = true;
        ReportMissingSetupFile(&folder);
        return ExitRefused;
    }
    IniText ini{nullptr, 0};
    LintSink sink{Report, Exists, ReadFile, &folder, CheckCabinet};
    if (!ReadFile(&folder, folder.infName.c_str(), &ini)) return ExitNoInput;
    result->checked = true;
    LintSetupFile(&ini, folder.infName.c_str(), &sink);
    CheckFileNames(&folder);
    return result->errors == 0 ? ExitOk : ExitRefused;
}

std::string LintSummary(const LintResult& result) {
    auto counted = [](int n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); };
    return counted(result.errors, "error") + ", " + counted(result.warnings, "warning");
}

int RunLint(const std::string& dir, const Streams& streams) {
    LintResult result;
    int status = LintFolder(dir, streams.out, false, &result);
    if (status == ExitNoInput) {
        streams.err << "cepack: " << dir << ": cannot read the folder\n";
        return status;
    }
    streams.out << "cepack: " << dir << ": " << LintSummary(result) << "\n";
    return status;
}

}  // namespace cepack
