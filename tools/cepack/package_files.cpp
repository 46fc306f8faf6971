#include "tools/cepack/package_files.h"

#include <map>
#include <optional>

#include "launcher/archive_directory.h"
#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

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
    ArchiveName archive(Utf8Of(path));
    if (archive.Name().empty()) return false;
    ArchiveDirectory directory;
    bool found = OpenArchiveDirectory(archive.Name().c_str(), &directory, 0, 0) == ArchiveOpen;
    CloseArchiveDirectory(&directory);
    return found;
}

std::string LeftOutReason(const TreeEntry& entry) {
    bool directory = entry.kind == TreeEntryKind::Directory || entry.kind == TreeEntryKind::DirectoryLink;
    std::string lowered = FoldedName(entry.relative);
    std::string name = lowered.substr(lowered.rfind('/') + 1);
    if (IsVersionControl(name)) return directory ? "version-control folder" : "version-control file";
    if (directory) return {};
    if (IsLitter(name)) return "editor or system leftover";
    // Only a regular file is opened: a pipe would block the read.
    if (EndsWith(name, ".exe") && !IsInstallerProgram(lowered) && entry.kind == TreeEntryKind::File &&
        CarriesPackagePayload(entry.path)) {
        return "an earlier package (it carries a ZIP payload)";
    }
    return {};
}

std::string FoldedName(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

std::vector<NameClash> CaseClashes(const std::vector<std::string>& relatives) {
    std::map<std::string, std::string> files, directories;  // folded: as first named
    for (const std::string& relative : relatives) {
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            directories.emplace(FoldedName(relative.substr(0, slash)), relative.substr(0, slash));
        }
    }
    std::vector<NameClash> clashes;
    for (const std::string& relative : relatives) {
        std::string key = FoldedName(relative);
        auto [first, fresh] = files.emplace(key, relative);
        if (!fresh) clashes.push_back({relative, first->second, false});
        auto directory = directories.find(key);
        if (directory != directories.end()) clashes.push_back({relative, directory->second, true});
    }
    return clashes;
}

std::string CaseClashText(const NameClash& clash) {
    return (clash.directory ? "differs only in case from the directory " : "differs only in case from ") + clash.other +
           ", and Windows would take the two for one: rename one of them";
}

}  // namespace cepack
