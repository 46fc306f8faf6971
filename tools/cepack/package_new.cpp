// cepack new: a package folder to start from. It lints clean, builds, and
// installs; the author puts in the cabinet (--cab, made from --inf, or in
// place of the placeholder) and edits the texts.
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/cepack/cab_build.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/package_files.h"
#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

struct Language {
    const char* code;
    const char* name;    // as the language dialog lists it, ANSI (Latin-1)
    const char* letter;  // of its file-list section; the default language has none
};

const Language Languages[] = {
    {"en", "English", "e"},
    {"de", "Deutsch (German)", "d"},
    {"fr", "Fran\xE7" "ais (French)", "f"},
    {"es", "Espa\xF1ol (Spanish)", "s"},
    {"it", "Italiano (Italian)", "i"},
    {"nl", "Nederlands (Dutch)", "n"},
};

const Language* FindLanguage(const std::string& code) {
    for (const Language& l : Languages) {
        if (code == l.code) return &l;
    }
    return nullptr;
}

// UTF-8 into Latin-1, the ANSI text the installer and the application
// manager read; nothing for other characters or controls.
std::optional<std::string> Latin1Of(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 || c == 0x7F) return std::nullopt;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            unsigned char value = static_cast<unsigned char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
            if (value < 0xA0) return std::nullopt;
            out += static_cast<char>(value);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// The nearest ASCII letters of a Latin-1 letter (0xC0 to 0xFF), lower case;
// empty for the signs among them.
const char* AsciiLetters(unsigned char c) {
    static const char* const letters[64] = {
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // C0
        "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "ss", // D0
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // E0
        "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y",  // F0
    };
    return c >= 0xC0 ? letters[c - 0xC0] : "";
}

// The title (Latin-1) as a file name stem: letters and digits, lower case,
// each letter beyond ASCII as its nearest ASCII letters ("M\xFCller" is
// "muller").
std::string StemOf(const std::string& title) {
    std::string stem;
    for (unsigned char c : title) {
        if (c < 0x80 && std::isalnum(c)) stem += static_cast<char>(std::tolower(c));
        else stem += AsciiLetters(c);
    }
    return stem.empty() ? "app" : stem.substr(0, 40);
}

// The title as a directory name: what Windows allows, without a backslash.
std::string DirectoryOf(const std::string& title) {
    std::string dir;
    for (char c : title) {
        if (std::string_view("<>:\"/\\|?*").find(c) == std::string_view::npos) dir += c;
    }
    while (!dir.empty() && (dir.back() == '.' || dir.back() == ' ')) dir.pop_back();
    return dir.empty() ? "Application" : dir;
}

std::string IniNameOf(const std::string& stem, size_t index, const Language& language) {
    return index == 0 ? stem + ".ini" : stem + "_" + language.code + ".ini";
}

std::string SetupFileText(const std::string& title, const std::string& stem, const std::vector<std::string>& cabs,
                          const std::vector<const Language*>& langs) {
    std::string t = "; Setup information file, read by install.exe beside it.\r\n"
                    "[Installation]\r\nProgram=" + title + "\r\nCopyright=(c) " + title + "\r\nVersion=1.0\r\n\r\n"
                    "[Destination]\r\n; Made below the device manager's directory; only this last level is created.\r\n"
                    "Dir=" + DirectoryOf(title) + "\r\n\r\n"
                    "[Languages]\r\nCount=" + std::to_string(langs.size()) + "\r\nDefault=1\r\n";
    for (size_t i = 0; i < langs.size(); ++i) {
        t += std::to_string(i + 1) + "=" + langs[i]->name + (i == 0 ? "" : std::string(",") + langs[i]->letter) + "\r\n";
    }
    t += "\r\n; The first language's list; the others take what they leave out from it.\r\n"
         "[Install]\r\n1=" + IniNameOf(stem, 0, *langs[0]) + "\r\n";
    for (size_t i = 0; i < cabs.size(); ++i) t += std::to_string(i + 2) + "=" + cabs[i] + "\r\n";
    std::vector<NewLanguage> texts;
    for (size_t i = 0; i < langs.size(); ++i) {
        if (i > 0) {
            t += "\r\n[Install" + std::string(langs[i]->letter) + "]\r\n1=" + IniNameOf(stem, i, *langs[i]) + "\r\n";
        }
        texts.push_back({langs[i]->code, i == 0 ? "" : langs[i]->letter});
    }
    return t + TextSections(texts);
}

std::string AppManagerText(const std::string& title, const std::vector<std::string>& cabs) {
    std::string cab;
    for (const std::string& c : cabs) cab += (cab.empty() ? "" : ",") + c;
    return "[CEAppManager]\r\nVersion=1.0\r\nComponent=" + title + "\r\n\r\n[" + title + "]\r\nDescription=" + title +
           "\r\nUninstall=" + title + "\r\nCabFiles=" + cab + "\r\n";
}

