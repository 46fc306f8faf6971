// cepack cab: device cabinets from information files, read back by
// cabextract (a reader we did not write), the setup file against bytes
// worked out by hand from cabextract's description of the format, and the
// .inf's faults one row each.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/test_util.h"
#include "tests/host/cepack_command.h"
#include "tools/cepack/cab_inf.h"
#include "tools/cepack/cab_setup_file.h"

namespace fs = std::filesystem;
using testutil::NativePath;
using testutil::ScratchDir;
using testutil::ShellQuote;

namespace {

std::string Q(const std::string& corePath) { return ShellQuote(NativePath(corePath)); }

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CepackCabTest : public ::testing::Test {
protected:
    int Cepack(const std::string& args, std::string* output, const std::string& environment = "") {
        int status = -1;
        *output = testutil::RunOutput(environment + cepacktest::CepackCommand() + " " + args + " 2>&1", &status);
        if (cepacktest::OnWindows()) *output = cepacktest::Slashed(*output);
        return status;
    }
    fs::path Dir() const { return NativePath(dir_.Path()); }
    // cabextract's listing, names only, in the cabinet's order.
    std::vector<std::string> Members(const fs::path& cab) {
        std::vector<std::string> names;
        std::istringstream lines(testutil::RunOutput("cabextract -l " + ShellQuote(cab.string())));
        for (std::string line; std::getline(lines, line);) {
            size_t bar = line.rfind(" | ");
            if (bar != std::string::npos && line.find("Name") == std::string::npos) names.push_back(line.substr(bar + 3));
        }
        return names;
    }
    fs::path Extract(const fs::path& cab, const std::string& into) {
        fs::path out = Dir() / into;
        EXPECT_EQ(testutil::Run("cabextract -q -d " + ShellQuote(out.string()) + " " + ShellQuote(cab.string())), 0);
        return out;
    }
    ScratchDir dir_{"cab"};
};

// Comments, quoted ';', a continued line, 0x numbers and names in any case
// on the way; the bytes below follow from it.
const char* const HandInf =
    "[version]\n"
    "signature=\"$Windows NT$\"\n"
    "provider = \"Acme; Inc\"     ; the quoted ';' stays\n"
    "cesignature=\"$Windows CE$\"\n"
    "[CEStrings]\n"
    "appname=Pad\n"
    "installdir=%CE1%\\%AppName%\n"
    "[CEDevice]\n"
    "ProcessorType=0x0A11\n"
    "VersionMin=4.20\n"
    "BuildMax=0xE0000000\n"
    "UnsupportedPlatforms=HPC\n"
    "[DefaultInstall]\n"
    "CopyFiles=Files\n"
    "AddReg=Reg\n"
    "CEShortcuts=Links\n"
    "[SourceDisksNames]\n"
    "1=,\"src\",,src\n"
    "[SourceDisksFiles]\n"
    "pad.exe=1\n"
    "[DestinationDirs]\n"
    "Files=0,%InstallDir%\n"
    "Links=0,%CE11%\n"
    "[Files]\n"
    "pad.exe,,,0x40000000\n"
    "[Reg]\n"
    "HKCU,Software\\Pad,Dir,0,\\\n"
    "   %InstallDir%\n"
    "[Links]\n"
    "Pad,0,pad.exe\n";

const uint8_t HandSetupFile[] = {
    // header
    'M', 'S', 'C', 'E',  // signature
    0, 0, 0, 0,          // unknown, usually 0
    244, 0, 0, 0,        // the file's length: 228 + 16
    0, 0, 0, 0,          // unknown, usually 0
    1, 0, 0, 0,          // unknown, usually 1
    0x11, 0x0A, 0, 0,    // processor 2577, StrongARM
    4, 0, 0, 0,          // version min 4.20
    20, 0, 0, 0,         //
    0, 0, 0, 0,          // version max: none
    0, 0, 0, 0,          //
    0, 0, 0, 0,          // build min: none
    0, 0, 0, 0xE0,       // build max
    3, 0, 1, 0, 1, 0,    // STRINGS, DIRS, FILES
    1, 0, 1, 0, 1, 0,    // REGHIVES, REGKEYS, LINKS
    119, 0, 0, 0,        // STRINGS at 100 + 4 + 10 + 5
    157, 0, 0, 0,        // DIRS at 119 + 17 + 13 + 8
    165, 0, 0, 0,        // FILES at 157 + 8
    185, 0, 0, 0,        // REGHIVES at 165 + 20
    199, 0, 0, 0,        // REGKEYS at 185 + 14
    228, 0, 0, 0,        // LINKS at 199 + 29
    100, 0, 4, 0,        // APPNAME offset, length
    104, 0, 10, 0,       // PROVIDER
    114, 0, 5, 0,        // UNSUPPORTED
    0, 0, 0, 0,          // unknown, usually 0
    // 100: APPNAME, PROVIDER, UNSUPPORTED (ends with an empty string)
    'P', 'a', 'd', 0,
    'A', 'c', 'm', 'e', ';', ' ', 'I', 'n', 'c', 0,
    'H', 'P', 'C', 0, 0,
    // 119: STRINGS: ID, length with the null, text
    1, 0, 13, 0, '%', 'I', 'n', 's', 't', 'a', 'l', 'l', 'D', 'i', 'r', '%', 0,
    2, 0, 9, 0, 'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', 0,
    3, 0, 4, 0, 'P', 'a', 'd', 0,
    // 157: DIRS: ID 1, 4 bytes of string IDs {1} and the 0 ending them:
    // %InstallDir% itself, for the device to resolve to the user's choice
    1, 0, 4, 0, 1, 0, 0, 0,
    // 165: FILES: ID 1 (member .001), directory 1, unknown (the ID), flags, name
    1, 0, 1, 0, 1, 0, 0, 0, 0, 0x40, 8, 0, 'p', 'a', 'd', '.', 'e', 'x', 'e', 0,
    // 185: REGHIVES: ID 1, HKCU (2), unknown 0, 6 bytes: Software\Pad
    1, 0, 2, 0, 0, 0, 6, 0, 2, 0, 3, 0, 0, 0,
    // 199: REGKEYS: ID 1, hive 1, substitute (it names %InstallDir%), REG_SZ, 17 bytes
    1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 17, 0,
    'D', 'i', 'r', 0, '%', 'I', 'n', 's', 't', 'a', 'l', 'l', 'D', 'i', 'r', '%', 0,
    // 228: LINKS: ID 1, unknown 0, base %CE11%, file 1, a file (1), 4 bytes: "Pad"
    1, 0, 0, 0, 11, 0, 1, 0, 1, 0, 4, 0, 3, 0, 0, 0,
};

TEST_F(CepackCabTest, SetupFileMatchesTheBytesWorkedOutByHand) {
    Write(Dir() / "pad.inf", HandInf);
    Write(Dir() / "src" / "pad.exe", "program");
    std::string text;
    ASSERT_EQ(Cepack("cab -o " + Q(dir_.Join("pad.cab")) + " " + Q(dir_.Join("pad.inf")), &text), 0) << text;
    EXPECT_EQ(Members(Dir() / "pad.cab"), (std::vector<std::string>{"00000pad.000", "00000pad.001"}));
    fs::path out = Extract(Dir() / "pad.cab", "x");
    EXPECT_EQ(Read(out / "00000pad.000"), std::string(HandSetupFile, HandSetupFile + sizeof HandSetupFile));
    EXPECT_EQ(Read(out / "00000pad.001"), "program");
}

// An application with blanks and a long path in its sources, files of one
// name in two folders, a setup DLL and a self-registered file.
class CepackCabWholeTest : public CepackCabTest {
protected:
    void SetUp() override {
        const std::string deep = std::string(90, 'd') + "/" + std::string(90, 'e') + "/" + std::string(90, 'f');
        sources_ = {{"Win Game.wav", "source files/Win Game.wav"},
                    {"Blkjack.exe", "source files/Blkjack.exe"},
                    {"readme.txt", "source files/readme.txt"},
                    {"help\\readme.txt", "source files/help/readme.txt"},
                    {"deep.dat", "source files/" + deep + "/deep.dat"}};
        for (size_t i = 0; i < sources_.size(); ++i) {
            Write(Dir() / sources_[i].second, testutil::RandomBytes(1000 + 40000 * i, static_cast<uint32_t>(i)));
        }
        Write(Dir() / "source files/Blackjack Setup.dll", "MZ setup");
        Write(Dir() / "app.inf",
              "[Version]\nSignature=\"$Windows NT$\"\nProvider=\"Acme\"\nCESignature=\"$Windows CE$\"\n"
              "[CEStrings]\nAppName=\"Black Jack\"\nInstallDir=%CE1%\\%AppName%\n"
              "[DefaultInstall]\nCopyFiles=Files.Main,Files.Help\nCESetupDLL=\"Blackjack Setup.dll\"\n"
              "CESelfRegister=Blkjack.exe\n"
              "[SourceDisksNames]\n1=,\"main\",,\"source files\"\n2=,\"deep\",,\"source files/" + deep + "\"\n"
              "[SourceDisksFiles]\n\"Win Game.wav\"=1\nBlkjack.exe=1\nreadme.txt=1\nhelp\\readme.txt=1\n"
              "deep.dat=2\n\"Blackjack Setup.dll\"=1\n"
              "[DestinationDirs]\nFiles.Main=0,%InstallDir%\nFiles.Help=0,%InstallDir%\\Help\n"
              "[Files.Main]\n\"Win Game.wav\"\nBlkjack.exe\nreadme.txt\n"
              "[Files.Help]\nreadme.txt,help\\readme.txt\ndeep.dat\n");
    }
    std::vector<std::pair<std::string, std::string>> sources_;  // name in the .inf, file below Dir()
};

TEST_F(CepackCabWholeTest, CabextractListsAndExtractsEveryMemberAsItsSource) {
    const std::vector<std::string> order = {"00000app.000", "BLACKJ~1.999", "0000deep.005", "00readme.004",
                                            "00readme.003", "0Blkjack.002", "WINGAM~1.001"};
    for (const char* compress : {"", " --compress"}) {
        SCOPED_TRACE(compress);
        std::string text, again;
        std::string a = dir_.Join(std::string("a") + compress + ".cab"), b = dir_.Join("b.cab");
        ASSERT_EQ(Cepack("cab" + std::string(compress) + " -o " + Q(a) + " " + Q(dir_.Join("app.inf")), &text), 0)
            << text;
        ASSERT_EQ(Cepack("cab" + std::string(compress) + " -o " + Q(b) + " " + Q(dir_.Join("app.inf")), &again), 0);
        EXPECT_EQ(Read(NativePath(a)), Read(NativePath(b))) << "the same input gives the same bytes";
        EXPECT_EQ(Members(NativePath(a)), order);
        fs::path out = Extract(NativePath(a), std::string("x") + compress);
        for (size_t i = 0; i < sources_.size(); ++i) {
            EXPECT_EQ(Read(out / order[order.size() - 1 - i]), Read(Dir() / sources_[i].second)) << sources_[i].first;
        }
        EXPECT_EQ(Read(out / "BLACKJ~1.999"), "MZ setup");
        std::string setup = Read(out / "00000app.000");
        // FILES: the two readme.txt go to their own directories; Blkjack.exe self-registers.
        EXPECT_NE(setup.find(std::string("\x03\x00\x01\x00\x03\x00\x00\x00\x00\x00\x0B\x00", 12) + "readme.txt"), std::string::npos);
        EXPECT_NE(setup.find(std::string("\x04\x00\x02\x00\x04\x00\x00\x00\x00\x00\x0B\x00", 12) + "readme.txt"), std::string::npos);
        EXPECT_NE(setup.find(std::string("\x02\x00\x01\x00\x02\x00\x00\x00\x00\x10\x0C\x00", 12) + "Blkjack.exe"), std::string::npos);
    }
}

TEST_F(CepackCabWholeTest, DatesAreClampedAndAnOldCabinetIsReplaced) {
    std::string cab = dir_.Join("old.cab"), text;
    Write(NativePath(cab), "an old cabinet");
    fs::permissions(NativePath(cab), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(Cepack("cab -o " + Q(cab) + " " + Q(dir_.Join("app.inf")), &text, "TZ=UTC SOURCE_DATE_EPOCH=1000000000 "), 0)
        << text;
    std::string listing = testutil::RunOutput("cabextract -l " + Q(cab));
    EXPECT_NE(listing.find("09.09.2001 01:46:40 | WINGAM~1.001"), std::string::npos) << listing;
    EXPECT_NE(listing.find("09.09.2001 01:46:40 | 00000app.000"), std::string::npos) << listing;
    // A refused .inf leaves the cabinet there as it was.
    std::string before = Read(NativePath(cab));
    Write(Dir() / "bad.inf", "[Version]\n");
    EXPECT_EQ(Cepack("cab -o " + Q(cab) + " " + Q(dir_.Join("bad.inf")), &text), 6) << text;
    EXPECT_EQ(Read(NativePath(cab)), before);
}

TEST_F(CepackCabTest, CpuTagMergesItsSectionsOverTheUntaggedOnes) {
    Write(Dir() / "m.inf",
          "[Version]\nSignature=\"$Windows NT$\"\nProvider=Acme\nCESignature=\"$Windows CE$\"\n"
          "[CEStrings]\nAppName=Merge\n"
          "[CEDevice]\nProcessorType=0\nVersionMin=3.0\n[CEDevice.ARM]\nProcessorType=2577\n"
          "[DefaultInstall]\nCopyFiles=Files\n[DefaultInstall.ARM]\nCopyFiles=Files,Files.Arm\n"
          "[SourceDisksNames]\n1=,,,common\n[SourceDisksNames.ARM]\n2=,,,arm\n"
          "[SourceDisksFiles]\napp.exe=1\n[SourceDisksFiles.ARM]\napp.exe=2\nextra.dll=2\n"
          "[DestinationDirs]\nDefaultDestDir=0,%CE2%\n"
          "[Files]\napp.exe\n[Files.Arm]\nextra.dll\n");
    Write(Dir() / "common" / "app.exe", "any cpu");
    Write(Dir() / "arm" / "app.exe", "arm build");
    Write(Dir() / "arm" / "extra.dll", "arm only");
    struct Case {
        const char* cpu;
        uint8_t processor[2];
        std::vector<std::pair<std::string, std::string>> members;
    };
    const Case cases[] = {
        {"", {0, 0}, {{"00000app.001", "any cpu"}}},
        {"ARM", {0x11, 0x0A}, {{"00000app.001", "arm build"}, {"000extra.002", "arm only"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cpu);
        std::string cab = dir_.Join(std::string("m") + c.cpu + ".cab"), text;
        std::string cpu = *c.cpu ? std::string(" --cpu ") + c.cpu : "";
        ASSERT_EQ(Cepack("cab" + cpu + " -o " + Q(cab) + " " + Q(dir_.Join("m.inf")), &text), 0) << text;
        EXPECT_EQ(text.find("warning"), std::string::npos) << text;
        fs::path out = Extract(NativePath(cab), std::string("x") + c.cpu);
        std::string setup = Read(out / "0000000m.000");
        ASSERT_GE(setup.size(), 100u);
        EXPECT_EQ(setup.substr(20, 4), std::string(reinterpret_cast<const char*>(c.processor), 2) + std::string(2, '\0'));
        EXPECT_EQ(setup[24], 3) << "VersionMin from the untagged section";
        for (const auto& [member, data] : c.members) EXPECT_EQ(Read(out / member), data) << member;
        EXPECT_EQ(Members(NativePath(cab)).size(), c.members.size() + 1);
    }
}

// One fault per row, each an edit of a good .inf; the finding's line as
// cepack prints it, after the file's name.
const char* const FaultInf =
    "[Version]\n"                                    // 1
    "Signature = \"$Windows NT$\"\n"                 // 2
    "Provider = \"Acme\"\n"                          // 3
    "CESignature = \"$Windows CE$\"\n"               // 4
    "[CEStrings]\n"                                  // 5
    "AppName = \"Notes\"\n"                          // 6
    "InstallDir = %CE1%\\%AppName%\n"                // 7
    "[Strings]\n"                                    // 8
    "Sub = \"data\"\n"                               // 9
    "[CEDevice]\n"                                   // 10
    "ProcessorType = 2577\n"                         // 11
    "VersionMin = 4.20\n"                            // 12
    "[DefaultInstall]\n"                             // 13
    "CopyFiles = Files.App\n"                        // 14
    "AddReg = Reg\n"                                 // 15
    "CEShortcuts = Links\n"                          // 16
    "[SourceDisksNames]\n"                           // 17
    "1 = ,\"Files\",,\"src dir\"\n"                  // 18
    "[SourceDisksFiles]\n"                           // 19
    "notes.exe = 1\n"                                // 20
    "[DestinationDirs]\n"                            // 21
    "Files.App = 0, %InstallDir%\n"                  // 22
    "Links = 0, %CE11%\n"                            // 23
    "[Files.App]\n"                                  // 24
    "notes.exe\n"                                    // 25
    "[Reg]\n"                                        // 26
    "HKCU,Software\\%AppName%,Count,0x00010001,1\n"  // 27
    "[Links]\n"                                      // 28
    "Notes,0,notes.exe\n";                           // 29

std::string ManyCopies() {
    std::string lines = "[Files.App]\nnotes.exe\n";
    for (int i = 0; i < 998; ++i) lines.append("n").append(std::to_string(i)).append(".exe,notes.exe\n");
    return lines;
}

// [Strings] whose values double at each of 24 levels, or nest 40 deep.
std::string Use(int i) { return std::string("%S").append(std::to_string(i)).append("%"); }
std::string Doubling() {
    std::string lines = "[Strings]\nS0 = x\n";
    for (int i = 1; i <= 24; ++i) lines.append("S").append(std::to_string(i)).append(" = ").append(Use(i - 1)).append(Use(i - 1)).append("\n");
    return lines;
}
std::string Nesting() {
    std::string lines = "[Strings]\nS40 = x\n";
    for (int i = 0; i < 40; ++i) lines.append("S").append(std::to_string(i)).append(" = ").append(Use(i + 1)).append("\n");
    return lines;
}

TEST_F(CepackCabTest, EachFaultOfTheInformationFileIsFoundAtItsLine) {
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> edits;
        const char* cpu;
        int status;
        std::string where;  // follows the file's name
        std::string says;   // in the same line
    };
    const std::vector<Row> rows = {
        {"good", {}, "", 0, "", ""},
        {"copy section missing", {{"= Files.App\n", "= Files.App, Files.Gone\n"}}, "", 6,
         ":14: error: [DefaultInstall] CopyFiles: ", "names [Files.Gone], which is missing"},
        {"registry section missing", {{"AddReg = Reg", "AddReg = Reg2"}}, "", 6, ":15: error: [DefaultInstall] AddReg: ",
         "[Reg2], which is missing"},
        {"shortcut section missing", {{"CEShortcuts = Links", "CEShortcuts = Links2"}}, "", 6,
         ":16: error: [DefaultInstall] CEShortcuts: ", "[Links2], which is missing"},
        {"no destination", {{"Files.App = 0, %InstallDir%", "Other = 0, x"}}, "", 6, ":24: error: [Files.App]: ",
         "no [DestinationDirs] entry for this section and no DefaultDestDir"},
        {"source missing", {{"notes.exe = 1", "notes.exe = 1,gone"}}, "", 6, ":25: error: [Files.App] notes.exe: ",
         "/src dir/gone/notes.exe: no such file"},
        {"source a directory", {{"notes.exe = 1", "notes.exe = 1\nadir = 1"}, {"notes.exe\n[Reg]", "notes.exe\nadir\n[Reg]"}},
         "", 6, ":27: error: [Files.App] adir: ", "/src dir/adir is a directory, not a file"},
        {"same name twice", {{"notes.exe\n[Reg]", "notes.exe\nNOTES.EXE,notes.exe\n[Reg]"}}, "", 6,
         ":26: error: [Files.App] NOTES.EXE: ", "a second file of this name in the same device directory"},
        {"undefined string", {{"\"Notes\"", "\"%Nope%\""}}, "", 6, ":6: error: [CEStrings] AppName: ",
         "%Nope% is defined in neither [Strings] nor [CEStrings]"},
        {"string of itself", {{"\"data\"", "\"x%Sub%\""}, {"%InstallDir%\n", "%InstallDir%\\%Sub%\n"}}, "", 6,
         ":22: error: [DestinationDirs] Files.App: ", "%Sub% is defined in terms of itself"},
        {"cpu without CEDevice", {}, "ARM", 6, ": error: [CEDevice.ARM]: ", "names no [CEDevice.ARM] section"},
        {"unknown processor", {{"2577", "1234"}}, "", 0, ":11: warning: [CEDevice] ProcessorType: ",
         "1234 is in neither cabextract's list nor Microsoft's"},
        {"empty AppName", {{"\"Notes\"", "\"\""}}, "", 6, ":6: error: [CEStrings] AppName: ", "missing or empty"},
        {"AppName too long", {{"\"Notes\"", "\"" + std::string(41, 'n') + "\""}}, "", 6,
         ":6: error: [CEStrings] AppName: ", "longer than the 40 characters"},
        {"Provider too long", {{"\"Acme\"", "\"" + std::string(33, 'a') + "\""}}, "", 6,
         ":3: error: [Version] Provider: ", "longer than the 32 characters"},
        {"DWORD too big", {{"0x00010001,1", "0x00010001,0x100000000"}}, "", 6, ":27: error: [Reg] Count: ",
         "a DWORD value is one number of at most 32 bits"},
        {"version no number", {{"4.20", "four"}}, "", 6, ":12: error: [CEDevice] VersionMin: ", "\"four\" is no version"},
        {"too many files", {{"[Files.App]\nnotes.exe\n", ManyCopies()}}, "", 6, ": error: ",
         "999 files: a device cabinet numbers at most 998"},
        {"strings doubling", {{"\"Acme\"", "%S24%"}, {"[Strings]\n", Doubling()}}, "", 6, ":3: error: [Version] Provider: ",
         "grows past 65536 bytes"},
        {"strings nesting", {{"\"Acme\"", "%S0%"}, {"[Strings]\n", Nesting()}}, "", 6, ":3: error: [Version] Provider: ",
         "nests strings more than 32 deep"},
        {"a NUL byte", {{"Sub = ", std::string("Sub = \0", 7)}}, "", 6, ":9: error: ", "a NUL byte"},
        {"beyond code page 1252", {{"\"Notes\"", "\"Notes \xCE\xA9\""}}, "", 6, ":6: error: [CEStrings] AppName: ",
         "has a character that code page 1252"},
    };
    Write(Dir() / "src dir" / "notes.exe", "notes");
    fs::create_directories(Dir() / "src dir" / "adir");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string inf = FaultInf;
        for (const auto& [from, to] : row.edits) {
            size_t at = inf.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            inf.replace(at, from.size(), to);
        }
        Write(Dir() / "f.inf", inf);
        std::string cab = dir_.Join("f.cab"), text;
        fs::remove(NativePath(cab));
        std::string cpu = *row.cpu ? std::string(" --cpu ") + row.cpu : "";
        EXPECT_EQ(Cepack("cab" + cpu + " -o " + Q(cab) + " " + Q(dir_.Join("f.inf")), &text), row.status) << text;
        EXPECT_EQ(testutil::PathExists(cab), row.status == 0) << "errors write nothing";
        if (row.where.empty()) {
            EXPECT_EQ(text.find(": error: "), std::string::npos) << text;
            EXPECT_EQ(text.find(": warning: "), std::string::npos) << text;
            continue;
        }
        std::string line = cepacktest::Slashed(NativePath(dir_.Join("f.inf"))) + row.where;
        size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line << "\n" << text;
        EXPECT_NE(text.substr(at, text.find('\n', at) - at).find(row.says), std::string::npos) << text;
    }
}

// --show reads back what the .inf gave: each directory, file, kind of
// registry value and both kinds of shortcut, nothing more.
TEST_F(CepackCabTest, ShowListsWhatTheInformationFileGave) {
    Write(Dir() / "src" / "notes.exe", "program");
    Write(Dir() / "src" / "data" / "words.dat", "words");
    Write(Dir() / "rt.inf",
          "[Version]\nSignature=\"$Windows NT$\"\nProvider=Acme\nCESignature=\"$Windows CE$\"\n"
          "[CEStrings]\nAppName=Round Trip\nInstallDir=%CE1%\\%AppName%\n"
          "[DefaultInstall]\nCopyFiles=Files.Main,Files.Data\nAddReg=Reg\nCEShortcuts=Links\n"
          "[SourceDisksNames]\n1=,,,src\n2=,,,src\\data\n"
          "[SourceDisksFiles]\nnotes.exe=1\nwords.dat=2\n"
          "[DestinationDirs]\nFiles.Main=0,%InstallDir%\nFiles.Data=0,%InstallDir%\\Data\nLinks=0,%CE11%\n"
          "[Files.Main]\nnotes.exe\n[Files.Data]\nwords.dat\n"
          "[Reg]\n"
          "HKLM,Software\\Acme\\Round Trip,Home,0x00000000,%InstallDir%\\Data\n"
          "HKLM,Software\\Acme\\Round Trip,Count,0x00010003,42\n"
          "HKCU,Software\\Acme,Lines,0x00010000,one,two\n"
          "HKCU,Software\\Acme,Blob,0x00000001,01,ff,7A\n"
          "[Links]\nRound Trip,0,notes.exe\nData,1,Files.Data\n");
    std::string text;
    ASSERT_EQ(Cepack("cab -o " + Q(dir_.Join("rt.cab")) + " " + Q(dir_.Join("rt.inf")), &text), 0) << text;
    ASSERT_EQ(Cepack("cab --show " + Q(dir_.Join("rt.cab")), &text), 0) << text;
    const std::string items = text.substr(text.find("directory 1:"));
    EXPECT_EQ(cepacktest::Slashed(items), cepacktest::Slashed(
        "directory 1: %InstallDir%\n"
        "directory 2: %InstallDir%\\Data\n"
        "file 1: 000notes.001 -> %InstallDir%\\notes.exe\n"
        "file 2: 000words.002 -> %InstallDir%\\Data\\words.dat\n"
        "registry: HKLM\\Software\\Acme\\Round Trip \"Home\" = string \"%InstallDir%\\Data\" (substituted)\n"
        "registry: HKLM\\Software\\Acme\\Round Trip \"Count\" = dword 0x0000002A (42) (no-clobber)\n"
        "registry: HKCU\\Software\\Acme \"Lines\" = multi-string \"one\" \"two\"\n"
        "registry: HKCU\\Software\\Acme \"Blob\" = binary 01 FF 7A\n"
        "shortcut 1: %CE11%\\Round Trip -> file %InstallDir%\\notes.exe\n"
        "shortcut 2: %CE11%\\Data -> directory %InstallDir%\\Data\n"));
    EXPECT_NE(text.find("application: \"Round Trip\"\nprovider: \"Acme\"\n"), std::string::npos) << text;
}

// The sample's information file and its hand-made cabinet describe the
// same installation, line for line.
TEST_F(CepackCabTest, SampleInformationFileGivesTheSampleCabinet) {
    const std::string source = testutil::CorePath(std::string(CE_SOURCE_DIR) + "/examples");
    std::string made, fixture;
    ASSERT_EQ(Cepack("cab --cpu ARM -o " + Q(dir_.Join("sample.cab")) + " " + Q(source + "\\sample-cab\\samplenotes.inf"),
                     &made), 0) << made;
    ASSERT_EQ(Cepack("cab --show " + Q(dir_.Join("sample.cab")), &made), 0) << made;
    ASSERT_EQ(Cepack("cab --show " + Q(source + "\\sample\\samplenotes.arm.cab"), &fixture), 0) << fixture;
    EXPECT_EQ(made, fixture);
    EXPECT_NE(made.find("file 1: "), std::string::npos) << made;
}

// cepack.exe and the Linux build give the same bytes for the same .inf,
// stored and MSZIP.
TEST_F(CepackCabWholeTest, CepackExeGivesTheLinuxBuildsBytes) {
    if (!cepacktest::OnWindows()) GTEST_SKIP() << "compares cepack.exe (CEPACK_EXE) with the Linux build";
    const std::string epoch = "TZ=UTC SOURCE_DATE_EPOCH=1000000000 ";
    for (const char* compress : {"", " --compress"}) {
        SCOPED_TRACE(compress);
        std::string exe = dir_.Join("exe.cab"), linux = dir_.Join("linux.cab"), text;
        ASSERT_EQ(Cepack("cab" + std::string(compress) + " -o " + Q(exe) + " " + Q(dir_.Join("app.inf")), &text, epoch), 0)
            << text;
        ASSERT_EQ(testutil::Run(epoch + cepacktest::LinuxCepackCommand() + " cab" + compress + " -o " + Q(linux) + " " +
                                Q(dir_.Join("app.inf"))),
                  0);
        EXPECT_EQ(Read(NativePath(exe)), Read(NativePath(linux)));
    }
}

TEST(CabSetupFileTest, StringsBeyondTheFirst64KiBAreRefused) {
    cepack::CabApplication app;
    app.appName = "App";
    app.provider = "Acme";
    for (size_t fill = 0; fill < 2; ++fill) {
        // 100 + 4 + 5 bytes, then the platforms: ending at exactly 64 KiB is the most that fits.
        app.unsupported.assign(1, std::string(0x10000 - 109 - 2 + fill, 'P'));
        std::string bytes, error;
        EXPECT_EQ(cepack::BuildSetupFile(app, &bytes, &error), fill == 0) << fill;
        EXPECT_EQ(error.empty(), fill == 0) << error;
    }
}

}  // namespace
