// cepack lint: the setup information file of a package folder, read with the
// installer's own rules, checked before the package ships.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "installer/setup_lint.h"
#include "tools/cepack/cepack.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

// The programs the launcher starts, in its order; each reads the setup file
// of its own name.
const char* const InstallerNames[] = {"setup.exe", "install.exe", "insstart.exe"};

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
    std::set<std::string> files;  // InstallerView of every file below the folder
    std::string infName;
    std::ostream* out;
};

void Report(void* context, const char* section, const char* key, const char* message) {
    Folder* folder = static_cast<Folder*>(context);
    *folder->out << folder->infName << ": [" << section << "]";
    if (*key) *folder->out << " " << key;
    *folder->out << ": " << message << "\n";
}

bool Exists(void* context, const char* name) { return static_cast<Folder*>(context)->files.count(Folded(name)) != 0; }

bool CollectFolder(const std::string& dir, Folder* folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file(ec)) folder->files.insert(InstallerView(fs::relative(it->path(), dir).generic_string()));
    }
    return !ec;
}

// The setup file that the installer of this folder reads.
std::string SetupFileName(const Folder& folder) {
    for (const char* program : InstallerNames) {
        if (folder.files.count(program)) {
            std::string name = program;
            return name.substr(0, name.rfind('.')) + ".inf";
        }
    }
    return "install.inf";
}

}  // namespace

int LintFolder(const std::string& dir, std::ostream& out, bool onlyWithSetupFile, bool* checked) {
    *checked = false;
    Folder folder{{}, "", &out};
    std::error_code ec;
    if (!fs::is_directory(dir, ec) || !CollectFolder(dir, &folder)) return ExitNoInput;
    folder.infName = SetupFileName(folder);
    std::string path;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (InstallerView(entry.path().filename().string()) == folder.infName) path = entry.path().string();
    }
    if (path.empty()) {
        if (onlyWithSetupFile) return ExitOk;
        out << folder.infName << ": not found in " << dir << "\n";
        *checked = true;
        return ExitRefused;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return ExitNoInput;
    IniText ini{text.data(), text.size()};
    LintSink sink{Report, Exists, &folder};
    *checked = true;
    return LintSetupFile(&ini, &sink) == 0 ? ExitOk : ExitRefused;
}

int RunLint(const std::string& dir, const Streams& streams) {
    bool checked = false;
    int status = LintFolder(dir, streams.out, false, &checked);
    if (status == ExitNoInput) streams.err << "cepack: " << dir << ": cannot read the folder\n";
    if (status == ExitOk) streams.out << "cepack: " << dir << ": the setup information file is in order\n";
    return status;
}

}  // namespace cepack
