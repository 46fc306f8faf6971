// The command line: cepack build | new | cab | list | verify | extract | lint.
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "support/file_layer.h"
#include "support/text.h"
#include "tools/cepack/cepack.h"

namespace cepack {

namespace {

const char* const HelpText =
    "usage: cepack build -o PACKAGE [--stub zipstub.exe | --bare] [--dest-length N] [--no-lint]\n"
    "                    [--version N.N.N.N] [--company NAME] [--icon FILE.ico] DIR\n"
    "       cepack new DIR --title TITLE [--languages en,de,fr] [--cab FILE.cab]\n"
    "       cepack new DIR --inf FILE.inf [--cpu TAG ...] [--title TITLE] [--languages ...]\n"
    "       cepack cab -o OUT.cab [--cpu TAG] [--compress] FILE.inf\n"
    "       cepack cab --show FILE.cab\n"
    "       cepack list PACKAGE\n"
    "       cepack verify PACKAGE\n"
    "       cepack extract PACKAGE DIR\n"
    "       cepack lint DIR\n"
    "       cepack --version\n"
    "\n"
    "build    packs every file below DIR (sorted, deflated at the best level or\n"
    "         stored) into a ZIP appended to the stub, with offsets counted from\n"
    "         the start of the package. Without --stub the zipstub.exe installed\n"
    "         beside cepack (../share/cepack) is used; --bare writes the archive\n"
    "         alone. A folder with install.inf but neither install.exe nor\n"
    "         setup.exe gets the installed install.exe. The same input gives the\n"
    "         same bytes; no entry is dated after SOURCE_DATE_EPOCH where that is\n"
    "         set. Names beyond ASCII are stored as UTF-8 (flag bit 11), which\n"
    "         the launcher unpacks where the system's ANSI code page holds them.\n"
    "         Names the launcher could not extract are refused; --dest-length N\n"
    "         is the length assumed for the launcher's working directory when\n"
    "         judging name lengths (default 64), each character beyond ASCII\n"
    "         counted as 2 bytes (4 beyond the BMP).\n"
    "         Behind a stub, a folder with no setup.exe, install.exe,\n"
    "         insstart.exe, install.bat or install.inf at the top is refused.\n"
    "         build runs lint's checks first, in lint's words: the names above\n"
    "         and an earlier package at the top (a program whose payload\n"
    "         installs: delete it) are refused in any case; a folder with\n"
    "         install.inf or its installer's setup file is linted whole and\n"
    "         refused when that finds errors (--no-lint packs it anyway);\n"
    "         warnings are printed and the build goes on.\n"
    "         The package carries the vendor's identity, not ours: its version\n"
    "         information says install.inf's [Installation] Program (ProductName,\n"
    "         \"Program Setup\"), Copyright, Company and Version (1 to 4 numbers),\n"
    "         and its icon is the .ico that Icon names; --version, --company and\n"
    "         --icon (relative to the current directory) override them. The icon\n"
    "         goes into the payload only where a list names it.\n"
    "         Left out, each with a note: version-control folders (.git .svn\n"
    "         .hg CVS), editors' and the system's leftovers (*~ *.swp *.bak #*#\n"
    "         Thumbs.db desktop.ini .DS_Store, in any case), earlier packages\n"
    "         below the top, the package being written, and, unless the setup\n"
    "         file lists them, keys and credentials (*.pfx *.p12 *.snk *.key\n"
    "         id_rsa* id_ed25519* .env .npmrc .netrc, any file under 1 MB\n"
    "         holding a PEM private key); lint sees the folder the same way.\n"
    "new      writes a package folder to start from: install.inf for the\n"
    "         languages (en de fr es it nl; the first is the default), one\n"
    "         application manager .ini each, install.exe, a README.txt saying\n"
    "         what to replace, and the cabinet: --cab copies FILE.cab in under\n"
    "         its own name and names it in install.inf and the .ini files;\n"
    "         without it a placeholder stands in, which lint reports until it\n"
    "         is replaced. --inf makes the cabinets instead, as cab does: one\n"
    "         per --cpu TAG, named STEM.TAG.cab (STEM the .inf's name, lower\n"
    "         case), or without --cpu one STEM.cab from the untagged sections\n"
    "         alone; all are named in CabFiles of every .ini and in\n"
    "         install.inf, and README.txt gives the cab commands that remake\n"
    "         them. The title is the .inf's AppName unless --title is given.\n"
    "         An .inf with errors writes nothing; --inf and --cab exclude each\n"
    "         other.\n"
    "cab      makes the device cabinet from a CabWiz-style information file:\n"
    "         [Version], [CEStrings], [Strings], [CEDevice], [DefaultInstall]\n"
    "         (CopyFiles, AddReg, CEShortcuts, CESetupDLL, CESelfRegister),\n"
    "         [SourceDisksNames], [SourceDisksFiles], [DestinationDirs] and the\n"
    "         sections they name. Sources are found as [SourceDisksNames] says,\n"
    "         relative to the .inf's folder. --cpu TAG merges [CEDevice.TAG],\n"
    "         [DefaultInstall.TAG], [SourceDisksNames.TAG] and\n"
    "         [SourceDisksFiles.TAG] over the untagged ones. Findings as lint\n"
    "         prints them; any error writes nothing. The setup file goes in\n"
    "         as NAME.000, the files as NAME.001 on, a setup DLL as NAME.999;\n"
    "         each dated as its source, no later than SOURCE_DATE_EPOCH where\n"
    "         that is set, with plain attributes whatever the source has. The\n"
    "         same input gives the same bytes. Stored uncompressed, as most\n"
    "         device cabinets are; --compress uses MSZIP, which only devices\n"
    "         whose installer reads it take (see docs/authoring.md).\n"
    "cab --show prints what a device cabinet does on the device, whoever made\n"
    "         it: application, provider, CPU and version bounds, then one line\n"
    "         per directory, file (its member and destination), registry value\n"
    "         and shortcut. Uncompressed and MSZIP cabinets; LZX and Quantum\n"
    "         ones are refused. Exit status 3 for no cabinet, 4 for one that is\n"
    "         damaged or compressed in a way cepack cannot read.\n"
    "list     one line per entry: size, compressed size, method, date, name.\n"
    "verify   test-extracts every entry with the launcher's engine into a\n"
    "         private temporary directory and checks its CRC; then names the\n"
    "         signer of each Authenticode signature (nested ones too) by its\n"
    "         certificate's common name, or says \"not signed\". It does not check\n"
    "         the signature or whether its certificate is trusted (osslsigncode\n"
    "         verify or signtool verify /pa do); a damaged signature is a warning.\n"
    "extract  unpacks the package into DIR exactly as the launcher does.\n"
    "lint     checks DIR's install.inf (setup.inf beside setup.exe) as the\n"
    "         installer reads it: Program set, Dir a plain name, the language\n"
    "         count and letters, every listed file present for every language,\n"
    "         an .ini in every list, names that stay inside the folder, ANSI\n"
    "         text, a warning for names beyond ASCII (listed or in the folder);\n"
    "         and every listed .ini as the application manager reads it:\n"
    "         [CEAppManager] Version and Component, each component's section\n"
    "         with CabFiles, every cabinet (and IconFile) in the folder and in\n"
    "         the same language's list, an Uninstall name; every such cabinet\n"
    "         read as the application manager meets it: a whole cabinet (MSCF,\n"
    "         not cut short) holding a device setup file NAME.000, which must\n"
    "         start with MSCE where it is stored uncompressed, and whose setup\n"
    "         file (stored or MSZIP) is read as cab --show reads it. One line per\n"
    "         finding, FILE:LINE: error|warning: [SECTION] KEY: message, then a\n"
    "         count; only errors make the exit status 6. The folder's names get\n"
    "         build's checks as errors. Text from the author's files, read in\n"
    "         code page 1252, is shown as UTF-8.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  bad command line (any command)\n"
    "  2  the input can't be read: build's directory or stub, new's shared\n"
    "     install.exe, cab's .inf or a source, the package of list, verify\n"
    "     and extract, lint's folder\n"
    "  3  list, verify, extract: not a package (no ZIP end record)\n"
    "  4  list, verify, extract: defective package (the launcher would refuse\n"
    "     it, or it was cut short); verify found faults\n"
    "  5  the output can't be written: build's package, new's folder, cab's\n"
    "     cabinet, extract's destination, verify's temporary directory\n"
    "  6  build refused the input; lint found errors (see the messages); new's\n"
    "     DIR exists and is not empty; cab found errors in the .inf\n";

int Usage(const Streams& s, const std::string& complaint) {
    s.err << "cepack: " << complaint << "\n" << "Try 'cepack --help'.\n";
    return ExitUsage;
}

int ParseBuild(const std::vector<std::string>& args, const Streams& s) {
    BuildOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if ((a == "-o" || a == "--output") && hasValue) {
            options.output = args[++i];
        } else if (a == "--stub" && hasValue) {
            options.stub = args[++i];
        } else if (a == "--dest-length" && hasValue) {
            char* end = nullptr;
            long n = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != 0 || n < 3 || n > PathMaxChars - 1) return Usage(s, "--dest-length takes 3 to 258");
            options.destinationLength = static_cast<int>(n);
        } else if (a == "--version" && hasValue) {
            options.overrides.version = args[++i];
        } else if (a == "--company" && hasValue) {
            options.overrides.company = args[++i];
        } else if (a == "--icon" && hasValue) {
            options.overrides.icon = args[++i];
        } else if (a == "--no-lint") {
            options.lint = false;
        } else if (a == "--bare") {
            options.bare = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage(s, "build: unknown or incomplete option " + a);
        } else if (options.input.empty()) {
            options.input = a;
        } else {
            return Usage(s, "build takes one input directory");
        }
    }
    if (options.output.empty() || options.input.empty()) return Usage(s, "build needs -o PACKAGE and DIR");
    if (options.bare && !options.stub.empty()) return Usage(s, "build takes --stub or --bare, not both");
    return RunBuild(options, s);
}

