// cepack: builds, lists, verifies and extracts self-extracting packages on the
// host with the launcher's own archive code.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace cepack {

// Exit statuses, also listed by --help.
enum ExitStatus : int {
    ExitOk = 0,
    ExitUsage = 1,         // bad command line
    ExitNoInput = 2,       // the package or input directory can't be read
    ExitNotPackage = 3,    // no ZIP end record: not a package at all
    ExitDefective = 4,     // the launcher would call it defective; verify found faults
    ExitWriteError = 5,    // the output can't be written
    ExitRefused = 6,       // build: the input holds what the launcher can't extract
};

// Characters assumed for the launcher's working directory (the user's TEMP
// plus "\$qvNNN\") when judging whether entry names fit a path buffer.
constexpr int DefaultDestinationLength = 64;

// What --version, --company and --icon say for one build, over install.inf.
struct Overrides {
    std::optional<std::string> version;
    std::optional<std::string> company;
    std::optional<std::string> icon;  // relative to the current directory
};

struct BuildOptions {
    std::string output;
    std::string stub;  // empty: the shared one (SharedProgram)
    bool bare = false;  // --bare: the archive alone, no stub
    std::string input;
    int destinationLength = DefaultDestinationLength;
    bool lint = true;  // false: the setup file's findings don't stop the build
    Overrides overrides;
};

struct Streams {
    std::ostream& out;
    std::ostream& err;
};

// A new package folder to start from (cepack new).
struct NewOptions {
    std::string directory;
    std::string title;                   // UTF-8
    std::vector<std::string> languages;  // codes such as "en", the first the default
    std::string cabinet;                 // --cab: the author's cabinet; empty: a placeholder
    std::string inf;                     // --inf: the cabinets are made from this information file
    std::vector<std::string> cpus;       // --cpu: one cabinet each; none: one from the untagged sections
};

int RunBuild(const BuildOptions& options, const Streams& streams);

// A device cabinet from the author's information file (cepack cab).
struct CabOptions {
    std::string output;
    std::string input;  // the .inf
    std::string cpu;    // --cpu: the tag of the sections merged over the untagged ones
    bool compress = false;
};
int RunCab(const CabOptions& options, const Streams& streams);
// A language of a new package: its code ("de") and the letter of its
// sections, empty for the first, the default.
struct NewLanguage {
    std::string code;
    std::string letter;
};
// install.inf's text sections for these languages, the default first.
std::string TextSections(const std::vector<NewLanguage>& languages);

int RunNew(const NewOptions& options, const Streams& streams);
int RunList(const std::string& package, const Streams& streams);
int RunVerify(const std::string& package, const Streams& streams);
int RunExtract(const std::string& package, const std::string& directory, const Streams& streams);
int RunLint(const std::string& directory, const Streams& streams);
// cepack cab --show: what a device cabinet installs, one item a line.
int RunCabShow(const std::string& cabinet, const Streams& streams);
int RunCommandLine(int argc, char** argv, const Streams& streams);

struct LintOptions {
    // For build: a folder with neither install.inf nor the setup file of its
    // installer is no package for our installer, and only what goes into
    // the package is checked (names, earlier packages).
    bool forBuild = false;
    // False for build --no-lint: the setup file is still read for what it
    // lists, but only the findings build refuses in any case are reported.
    bool setupFindings = true;
    int destinationLength = DefaultDestinationLength;
    std::string output;  // the package build writes, no part of the folder
    Overrides overrides;
};

// What the package says of itself, install.inf's [Installation] with the
// overrides applied, as UTF-8; checked by lint.
struct Identity {
    std::string program, company, copyright, version;
    std::string icon;  // the .ico's bytes; empty: the launcher's icon stays
};

struct LintResult {
    bool checked = false;  // a setup information file was looked for and checked
    int errors = 0;
    int warnings = 0;
    int refusals = 0;  // errors in what goes into the package, refused by build even with --no-lint
    // Files build leaves out unless a list names them (keys and credentials,
    // the package's icon), by name below the folder: why.
    std::map<std::string, std::string> unlisted;
    Identity identity;
};

// The setup information file of a package folder (install.inf, or the one of
// the installer the launcher would start) and the application manager's
// .ini files it lists, checked with the installer's own reading rules, and
// the folder's files as build packs them; findings go to out, one per line
// as FILE:LINE: error|warning: [SECTION] KEY: message (FILE: ... for the
// folder's own). ExitOk without errors (warnings allowed), ExitRefused with
// errors, ExitNoInput.
int LintFolder(const std::string& directory, std::ostream& out, const LintOptions& options, LintResult* result);
// "N errors, M warnings".
std::string LintSummary(const LintResult& result);

// The path of one of the shipped programs (zipstub.exe, install.exe) that
// are installed beside cepack, or empty; lookedAt then lists the places.
std::string SharedProgram(const std::string& name, std::string* lookedAt);

}  // namespace cepack
