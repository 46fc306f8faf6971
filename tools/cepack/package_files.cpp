#include "tools/cepack/package_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "installer/setup_lint.h"
#include "launcher/archive_directory.h"
#include "support/text.h"
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

// What the launcher starts, at the top of a payload, folded.
bool IsStartedByLauncher(const std::string& folded) {
    return folded == "setup.exe" || folded == "install.exe" || folded == "insstart.exe" ||
           folded == "install.bat" || folded == "install.inf";
}


bool IsReservedDeviceName(std::string component) {
    component = component.substr(0, component.find('.'));
    for (char& c : component) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> plain = {"CON", "PRN", "AUX", "NUL"};
    if (plain.count(component)) return true;
    return component.size() == 4 && (component.rfind("COM", 0) == 0 || component.rfind("LPT", 0) == 0) &&
           component[3] >= '1' && component[3] <= '9';
}

// Why Windows could not create a file under this name, or empty.
std::string WindowsNameProblem(const std::string& relative) {
    size_t start = 0;
    for (;;) {
        size_t end = relative.find('/', start);
        std::string component = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
        for (unsigned char c : component) {
            if (c < 0x20 || std::string_view("<>:\"|?*\\").find(static_cast<char>(c)) != std::string_view::npos) {
                return "holds a character Windows does not allow in names";
            }
        }
        if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
            return "has a name ending in a dot or space, which Windows drops";
        }
        if (IsReservedDeviceName(component)) return "uses a name Windows reserves for a device";
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

// Names go into the archive as UTF-8 (flagged where they are not plain
// ASCII), which the launcher turns into the system's ANSI code page; the
// length checks take the longest form that can have.
std::string NameLengthProblem(const std::string& relative, size_t ansiLength, int destinationLength) {
    bool ascii =
        std::all_of(relative.begin(), relative.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string counted = std::to_string(ansiLength) + (ascii ? " characters" : " bytes in its longest ANSI form");
    if (ansiLength > static_cast<size_t>(PathMaxChars)) return "has a name of " + counted + "; at most 259 fit a path";
    if (ansiLength + destinationLength > static_cast<size_t>(PathMaxChars)) {
        return "has a name of " + counted + "; with the launcher's working directory (assumed " +
               std::to_string(destinationLength) + " characters) it exceeds 259";
    }
    // cepack list, verify and extract read the name as UTF-8 into the same buffer.
    if (relative.size() > static_cast<size_t>(PathMaxChars)) {
        return "has a name of " + std::to_string(relative.size()) + " UTF-8 bytes; cepack reads at most 259";
    }
    return {};
}

}  // namespace

const char* const EarlierPackageText =
    "is an earlier package (the launcher with a payload that installs): the launcher would start it, or the "
    "customer get it again; delete it";

bool IsEarlierPackage(const fs::path& path) {
    char head[2] = {};
    FILE* in = OpenHostFile(path, "rb");
    bool program = in && std::fread(head, 1, 2, in) == 2 && head[0] == 'M' && head[1] == 'Z';
    if (in) std::fclose(in);
    if (!program) return false;
    ArchiveName archive(Utf8Of(path));
    if (archive.Name().empty()) return false;
    ArchiveDirectory directory;
    bool ours = false;
    if (OpenArchiveDirectory(archive.Name().c_str(), &directory, 0, 0) == ArchiveOpen) {
        do {
            std::string name = FoldedName(directory.Name);
            ours = directory.NameUsable && name.find('\\') == std::string::npos && IsStartedByLauncher(name);
        } while (!ours && NextArchiveEntry(&directory) == ArchiveOpen);
    }
    CloseArchiveDirectory(&directory);
    return ours;
}

std::string LeftOutReason(const TreeEntry& entry) {
    bool directory = entry.kind == TreeEntryKind::Directory || entry.kind == TreeEntryKind::DirectoryLink;
    std::string lowered = FoldedName(entry.relative);
    std::string name = lowered.substr(lowered.rfind('/') + 1);
    if (IsVersionControl(name)) return directory ? "version-control folder" : "version-control file";
    if (directory) return {};
    if (IsLitter(name)) return "editor or system leftover";
    // Only a regular file is opened: a pipe would block the read.
    if (EndsWith(name, ".exe") && lowered != name && entry.kind == TreeEntryKind::File &&
        IsEarlierPackage(entry.path)) {
        return "an earlier package (the launcher with a payload that installs)";
    }
    return {};
}

std::string SecretReason(const TreeEntry& entry) {
    if (entry.kind != TreeEntryKind::File) return {};
    std::string lowered = FoldedName(entry.relative);
    if (IsSecretName(lowered.c_str())) return "a private key or credentials file, by its name";
    std::string text;
    if (entry.info.size < SecretScanMaxBytes && ReadHostFile(entry.path, &text) &&
        HoldsPrivateKey(text.data(), text.size())) {
        return "holds a PEM private key";
    }
    return {};
}

std::string PackedNameProblem(const std::string& relative, int destinationLength) {
    std::string why = WindowsNameProblem(relative);
    if (!why.empty()) return why;
    std::optional<size_t> ansiLength = LongestAnsiLength(relative);
    if (!ansiLength) return "is not valid UTF-8";
    return NameLengthProblem(relative, *ansiLength, destinationLength);
}

std::string Utf8FromAnsi(const std::string& ansi) {
    // 0x80 to 0x9F of code page 1252; its five gaps pass through as C1
    // controls, as Windows converts them.
    static const uint16_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    for (unsigned char c : ansi) {
        uint32_t cp = c >= 0x80 && c < 0xA0 ? high[c - 0x80] : c;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
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