int ParseNew(const std::vector<std::string>& args, const Streams& s) {
    NewOptions options;
    std::string languages = "en";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--title" && hasValue) {
            options.title = args[++i];
        } else if (a == "--languages" && hasValue) {
            languages = args[++i];
        } else if (a == "--cab" && hasValue) {
            options.cabinet = args[++i];
        } else if (a == "--inf" && hasValue) {
            options.inf = args[++i];
        } else if (a == "--cpu" && hasValue) {
            options.cpus.push_back(args[++i]);
        } else if (!a.empty() && a[0] == '-') {
            return Usage(s, "new: unknown or incomplete option " + a);
        } else if (options.directory.empty()) {
            options.directory = a;
        } else {
            return Usage(s, "new takes one directory");
        }
    }
    if (!options.inf.empty() && !options.cabinet.empty()) {
        return Usage(s, "new: --inf makes the cabinets and --cab copies one in: give one of them");
    }
    if (!options.cpus.empty() && options.inf.empty()) return Usage(s, "new: --cpu goes with --inf");
    if (options.directory.empty() || (options.title.empty() && options.inf.empty())) {
        return Usage(s, "new needs DIR and --title TITLE or --inf FILE.inf");
    }
    for (size_t start = 0; start <= languages.size();) {
        size_t comma = languages.find(',', start);
        if (comma == std::string::npos) comma = languages.size();
        options.languages.push_back(languages.substr(start, comma - start));
        start = comma + 1;
    }
    return RunNew(options, s);
}