// A path for the author's shell, in double quotes where it has blanks.
std::string Quoted(const std::string& path) {
    return path.find_first_of(" \t&;()'") == std::string::npos ? path : "\"" + path + "\"";
}

// What README.txt says of the cabinets.
std::string CabinetAdvice(const NewOptions& options, const std::vector<std::string>& cabs, bool placeholder) {
    if (placeholder) {
        return "- Replace " + cabs[0] + " with your application's device cabinet (keep the name, or change it\r\n"
               "  in CabFiles of every .ini and in install.inf); cepack lint reports it until you do.\r\n";
    }
    if (options.inf.empty()) {
        return "- " + cabs[0] + " is a copy of the cabinet you gave: copy each new build of it over this one.\r\n";
    }
    // The .inf by its absolute path, so that the commands work from this folder.
    std::error_code ignored;
    std::string inf = Quoted(Utf8Of(fs::absolute(HostPath(options.inf), ignored)));
    std::string advice = "- Made from " + inf + ". After your application changes, remake\r\n"
                         "  " + std::string(cabs.size() == 1 ? "it" : "them") + " in this folder with:\r\n";
    for (size_t i = 0; i < cabs.size(); ++i) {
        std::string cpu = options.cpus.empty() ? "" : " --cpu " + options.cpus[i];
        advice += "    cepack cab -o " + cabs[i] + cpu + " " + inf + "\r\n";
    }
    return advice;
}

std::string ReadmeText(const std::string& stem, const std::string& cabinet, const std::vector<const Language*>& langs) {
    std::string inis;
    for (size_t i = 0; i < langs.size(); ++i) inis += (i ? ", " : "") + IniNameOf(stem, i, *langs[i]);
    return "This folder was made by cepack new. Before you build the package:\r\n\r\n" + cabinet +
           "- Edit install.inf: Program (the title on the installer's backdrop), Copyright, Version (the\r\n"
           "  package's, in its properties), Dir (the folder made on the PC), the language names; add\r\n"
           "  Company and Icon (an .ico here) for the package's properties and icon; list further\r\n"
           "  files under [Install]. [Texts] holds\r\n"
           "  what the installer shows, in each language: edit it to suit, keeping each %s.\r\n"
           "- Edit the application manager files " + inis + ": Description, Uninstall\r\n"
           "  (the name the application is removed by), CabFiles; Component names their section.\r\n"
           "- Delete this README.txt, or list it in install.inf if it should be installed.\r\n\r\n"
           "Then: cepack lint FOLDER, and cepack build -o Setup.exe FOLDER.\r\n\r\n"
           "Every key of install.inf and of the .ini files is described in authoring.md: in\r\n"
           "share/doc/cepack/ beside the installed cepack (PREFIX/bin/cepack), or docs/ in the\r\n"
           "source.\r\n";
}

bool CopyHostFile(const fs::path& from, const fs::path& to) {
    std::string bytes;
    return ReadHostFile(from, &bytes) && WriteHostFile(to, bytes);
}

// STEM.TAG.cab for each --cpu TAG (STEM.cab without one), STEM the .inf's
// own name, all in lower case. Tags are plain names: they become part of a
// file name and of CabFiles, which the application manager splits at commas.
bool InfCabinetNames(const NewOptions& options, std::vector<std::string>* names, const Streams& s) {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::string stem = lower(Utf8Of(HostPath(options.inf).stem()));
    if (stem.empty() || stem.find(',') != std::string::npos || stem.front() == ' ') {
        s.err << "cepack: new: " << options.inf << ": the cabinets are named after the information file,"
              << " whose name must not start with a blank or hold a comma\n";
        return false;
    }
    for (const std::string& cpu : options.cpus) {
        bool plain = !cpu.empty() && cpu.size() <= 32;
        for (unsigned char c : cpu) plain = plain && c < 0x80 && (std::isalnum(c) || c == '_' || c == '-');
        if (!plain) {
            s.err << "cepack: new: --cpu takes a tag of letters, digits, '_' and '-', not '" << cpu << "'\n";
            return false;
        }
        std::string name = stem + "." + lower(cpu) + ".cab";
        for (const std::string& seen : *names) {
            if (seen == name) {
                s.err << "cepack: new: --cpu " << cpu << " given twice\n";
                return false;
            }
        }
        names->push_back(name);
    }
    if (options.cpus.empty()) names->push_back(stem + ".cab");
    return true;
}

// Takes away what a failed new made: the folder, or what it put into the
// empty one it was given.
void RemoveMade(const fs::path& dir, HostKind before) {
    RemoveTree(Utf8Of(dir));
    if (before == HostKind::Directory) CreateHostDirectories(dir);
}

}  // namespace

