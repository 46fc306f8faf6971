#include "tools/cepack/package_files.h"

#include <optional>
#include <system_error>

#include "launcher/archive_directory.h"
#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

// Windows finds files without regard to case, so the names are compared
// that way; only A to Z are folded.
std::string Lowered(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

bool EndsWith(const std::string& text, const char* tail) {
    std::string t = tail;
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// A worktree's or submodule's .git is a file, so these go whatever they are.
bool IsVersionControl(const std::string& name) {
    return name == ".git" || name == ".svn" || name == ".hg" || name == "cvs";
}

bool IsLitter(const std::string& name) {
    return EndsWith(name, "~") || EndsWith(name, ".swp") || EndsWith(name, ".bak") ||
           (name.size() >= 2 && name.front() == '#' && name.back() == '#') || name == "thumbs.db" ||
           name == "desktop.ini" || name == ".ds_store";
}

// The programs the launcher starts stay, whatever they carry.
bool IsInstallerProgram(const std::string& relative) {
    return relative == "setup.exe" || relative == "install.exe" || relative == "insstart.exe";
}

}  // namespace

bool CarriesPackagePayload(const fs::path& path) {
    std::optional<std::string> core = CorePathOf(path.string());
    if (!core) return false;
    ArchiveDirectory directory;
    bool found = OpenArchiveDirectory(core->c_str(), &directory, 0, 0) == ArchiveOpen;
    CloseArchiveDirectory(&directory);
    return found;
}

std::string LeftOutReason(const std::string& relative, const fs::path& path, bool directory) {
    std::string lowered = Lowered(relative);
    std::string name = lowered.substr(lowered.rfind('/') + 1);
    if (IsVersionControl(name)) return directory ? "version-control folder" : "version-control file";
    if (directory) return {};
    if (IsLitter(name)) return "editor or system leftover";
    // Only a regular file is opened: a pipe would block the read.
    std::error_code ec;
    if (EndsWith(name, ".exe") && !IsInstallerProgram(lowered) && fs::is_regular_file(path, ec) &&
        CarriesPackagePayload(path)) {
        return "an earlier package (it carries a ZIP payload)";
    }
    return {};
}

}  // namespace cepack