int ParseCab(const std::vector<std::string>& args, const Streams& s) {
    CabOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if ((a == "-o" || a == "--output") && hasValue) {
            options.output = args[++i];
        } else if (a == "--cpu" && hasValue) {
            options.cpu = args[++i];
        } else if (a == "--compress") {
            options.compress = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage(s, "cab: unknown or incomplete option " + a);
        } else if (options.input.empty()) {
            options.input = a;
        } else {
            return Usage(s, "cab takes one information file");
        }
    }
    if (options.output.empty() || options.input.empty()) return Usage(s, "cab needs -o OUT.cab and FILE.inf");
    return RunCab(options, s);
}

}  // namespace

int RunCommandLine(int argc, char** argv, const Streams& s) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage(s, "no command given");
    const std::string command = args[0];
    args.erase(args.begin());
    // "cepack new --help" too: an author asks where they are.
    bool help = !args.empty() && (args[0] == "--help" || args[0] == "-h");
    if (command == "--help" || command == "-h" || command == "help" || help) {
        s.out << HelpText;
        return ExitOk;
    }
    if (command == "--version") {
        s.out << "cepack " << CEPACK_VERSION << "\n";
        return ExitOk;
    }
    BuildCrcTable();
    SetUseLongNames(true);
    if (command == "build") return ParseBuild(args, s);
    if (command == "new") return ParseNew(args, s);
    if (command == "cab" && !args.empty() && args[0] == "--show") {
        return args.size() == 2 ? RunCabShow(args[1], s) : Usage(s, "cab --show takes one cabinet");
    }
    if (command == "cab") return ParseCab(args, s);
    if (command == "list" && args.size() == 1) return RunList(args[0], s);
    if (command == "verify" && args.size() == 1) return RunVerify(args[0], s);
    if (command == "extract" && args.size() == 2) return RunExtract(args[0], args[1], s);
    if (command == "lint" && args.size() == 1) return RunLint(args[0], s);
    if (command == "list" || command == "verify" || command == "extract" || command == "lint") {
        return Usage(s, command + ": wrong number of arguments");
    }
    return Usage(s, "unknown command " + command);
}

}  // namespace cepack