int RunNew(const NewOptions& options, const Streams& s) {
    std::vector<const Language*> langs;
    for (const std::string& code : options.languages) {
        const Language* l = FindLanguage(code);
        if (!l) {
            s.err << "cepack: new: unknown language '" << code << "' (en, de, fr, es, it, nl)\n";
            return ExitUsage;
        }
        for (const Language* seen : langs) {
            if (seen == l) {
                s.err << "cepack: new: language '" << code << "' given twice\n";
                return ExitUsage;
            }
        }
        langs.push_back(l);
    }
    if (!options.cabinet.empty()) {
        std::string name = Utf8Of(HostPath(options.cabinet).filename());
        std::string lower;
        for (unsigned char c : name) lower += static_cast<char>(std::tolower(c));
        // The application manager splits CabFiles at commas and keeps spaces around a name.
        if (lower.size() <= 4 || lower.compare(lower.size() - 4, 4, ".cab") != 0 ||
            name.find(',') != std::string::npos || name.front() == ' ') {
            s.err << "cepack: new: --cab takes a file named NAME.cab, without commas or a leading space\n";
            return ExitUsage;
        }
        if (HostKindOf(HostPath(options.cabinet)) != HostKind::File) {
            s.err << "cepack: new: " << options.cabinet << ": cannot read the cabinet\n";
            return ExitNoInput;
        }
    }
    std::vector<std::string> cabs;
    if (!options.inf.empty() && !InfCabinetNames(options, &cabs, s)) return ExitUsage;
    std::string lookedAt;
    std::string installer = SharedProgram("install.exe", &lookedAt);
    if (installer.empty()) {
        s.err << "cepack: new: no install.exe to put in (looked at " << lookedAt << ")\n";
        return ExitNoInput;
    }
    fs::path dir = HostPath(options.directory);
    HostKind there = HostKindOf(dir);
    // An author's files are never overwritten.
    if (there != HostKind::Missing && !(there == HostKind::Directory && EmptyHostDirectory(dir))) {
        s.err << "cepack: new: " << options.directory << " exists and is not an empty folder\n";
        return ExitRefused;
    }
    // Every cabinet is read and checked before anything is written.
    std::vector<PreparedCab> prepared(cabs.size());
    for (size_t i = 0; i < cabs.size(); ++i) {
        int status = PrepareCab(options.inf, options.cpus.empty() ? "" : options.cpus[i], &prepared[i], s);
        if (status != ExitOk) return status;
    }
    std::string titleText = options.title;
    if (titleText.empty() && !prepared.empty()) titleText = Utf8FromAnsi(prepared[0].app.appName);
    std::optional<std::string> title = Latin1Of(titleText);
    if (!title || title->empty() || title->size() > 200) {
        s.err << "cepack: new: the title must be Latin-1 text of 1 to 200 characters"
              << (options.title.empty() && !options.inf.empty() ? " (give one with --title)\n" : "\n");
        return ExitUsage;
    }
    std::string stem = StemOf(*title);
    bool placeholder = options.cabinet.empty() && options.inf.empty();
    if (placeholder) cabs = {stem + ".arm.cab"};
    if (!options.cabinet.empty()) cabs = {Utf8Of(HostPath(options.cabinet).filename())};

    bool ok = CreateHostDirectories(dir);
    for (size_t i = 0; ok && i < prepared.size(); ++i) {
        int status = WritePreparedCab(prepared[i], Utf8Of(dir / HostPath(cabs[i])), false, s);
        if (status != ExitOk) {
            RemoveMade(dir, there);
            return status;
        }
    }
    ok = ok && WriteHostFile(dir / "install.inf", SetupFileText(*title, stem, cabs, langs)) &&
         WriteHostFile(dir / "README.txt", ReadmeText(stem, CabinetAdvice(options, cabs, placeholder), langs));
    // lint recognises this text and names it as new's placeholder.
    if (placeholder) {
        ok = ok && WriteHostFile(dir / HostPath(cabs[0]), "MSCF placeholder: replace with your application's cabinet\r\n");
    } else if (!options.cabinet.empty()) {
        ok = ok && CopyHostFile(HostPath(options.cabinet), dir / HostPath(cabs[0]));
    }
    for (size_t i = 0; ok && i < langs.size(); ++i) {
        ok = WriteHostFile(dir / HostPath(IniNameOf(stem, i, *langs[i])), AppManagerText(*title, cabs));
    }
    ok = ok && CopyHostFile(HostPath(installer), dir / "install.exe");
    if (!ok) {
        RemoveMade(dir, there);
        s.err << "cepack: new: " << options.directory << ": can't be written\n";
        return ExitWriteError;
    }
    s.out << "cepack: made " << options.directory << " for " << titleText;
    if (placeholder) s.out << "; replace " << cabs[0] << " with your cabinet";
    s.out << " and see README.txt\n";
    return ExitOk;
}

}  // namespace cepack
