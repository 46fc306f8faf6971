// cepack as package authors use it: its output checked by Python's zipfile
// and the launcher's walk, its refusals, messages and exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/archive_directory.h"
#include "launcher/extract_driver.h"
#include "launcher/extract_entry.h"
#include "tests/common/test_util.h"
#include "tests/host/cepack_command.h"
#include "tests/host/zip_fixtures.h"
#include "tools/cepack/host_paths.h"

using namespace ziptest;
using testutil::NativePath;
using testutil::ScratchDir;
using testutil::ShellQuote;

namespace {

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

// The launcher the top-level build made for bits ("win32", "win64"), seen
// from the host build or from the sanitizer build below it; "" where none is.
std::string ShippedStub(const std::string& bits) {
    for (const char* up : {"/", "/../"}) {
        std::string path = std::string(CE_BINARY_DIR) + up + bits + "/launcher/zipstub.exe";
        if (std::filesystem::exists(path)) return path;
    }
    return "";
}

class CepackTest : public ToolArchiveTest {
protected:
    // Runs cepack with the arguments (already quoted); stdout and stderr together.
    int Cepack(const std::string& args, std::string* output = nullptr) {
        int status = -1;
        std::string text = testutil::RunOutput(cepacktest::CepackCommand() + " " + args + " 2>&1", &status);
        if (output) *output = text;
        return status;
    }
    int Run(const std::string& command, std::string* output) {
        int status = -1;
        *output = testutil::RunOutput(command + " 2>&1", &status);
        return status;
    }
    // A bare archive unless the extra options name a stub.
    int Build(const std::string& output, const std::string& source, std::string* text = nullptr,
              const std::string& extra = "") {
        std::string stub = extra.find("--stub") == std::string::npos ? "--bare " : "";
        return Cepack("build -o " + Q(output) + " " + stub + extra + " " + Q(source), text);
    }
    // Builds from a tree of its own (behind a stub, or bare) and expects a
    // refusal naming the reason.
    void ExpectRefused(const std::map<std::string, std::string>& files, const std::string& reason,
                       bool stub = false) {
        ScratchDir input("in"), stubDir("stub");
        MakeTree(input.Path(), files);
        WriteBytes(stubDir.Join("zipstub.exe"), "MZ");
        std::string text, package = Out("refused.exe");
        EXPECT_EQ(Build(package, input.Path(), &text, stub ? "--stub " + Q(stubDir.Join("zipstub.exe")) : ""), 6)
            << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_FALSE(testutil::PathExists(package));
        EXPECT_EQ(testutil::ListFilesRecursive(work_.Path()), std::vector<std::string>{}) << "no temporary left";
    }
};

TEST_F(CepackTest, HelpAndUsage) {
    std::string text;
    EXPECT_EQ(Cepack("--help", &text), 0);
    for (const char* line : {"cepack build", "cepack verify", "cepack list", "cepack extract", "  0  success",
                             "extract: not a package", "extract: defective", "  6  build refused", "new's shared",
                             "new's folder", "new's\n     DIR exists"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(Cepack("new --help", &text), 0) << text;
    EXPECT_EQ(text.rfind("usage: cepack build", 0), 0u) << text;
    EXPECT_EQ(Cepack("--version", &text), 0);
    EXPECT_EQ(text.rfind("cepack ", 0), 0u) << text;
    EXPECT_EQ(Cepack("", &text), 1);
    EXPECT_EQ(Cepack("frobnicate", &text), 1);
    EXPECT_EQ(Cepack("extract onlyone", &text), 1);
    EXPECT_EQ(Cepack("build " + Q(source_.Path()), &text), 1) << "no -o";
}

TEST_F(CepackTest, BuildBehindAStubExtractsLikeZipfileAndTheWalk) {
    std::string stub = Out("zipstub.exe"), package = Out("Setup.exe");
    WriteBytes(stub, "MZ" + testutil::RandomBytes(30000, 21));
    std::string text;
    ASSERT_EQ(Build(package, source_.Path(), &text, "--stub " + Q(stub)), 0) << text;
    EXPECT_EQ(ReadBytes(package).substr(0, 30002), ReadBytes(stub));
    EXPECT_NE(text.find(": " + std::to_string(ReadBytes(package).size()) + " bytes, 5 files ("), std::string::npos)
        << text;

    ScratchDir theirs("theirs"), ours("ours"), cli("cli");
    ASSERT_TRUE(OracleExtract(package, theirs.Path()));
    EXPECT_TRUE(SameTree(source_.Path(), theirs.Path()));
    {
        testutil::CurrentDirectoryGuard engineMovesIt;
        ASSERT_EQ(ExtractAllEntries(package.c_str(), (ours.Path() + "\\").c_str(), 0, 0), WalkOk);
    }
    EXPECT_TRUE(SameTree(source_.Path(), ours.Path()));
    ASSERT_EQ(Cepack("extract " + Q(package) + " " + Q(cli.Path()), &text), 0) << text;
    EXPECT_TRUE(SameTree(source_.Path(), cli.Path()));

    // Sorted, offsets absolute in the whole file, DOS host attributes,
    // incompressible data stored and text deflated.
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(package, &walked), ArchiveOpen);
    std::vector<std::string> names;
    for (const ListedEntry& e : walked) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"data\\nested\\deep\\file.bin", "data\\one.txt", "empty.dat",
                                               "readme.txt", "setup.exe"}));
    EXPECT_EQ(walked[0].localHeaderOffset, 30002u);
    for (const ListedEntry& e : walked) EXPECT_EQ(e.attributes, 0x20) << e.name;
    EXPECT_EQ(walked[3].method, 8);
    EXPECT_EQ(walked[4].method, 0) << "random bytes don't shrink";
    EXPECT_EQ(walked[2].method, 0);
}

TEST_F(CepackTest, BuildIsReproducible) {
    std::string a = Out("a.zip"), b = Out("b.zip");
    ASSERT_EQ(Build(a, source_.Path()), 0);
    ASSERT_EQ(Build(b, source_.Path()), 0);
    EXPECT_EQ(ReadBytes(a), ReadBytes(b));
    // A bare archive reads as a plain ZIP, level-9 deflate included.
    EXPECT_EQ(Sh("unzip -tqq " + Q(a)), 0);
    // A package built into its own input is not packed into the next one.
    std::string inside = source_.Join("self.zip");
    ASSERT_EQ(Build(inside, source_.Path()), 0);
    ASSERT_EQ(Build(inside, source_.Path()), 0);
    EXPECT_EQ(ReadBytes(inside), ReadBytes(a));
    // Files of a fresh checkout carry its time: with SOURCE_DATE_EPOCH before
    // it, the package is the same whenever the files were written.
    const std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
    testutil::RemoveTree(inside);
    ASSERT_EQ(Sh("touch -d @1800000000 " + Q(source_.Join("readme.txt"))), 0);
    ASSERT_EQ(Sh(epoch + cepacktest::CepackCommand() + " build --bare -o " + Q(a) + " " + Q(source_.Path())), 0);
    ASSERT_EQ(Sh("touch -d @1900000000 " + Q(source_.Join("readme.txt"))), 0);
    ASSERT_EQ(Sh(epoch + cepacktest::CepackCommand() + " build --bare -o " + Q(b) + " " + Q(source_.Path())), 0);
    EXPECT_EQ(ReadBytes(a), ReadBytes(b));
}

// Installed as PREFIX/bin/cepack with the shipped programs in
// PREFIX/share/cepack: found from there, by build and by new.
TEST_F(CepackTest, InstalledTreeGivesTheStubAndTheInstaller) {
    ScratchDir prefix("prefix");
    std::string stub = "MZ stub " + testutil::RandomBytes(3000, 5), installer = testutil::Win32ProgramHeaders("installer");
    MakeTree(prefix.Path(), {{"share/cepack/zipstub.exe", stub}, {"share/cepack/install.exe", installer}});
    std::string cepack = cepacktest::InstallCepackCopy(prefix.Join("bin")), folder = Out("Notes"), text;
    ASSERT_EQ(Run(cepack + " new " + Q(folder) + " --title 'Sample Notes' --languages en,de,fr",
                                  &text), 0) << text;
    EXPECT_EQ(ReadBytes(folder + "\\install.exe"), installer);
    EXPECT_EQ(Run(cepack + " lint " + Q(folder), &text), 6) << text;
    EXPECT_NE(text.find("samplenotes.arm.cab: error: is cepack new's placeholder"), std::string::npos) << text;
    EXPECT_NE(Run(cepack + " new " + Q(folder) + " --title Again", &text), 0) << "never overwrites";
    // --cab puts the author's cabinet in, under its own name, and names it in the lists;
    // every language's texts lint clean.
    folder = Out("Notes2");
    ASSERT_EQ(Run(cepack + " new " + Q(folder) + " --title 'Other Notes' --languages en,de,fr,es,it,nl --cab " +
                      Q(std::string(CE_SOURCE_DIR) + "/examples/sample/samplenotes.arm.cab"),
                  &text),
              0)
        << text;
    EXPECT_EQ(Run(cepack + " lint " + Q(folder), &text), 0) << text;
    EXPECT_NE(ReadBytes(folder + "\\othernotes_de.ini").find("CabFiles=samplenotes.arm.cab"), std::string::npos);
    EXPECT_EQ(Run(cepack + " new " + Q(Out("Notes3")) + " --title X --cab " + Q(folder + "\\install.inf"), &text), 1)
        << text;

    // A copy kept from an earlier version is named; the folder still builds.
    WriteBytes(folder + "\\install.exe", testutil::Win32ProgramHeaders("older"));
    EXPECT_EQ(Run(cepack + " lint " + Q(folder), &text), 0) << text;
    EXPECT_NE(text.find("install.exe: warning: differs from the install.exe installed beside cepack"), std::string::npos)
        << text;

    // Without install.exe the shared one is packed; without --stub the shared stub leads.
    testutil::RemoveTree(folder + "\\install.exe");
    std::string package = Out("Notes.exe");
    ASSERT_EQ(Run(cepack + " build -o " + Q(package) + " " + Q(folder), &text), 0) << text;
    EXPECT_NE(text.find("adding the shared installer"), std::string::npos) << text;
    EXPECT_EQ(ReadBytes(package).substr(0, stub.size()), stub);
    ASSERT_EQ(Run(cepack + " list " + Q(package), &text), 0);
    EXPECT_NE(text.find("install.exe"), std::string::npos) << text;

    testutil::RemoveTree(prefix.Join("share"));
    EXPECT_EQ(Run(cepack + " build -o " + Q(package) + " " + Q(folder), &text), 2) << text;
    EXPECT_NE(text.find(cepacktest::ToolPath(prefix.Join("share\\cepack\\zipstub.exe"))), std::string::npos) << text;
}

// The README.txt of a new folder sends the author to a reference that the
// source tree really holds.
TEST_F(CepackTest, NewFolderReadmeNamesTheAuthorsReference) {
    ScratchDir prefix("prefix");
    MakeTree(prefix.Path(), {{"share/cepack/install.exe", "MZ installer"}});
    std::string cepack = cepacktest::InstallCepackCopy(prefix.Join("bin"));
    std::string folder = Out("Notes"), text;
    ASSERT_EQ(Run(cepack + " new " + Q(folder) + " --title 'Gr\xC3\xBCne Notes'", &text), 0) << text;
    EXPECT_TRUE(testutil::PathExists(folder + "\\grunenotes.ini")) << "letters beyond ASCII as their nearest";
    std::string readme = ReadBytes(folder + "\\README.txt");
    size_t extension = readme.find(".md");
    ASSERT_NE(extension, std::string::npos) << readme;
    size_t start = readme.find_last_of(" \r\n", extension) + 1;
    std::string reference = readme.substr(start, extension + 3 - start);
    std::filesystem::path source(CE_SOURCE_DIR);
    EXPECT_TRUE(std::filesystem::is_regular_file(source / "docs" / reference)) << reference;
}

// new --inf: the cabinets made as cab makes them, one per CPU, named in
// every list; the folder lints clean. An .inf fault writes nothing.
TEST_F(CepackTest, NewMakesTheCabinetsFromAnInformationFile) {
    ScratchDir prefix("prefix"), source("inf");
    MakeTree(prefix.Path(), {{"share/cepack/install.exe", testutil::Win32ProgramHeaders("installer")}});
    std::string inf = source.Join("App.inf");
    MakeTree(source.Path(),
             {{"App.inf", "[Version]\nSignature=\"$Windows NT$\"\nProvider=Acme\nCESignature=\"$Windows CE$\"\n"
                          "[CEStrings]\nAppName=\"Pocket App\"\nInstallDir=%CE1%\\%AppName%\n"
                          "[CEDevice]\n[CEDevice.ARM]\nProcessorType=2577\n[CEDevice.SH3]\nProcessorType=10003\n"
                          "[DefaultInstall]\nCopyFiles=Files\n[SourceDisksNames]\n1=,,,.\n"
                          "[SourceDisksFiles]\napp.exe=1\n[DestinationDirs]\nFiles=0,%InstallDir%\n[Files]\napp.exe\n"},
              {"app.exe", "MZ app"},
              {"Bad.inf", "[Version]\nSignature=\"$Windows NT$\"\n[DefaultInstall]\nCopyFiles=Missing\n"}});
    std::string cepack = cepacktest::InstallCepackCopy(prefix.Join("bin"));
    struct Row {
        std::string options;
        std::vector<std::pair<std::string, std::string>> cabs;  // name, --cpu of cab that makes the same bytes
        std::string title;
    };
    const Row rows[] = {
        {"--cpu ARM --cpu sh3", {{"app.arm.cab", " --cpu ARM"}, {"app.sh3.cab", " --cpu sh3"}}, "Pocket App"},
        {"", {{"app.cab", ""}}, "Pocket App"},
        {"--cpu ARM --title 'Other Notes'", {{"app.arm.cab", " --cpu ARM"}}, "Other Notes"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.options);
        std::string folder = Out("New" + std::to_string(i)), text;
        ASSERT_EQ(Run(cepack + " new " + Q(folder) + " --inf " + Q(inf) + " " + row.options, &text), 0) << text;
        std::string names, again = Out("again.cab");
        for (const auto& [name, cpu] : row.cabs) {
            names += (names.empty() ? "" : ",") + name;
            ASSERT_EQ(Run(cepack + " cab" + cpu + " -o " + Q(again) + " " + Q(inf), &text), 0) << text;
            EXPECT_EQ(ReadBytes(folder + "\\" + name), ReadBytes(again)) << name;
            EXPECT_NE(ReadBytes(folder + "\\README.txt").find("cepack cab -o " + name + cpu + " "), std::string::npos)
                << ReadBytes(folder + "\\README.txt");
        }
        std::string stem = row.title == "Pocket App" ? "pocketapp" : "othernotes";
        std::string ini = ReadBytes(folder + "\\" + stem + ".ini");
        EXPECT_NE(ini.find("Component=" + row.title + "\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("CabFiles=" + names + "\r\n"), std::string::npos) << ini;
        EXPECT_EQ(Run(cepack + " lint " + Q(folder), &text), 0) << text;
    }

    // Refused, and nothing made: the findings are those cab prints.
    std::string cabSays;
    EXPECT_EQ(Run(cepack + " cab -o " + Q(Out("bad.cab")) + " " + Q(source.Join("Bad.inf")), &cabSays), 6);
    struct Refusal {
        std::string options;
        int status;
        std::string says;
    };
    const Refusal refusals[] = {
        {"--inf " + Q(source.Join("Bad.inf")), 6, cabSays},
        {"--inf " + Q(inf) + " --cpu ARM --cpu MIPS", 6, "[CEDevice.MIPS]"},
        {"--inf " + Q(inf) + " --cpu ARM --cpu arm", 1, "given twice"},
        {"--inf " + Q(inf) + " --cpu ../x", 1, "--cpu takes a tag"},
        {"--inf " + Q(inf) + " --cab " + Q(Out("New0") + "\\app.arm.cab"), 1, "give one of them"},
        {"--title X --cpu ARM", 1, "--cpu goes with --inf"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.options);
        std::string text, folder = Out("Refused");
        EXPECT_EQ(Run(cepack + " new " + Q(folder) + " " + r.options, &text), r.status) << text;
        EXPECT_NE(text.find(r.says), std::string::npos) << text;
        EXPECT_FALSE(testutil::PathExists(folder)) << "nothing written";
    }
}

TEST_F(CepackTest, BuildRefusesWhatTheLauncherCannotExtract) {
    ExpectRefused({{std::string(120, 'd') + "/" + std::string(80, 'f'), "x"}}, "exceeds 259");
    ExpectRefused({{std::string(200, 'd') + "/" + std::string(70, 'f'), "x"}}, "at most 259");
    // "\xC3\xA9" (e acute) may take 2 bytes, and CJK characters take 3 in UTF-8.
    ExpectRefused({{Repeat("\xC3\xA9", 100), "x"}}, "200 bytes in its longest ANSI form");
    ExpectRefused({{Repeat("\xE6\x97\xA5", 45) + "/" + Repeat("\xE6\x97\xA5", 45), "x"}}, "271 UTF-8 bytes");
    ExpectRefused({{"Read.me", "x"}, {"read.ME", "y"}}, "read.ME: error: differs only in case from Read.me");
    ExpectRefused({{"Data", "x"}, {"data/file", "y"}}, "Data: error: differs only in case from the directory data");
    // Names only a POSIX file system holds: Windows has no such files (a
    // name there is UTF-16, and CON is the console itself).
    if (!cepacktest::OnWindows()) {
        ExpectRefused({{"\xFF.txt", "x"}}, "not valid UTF-8");
        ExpectRefused({{"con.txt", "x"}}, "device");
        ExpectRefused({{"a:b", "x"}}, "does not allow");
        ExpectRefused({{"back\\slash", "x"}}, "does not allow");
        ExpectRefused({{"dot.", "x"}}, "dot or space");
    }
    ExpectRefused({{"a", ""}, {"b/c", ""}}, "all empty");
    // Behind a stub: nothing for the launcher to start, or a setup file with errors.
    ExpectRefused({{"readme.txt", "x"}}, "the launcher would find nothing to start", true);
    ExpectRefused({{"install.inf", "[Destination]\nDir=T\n[install]\n1=t.ini\n"}, {"install.exe", "MZ"}},
                  "install.inf:4: error: [install] 1: \"t.ini\" is not in the package folder", true);
}

TEST_F(CepackTest, BuildLeavesOutVersionControlLeftoversAndEarlierPackages) {
    std::string stub = Out("stub.exe"), earlier = Out("earlier.exe"), vendor = Out("vendor.exe"), text;
    WriteBytes(stub, "MZ stub");
    ASSERT_EQ(Build(earlier, source_.Path(), &text, "--stub " + Q(stub)), 0) << text;
    // A vendor's own self-extractor: a program with a ZIP that holds nothing the launcher starts.
    WriteBytes(vendor, "MZ stub");
    PythonZip(vendor, "z.writestr('driver.sys', 'driver')");
    ScratchDir input("in");
    MakeTree(input.Path(), {{"readme.txt", "x"}, {".git/config", "x"}, {"sub/.SVN/entries", "x"}, {".hg/store", "x"},
                            {"CVS/Root", "x"}, {"notes.txt~", "x"}, {".notes.txt.swp", "x"}, {"old.BAK", "x"},
                            {"#draft#", "x"}, {"pics/THUMBS.DB", "x"}, {"Desktop.ini", "x"}, {".DS_Store", "x"},
                            {"old/Earlier.EXE", ReadBytes(earlier)}, {"tool.exe", ReadBytes(vendor)},
                            {"drivers/sfx.exe", ReadBytes(vendor)}});
    ASSERT_EQ(Build(Out("p.zip"), input.Path(), &text), 0) << text;
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(Out("p.zip"), &walked), ArchiveOpen);
    std::vector<std::string> names;
    for (const ListedEntry& e : walked) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"drivers\\sfx.exe", "readme.txt", "tool.exe"}));
    for (const char* note : {"note: .git: version-control folder, left out", "sub/.SVN: version-control folder",
                             "pics/THUMBS.DB: editor or system leftover", "old/Earlier.EXE: an earlier package"}) {
        EXPECT_NE(text.find(note), std::string::npos) << note << "\n" << text;
    }
    // At the top the launcher would start it (or the customer get it): refused, --no-lint or not.
    WriteBytes(input.Join("Setup.exe"), ReadBytes(earlier));
    for (const char* option : {"", "--no-lint"}) {
        EXPECT_EQ(Build(Out("p.zip"), input.Path(), &text, option), 6) << text;
        EXPECT_NE(text.find("Setup.exe: error: is an earlier package"), std::string::npos) << text;
    }
}

TEST_F(CepackTest, BuildTakesLinksToFilesUnderTheirOwnNames) {
    if (cepacktest::OnWindows()) GTEST_SKIP() << "Unix symbolic links: Wine shows them to Windows programs as the files they name";
    ScratchDir elsewhere("else");
    WriteBytes(elsewhere.Join("target.txt"), "linked content");
    ASSERT_EQ(Sh("ln -s " + Q(elsewhere.Join("target.txt")) + " " + Q(source_.Join("data\\link.txt")) + " && ln -s " +
                 Q(elsewhere.Path()) + " " + Q(source_.Join("dirlink"))),
              0);
    std::string p = Out("p.zip"), text;
    ASSERT_EQ(Build(p, source_.Path(), &text), 0) << text;
    EXPECT_NE(text.find("dirlink: link to a directory, not followed"), std::string::npos) << text;
    EXPECT_NE(text.find("data/link.txt: link to a file outside the folder (" +
                        NativePath(elsewhere.Join("target.txt")) + "), packed as that file"),
              std::string::npos)
        << text;
    ScratchDir theirs("theirs");
    ASSERT_TRUE(OracleExtract(p, theirs.Path()));
    EXPECT_EQ(ReadBytes(theirs.Join("data\\link.txt")), "linked content");
    EXPECT_FALSE(testutil::PathExists(theirs.Join("dirlink")));
}

TEST_F(CepackTest, BuildRefusesSizesBeyondTheLauncher) {
    ScratchDir input("in");
    WriteBytes(input.Join("small.txt"), "x");
    std::string text, package = Out("p.exe");
    ASSERT_EQ(Sh("truncate -s 4G " + Q(input.Join("huge.bin"))), 0);  // sparse, never read
    EXPECT_EQ(Build(package, input.Path(), &text), 6);
    EXPECT_NE(text.find("huge.bin: 4 GiB or larger"), std::string::npos) << text;
    ASSERT_EQ(Sh("truncate -s 2G " + Q(input.Join("huge.bin"))), 0);
    EXPECT_EQ(Build(package, input.Path(), &text), 6);
    EXPECT_NE(text.find("add up to 2 GiB"), std::string::npos) << text;
    EXPECT_FALSE(testutil::PathExists(package));
}

TEST_F(CepackTest, BuildRefusesMoreEntriesThanTheDirectoryCounts) {
    // 65536 files are made much faster in memory where there is a tmpfs.
    std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    if (testutil::PathExists("\\dev\\shm")) setenv("TMPDIR", "/dev/shm", 1);
    ScratchDir input("in");
    if (saved.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", saved.c_str(), 1);
    ASSERT_EQ(Sh("cd " + Q(input.Path()) + " && python3 -c \"import os\nfor d in range(64):\n os.mkdir(str(d))\n"
                 " for k in range(1024): open(f'{d}/{k}', 'w').write('x')\""),
              0);
    std::string text;
    EXPECT_EQ(Build(Out("p.exe"), input.Path(), &text), 6);
    EXPECT_NE(text.find("65536 files: a package holds at most 65535"), std::string::npos) << text;
}

TEST_F(CepackTest, BuildFailuresLeaveNothingBehind) {
    std::string text;
    EXPECT_EQ(Build(Out("p.exe"), Out("no-such-dir"), &text), 2);
    EXPECT_NE(text.find("no such directory"), std::string::npos) << text;
    EXPECT_EQ(Build(Out("p.exe"), source_.Path(), &text, "--stub " + Q(Out("missing.exe"))), 2);
    EXPECT_NE(text.find("stub not found"), std::string::npos) << text;
    EXPECT_EQ(Build(Out("missing\\p.exe"), source_.Path(), &text), 5);
    EXPECT_TRUE(testutil::ListFilesRecursive(work_.Path()).empty());
    // An earlier package in the same place stays as it was.
    WriteBytes(Out("p.exe"), "earlier package");
    EXPECT_EQ(Build(Out("p.exe"), Out("no-such-dir"), &text), 2);
    EXPECT_EQ(ReadBytes(Out("p.exe")), "earlier package");
}

// Rebuilding over a package replaces it whole; Ctrl+C while a new one is
// written (the tool held just before its rename) leaves the earlier one as
// it was, and no temporary file.
TEST_F(CepackTest, RebuildReplacesThePackageAndCtrlCLeavesTheEarlierOne) {
    std::string p = Out("p.exe"), text;
    ASSERT_EQ(Build(p, source_.Path(), &text), 0) << text;
    WriteBytes(source_.Join("readme.txt"), "changed");
    ASSERT_EQ(Build(p, source_.Path(), &text), 0) << text;
    ScratchDir theirs("theirs"), side("side");
    ASSERT_TRUE(OracleExtract(p, theirs.Path()));
    EXPECT_EQ(ReadBytes(theirs.Join("readme.txt")), "changed");
    std::string earlier = ReadBytes(p);

    WriteBytes(source_.Join("readme.txt"), "interrupted");
    std::string hold = Q(side.Join("holding"));
    // A job of its own (set -m: a process group, and SIGINT not ignored as
    // in a background job), so that the interrupt reaches the tool (with
    // Wine's loader) alone, once it holds; the wait only bounds a hang.
    std::string script = "set -m\nCEPACK_TEST_HOLD_FILE=" + hold + " " + cepacktest::CepackCommand() +
                         " build --bare -o " + Q(p) + " " + Q(source_.Path()) + " >/dev/null 2>&1 & pid=$!\n"
                         "i=0; while [ ! -e " + hold + " ] && [ $i -lt 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
                         "[ -e " + hold + " ] || { kill -s KILL -- -$pid; echo never held; exit 1; }\n"
                         "kill -s INT -- -$pid; wait $pid; echo ended $?";
    ASSERT_EQ(Run("bash -c " + ShellQuote(script), &text), 0) << text;
    // Uninterrupted, the tool would rename the new package into place.
    EXPECT_NE(text.find("ended "), std::string::npos) << text;
    EXPECT_TRUE(ReadBytes(p) == earlier) << "the earlier package was replaced";
    EXPECT_EQ(testutil::ListFilesRecursive(work_.Path()), std::vector<std::string>{"p.exe"}) << "no temporary left";
}

TEST_F(CepackTest, ListShowsEveryEntryAndATotal) {
    std::string package = Out("p.zip"), text;
    ASSERT_EQ(Build(package, source_.Path()), 0);
    ASSERT_EQ(Cepack("list " + Q(package), &text), 0) << text;
    EXPECT_NE(text.find("data/nested/deep/file.bin"), std::string::npos) << text;
    EXPECT_NE(text.find("70000       70000  stored"), std::string::npos) << text;
    EXPECT_NE(text.find("deflated"), std::string::npos) << text;
    EXPECT_NE(text.find("5 entries"), std::string::npos) << text;
}

TEST_F(CepackTest, MessagesForMissingForeignAndDefectivePackages) {
    std::string text, p = Out("p.exe");
    for (const char* command : {"list", "verify", "extract"}) {
        SCOPED_TRACE(command);
        std::string tail = std::string(command) == "extract" ? " " + Q(Out("dest")) : "";
        testutil::RemoveTree(p);
        EXPECT_EQ(Cepack(std::string(command) + " " + Q(p) + tail, &text), 2);
        EXPECT_NE(text.find("no such file"), std::string::npos) << text;

        WriteBytes(p, testutil::RandomBytes(10000, 3));
        EXPECT_EQ(Cepack(std::string(command) + " " + Q(p) + tail, &text), 3);
        EXPECT_NE(text.find("not a package"), std::string::npos) << text;

        // A bare stub: its reader's signature table holds an end record's first bytes, as in zipstub.exe.
        const std::string table(
            "PK\x05\x06\x03\x00\x01\x02\x03\x00\x00\x00\x00\x00\x00\x80\x00\x00\x00\x40\x00\x00", 22);
        const std::string stub = "MZ" + testutil::RandomBytes(5000, 4) + table + testutil::RandomBytes(5000, 5);
        WriteBytes(p, stub);
        EXPECT_EQ(Cepack(std::string(command) + " " + Q(p) + tail, &text), 3);
        EXPECT_NE(text.find("not a package"), std::string::npos) << text;

        // A download cut short before the directory: the stub and the first entries.
        WriteBytes(Out("stub.exe"), stub);
        ASSERT_EQ(Build(p, source_.Path(), nullptr, "--stub " + Q(Out("stub.exe"))), 0);
        WriteBytes(p, ReadBytes(p).substr(0, stub.size() + 3000));
        EXPECT_EQ(Cepack(std::string(command) + " " + Q(p) + tail, &text), 4);
        EXPECT_NE(text.find(": damaged: cut short"), std::string::npos) << text;

        // A download cut short inside the data still ends in an end record
        // here, but the directory it points to is gone.
        ASSERT_EQ(Build(p, source_.Path()), 0);
        std::string bytes = ReadBytes(p);
        std::string end = bytes.substr(bytes.size() - 22);
        WriteBytes(p, bytes.substr(0, 40000) + end);
        EXPECT_EQ(Cepack(std::string(command) + " " + Q(p) + tail, &text), 4);
        EXPECT_NE(text.find("defective package"), std::string::npos) << text;
    }
    EXPECT_TRUE(testutil::ListFilesRecursive(Out("dest")).empty());
}

TEST_F(CepackTest, VerifyPassesAGoodPackageAndCatchesAFlippedByte) {
    std::string p = Out("p.exe"), text;
    ASSERT_EQ(Build(p, source_.Path()), 0);
    ASSERT_EQ(Cepack("verify " + Q(p), &text), 0) << text;
    EXPECT_NE(text.find("readme.txt: ok"), std::string::npos) << text;
    EXPECT_NE(text.find("ok, 5 entries"), std::string::npos) << text;

    std::string bytes = ReadBytes(p);
    size_t readme = bytes.find("readme.txt");
    bytes[readme + 10 + 200] ^= 0x20;  // inside readme.txt's deflated data
    WriteBytes(p, bytes);
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 4) << text;
    EXPECT_EQ(text.find("readme.txt: ok"), std::string::npos) << text;
    EXPECT_NE(text.find("setup.exe: ok"), std::string::npos) << "verify goes on after a failure:\n" << text;
    EXPECT_NE(text.find("1 of 5 checks failed"), std::string::npos) << text;
    EXPECT_EQ(Cepack("extract " + Q(p) + " " + Q(Out("dest")), &text), 4) << text;
}

// Signed by osslsigncode behind wine's own PE32 and PE32+ programs as stubs:
// a leaf certificate issued by a CA whose certificate comes first in the
// set, then a nested signature of another signer. Verify names both and
// still checks the payload; a certificate table cut short is a warning only.
TEST_F(CepackTest, VerifyNamesTheSignersOfASignedPackage) {
    if (!testutil::HaveProgram("osslsigncode") || !testutil::HaveProgram("openssl")) {
        GTEST_SKIP() << "osslsigncode or openssl missing (scripts/setup.sh installs them)";
    }
    std::vector<std::string> stubs;
    for (const char* bits : {"win32", "win64"}) {
        std::string stub = ShippedStub(bits);
        if (!stub.empty()) stubs.push_back(stub);
    }
    if (stubs.empty()) GTEST_SKIP() << "no launcher built to sign (the top-level build makes them)";
    auto openssl = [&](const std::string& args) {
        ASSERT_EQ(Sh("openssl " + args + " >/dev/null 2>&1"), 0) << args;
    };
    // A larger key for the leaf, so that the DER set puts the CA first.
    openssl("req -x509 -newkey rsa:2048 -nodes -keyout " + Q(Out("ca.key")) + " -out " + Q(Out("ca.pem")) +
            " -days 2 -subj '/CN=Test Root CA'");
    openssl("req -newkey rsa:3072 -nodes -keyout " + Q(Out("leaf.key")) + " -out " + Q(Out("leaf.csr")) +
            " -subj '/O=Vendor/CN=Vendor Software Ltd'");
    openssl("x509 -req -in " + Q(Out("leaf.csr")) + " -CA " + Q(Out("ca.pem")) + " -CAkey " + Q(Out("ca.key")) +
            " -set_serial 7 -days 2 -out " + Q(Out("leaf.pem")));
    openssl("req -x509 -newkey rsa:2048 -nodes -keyout " + Q(Out("second.key")) + " -out " + Q(Out("second.pem")) +
            " -days 2 -subj '/CN=Second Signer'");
    ASSERT_EQ(Sh("cat " + Q(Out("ca.pem")) + " " + Q(Out("leaf.pem")) + " > " + Q(Out("chain.pem"))), 0);
    const std::string sign = "osslsigncode sign -n 'My Product' -i https://example.com/product ";

    for (const std::string& stub : stubs) {
        SCOPED_TRACE(stub);
        std::string bits = stub.find("win64") == std::string::npos ? "32" : "64";
        std::string p = Out("p" + bits + ".exe"), signed_ = Out("signed" + bits + ".exe"), text;
        std::string nested = Out("nested" + bits + ".exe");
        ASSERT_EQ(Build(p, source_.Path(), &text, "--stub " + Q(stub)), 0) << text;
        ASSERT_EQ(Cepack("verify " + Q(p), &text), 0) << text;
        EXPECT_NE(text.find("\nsignature: not signed\n"), std::string::npos) << text;

        ASSERT_EQ(Sh(sign + "-certs " + Q(Out("chain.pem")) + " -key " + Q(Out("leaf.key")) + " -in " + Q(p) +
                     " -out " + Q(signed_) + " >/dev/null"),
                  0);
        ASSERT_EQ(Sh("osslsigncode extract-signature -in " + Q(signed_) + " -out " + Q(Out("sig" + bits + ".der")) + " >/dev/null"),
                  0);
        std::string certs;
        ASSERT_EQ(Run("openssl pkcs7 -inform DER -in " + Q(Out("sig" + bits + ".der")) + " -print_certs -noout", &certs), 0);
        ASSERT_LT(certs.find("Test Root CA"), certs.find("Vendor Software Ltd")) << "the signer is not first:\n"
                                                                                  << certs;
        ASSERT_EQ(Sh(sign + "-nest -h sha256 -certs " + Q(Out("second.pem")) + " -key " + Q(Out("second.key")) +
                     " -in " + Q(signed_) + " -out " + Q(nested) + " >/dev/null"),
                  0);
        ASSERT_EQ(Cepack("verify " + Q(nested), &text), 0) << text;
        EXPECT_NE(text.find("\nsignature: signed by \"Vendor Software Ltd\" (not checked for trust)\n"
                            "nested signature: signed by \"Second Signer\" (not checked for trust)\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("ok, 5 entries"), std::string::npos) << text;

        std::string bytes = ReadBytes(nested);
        WriteBytes(nested, bytes.substr(0, bytes.size() - 100));
        ASSERT_EQ(Cepack("verify " + Q(nested), &text), 0) << text;
        EXPECT_NE(text.find("signature: warning: the certificate table ("), std::string::npos) << text;
        EXPECT_NE(text.find("runs past the end of the file"), std::string::npos) << text;
        EXPECT_NE(text.find("ok, 5 entries"), std::string::npos) << text;
    }
}

// Python's zipfile on a pipe stores entries with flag bit 3 and CRC and sizes
// 0 in the local header: the sizes are only in the descriptor and directory.
TEST_F(CepackTest, StoredEntriesWhoseLocalHeaderDefersTheSize) {
    std::string p = Out("piped.zip"), text;
    ASSERT_EQ(Sh("python3 -c \"import sys, zipfile\n"
                 "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_STORED) as z:\n"
                 " z.writestr('data.bin', bytes(range(256)) * 20)\n z.writestr('readme.txt', 'streamed')\" | cat > " +
                 Q(p)),
              0);
    std::string bytes = ReadBytes(p);
    ASSERT_EQ(bytes[6] & 8, 8);
    ASSERT_EQ(Le32At(bytes, 18), 0u);
    ASSERT_EQ(Cepack("verify " + Q(p), &text), 0) << text;
    EXPECT_EQ(Cepack("extract " + Q(p) + " " + Q(Out("dest")), &text), 0) << text;
    EXPECT_EQ(ReadBytes(Out("dest") + "\\readme.txt"), "streamed");

    bytes[30 + 8 + 1000] ^= 1;  // a data byte of data.bin
    WriteBytes(p, bytes);
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 4) << text;
    EXPECT_NE(text.find("data.bin: CRC mismatch"), std::string::npos) << text;
}

TEST_F(CepackTest, VerifyNamesEntriesTheLauncherWouldRefuse) {
    std::string p = Out("evil.zip"), text;
    PythonZip(p, "z.writestr('good.txt', 'good')\nz.writestr('../escape.txt', 'bad')");
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 4) << text;
    EXPECT_NE(text.find("../escape.txt: name leaves the destination"), std::string::npos) << text;
    EXPECT_FALSE(testutil::PathExists(work_.Join("..\\escape.txt")));
}

TEST_F(CepackTest, VerifyNoticesAWalkThatEndsEarly) {
    // A walk that breaks off at a damaged header, or starts at a later header
    // than the first, is refused as the launcher refuses it.
    std::string p = Out("p.zip"), text;
    ASSERT_EQ(Build(p, source_.Path()), 0);
    std::string good = ReadBytes(p), bytes = good;
    bytes[FindSignature(bytes, 1, 2, 2) + 2] = 9;
    WriteBytes(p, bytes);
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 4) << text;
    EXPECT_NE(text.find("breaks off at a damaged header"), std::string::npos) << text;
    bytes = good;
    size_t end = FindSignature(bytes, 5, 6), second = FindSignature(bytes, 1, 2, 1);
    PutLe32(&bytes, end + 16, static_cast<uint32_t>(second));
    WriteBytes(p, bytes);
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 4) << text;
    EXPECT_NE(text.find("disagrees with the end record's entry count"), std::string::npos) << text;
}

TEST_F(CepackTest, ExtractReportsAWriteError) {
    std::string p = Out("p.zip"), text;
    ASSERT_EQ(Build(p, source_.Path()), 0);
    ScratchDir dest("dest");
    WriteBytes(dest.Join("data"), "in the way");
    EXPECT_EQ(Cepack("extract " + Q(p) + " " + Q(dest.Path()), &text), 5) << text;
    EXPECT_NE(text.find("write error"), std::string::npos) << text;
}

TEST_F(CepackTest, NamesBeyondAsciiGoInAsFlaggedUtf8) {
    const std::string cafe = "caf\xC3\xA9.txt", kanji = "\xE6\xBC\xA2\xE5\xAD\x97", smile = "\xF0\x9F\x98\x80.txt";
    ScratchDir input("in"), theirs("theirs"), cli("cli");
    MakeTree(input.Path(), {{cafe, "x"}, {kanji + "/" + smile, "y"}, {"plain.txt", "z"}});
    std::string p = Out("u.zip"), text;
    ASSERT_EQ(Build(p, input.Path(), &text), 0) << text;
    // zipfile decodes the local header's name by its own flag and refuses one that differs from the central.
    ASSERT_TRUE(OracleExtract(p, theirs.Path()));
    EXPECT_TRUE(SameTree(input.Path(), theirs.Path()));
    std::vector<ListedEntry> oracle = OracleListing(p);
    ASSERT_EQ(oracle.size(), 3u);
    EXPECT_EQ(oracle[0].flags & 0x0800, 0x0800) << oracle[0].name;
    EXPECT_EQ(oracle[1].flags & 0x0800, 0) << "plain ASCII stays unflagged";
    EXPECT_EQ(oracle[2].flags & 0x0800, 0x0800) << oracle[2].name;

    ASSERT_EQ(Cepack("list " + Q(p), &text), 0) << text;
    EXPECT_NE(text.find(kanji + "/" + smile + "\n"), std::string::npos) << text;
    EXPECT_EQ(Cepack("verify " + Q(p), &text), 0) << text;
    ASSERT_EQ(Cepack("extract " + Q(p) + " " + Q(cli.Path()), &text), 0) << text;
    EXPECT_TRUE(SameTree(input.Path(), cli.Path()));
}

// A folder, and the package in it, deeper than MAX_PATH: on Windows the C
// runtime's directory listing stops short of it (and read some other
// folder); the engine's file layer holds 259 characters on both.
TEST_F(CepackTest, AFolderBeyondMaxPathIsMadeLintedBuiltAndVerified) {
    ScratchDir prefix("prefix");
    MakeTree(prefix.Path(), {{"share/cepack/zipstub.exe", "MZ stub " + testutil::RandomBytes(3000, 7)},
                             {"share/cepack/install.exe", testutil::Win32ProgramHeaders("installer")}});
    std::string cepack = cepacktest::InstallCepackCopy(prefix.Join("bin")), text;
    std::string folder = Out(Repeat("d", 90) + "\\" + Repeat("e", 90) + "\\" + Repeat("f", 90) + "\\Deep");
    std::string cab = testutil::CorePath(std::string(CE_SOURCE_DIR) + "/examples/sample/samplenotes.arm.cab");
    ASSERT_EQ(Run(cepack + " new " + Q(folder) + " --title Deep --cab " + Q(cab), &text), 0) << text;
    EXPECT_EQ(Run(cepack + " lint " + Q(folder), &text), 0) << text;
    EXPECT_NE(text.find(": 0 errors"), std::string::npos) << text;
    std::string package = folder + "\\Deep.exe";
    ASSERT_EQ(Run(cepack + " build -o " + Q(package) + " " + Q(folder), &text), 0) << text;
    std::string first = ReadBytes(package);
    // Built again over itself: the earlier package inside is known and left out.
    ASSERT_EQ(Run(cepack + " build -o " + Q(package) + " " + Q(folder), &text), 0) << text;
    EXPECT_NE(text.find("Deep.exe: the package this build replaces, left out"), std::string::npos) << text;
    EXPECT_EQ(ReadBytes(package), first);
    EXPECT_EQ(Run(cepack + " verify " + Q(package), &text), 0) << text;
    EXPECT_NE(text.find("ok, 5 entries"), std::string::npos) << text;
}

// What only Windows has: drive letters and "\\", a folder named with spaces
// and letters beyond ASCII, another drive's current directory, and the
// same bytes as the Linux build from the same folder.
class CepackWindowsTest : public CepackTest {
protected:
    void SetUp() override {
        if (!cepacktest::OnWindows()) GTEST_SKIP() << "cases of cepack.exe";
        CepackTest::SetUp();
    }
    // A core path as a Windows user types it, on Wine's drive for the Unix root.
    static std::string W(const std::string& corePath) { return ShellQuote("Z:" + corePath); }
};

TEST_F(CepackWindowsTest, DriveLettersBackslashesSpacesAndLettersBeyondAscii) {
    ScratchDir home("home"), prefix("prefix");
    MakeTree(prefix.Path(), {{"share/cepack/zipstub.exe", "MZ stub " + testutil::RandomBytes(3000, 7)},
                             {"share/cepack/install.exe", testutil::Win32ProgramHeaders("installer")}});
    std::string cepack = cepacktest::InstallCepackCopy(prefix.Join("bin"));
    // "J\u00fcrgen" is in every Western code page, "\u03a9" in none of them.
    std::string user = home.Join("J\xC3\xBCrgen"), folder = user + "\\Documents\\My Package \xCE\xA9";
    std::string cab = testutil::CorePath(std::string(CE_SOURCE_DIR) + "/examples/sample/samplenotes.arm.cab"), text;
    ASSERT_EQ(Run(cepack + " new " + W(folder) + " --title 'Sample Notes' --cab " + W(cab), &text), 0) << text;
    EXPECT_EQ(Run(cepack + " lint " + W(folder), &text), 0) << text;
    EXPECT_NE(text.find("Z:" + folder + ": 0 errors"), std::string::npos) << text;
    std::string package = user + "\\Documents\\Sample Notes.exe";
    ASSERT_EQ(Run(cepack + " build -o " + W(package) + " " + W(folder), &text), 0) << text;
    EXPECT_NE(text.find("cepack: wrote Z:" + package + ": "), std::string::npos) << text;
    EXPECT_EQ(Run(cepack + " verify " + W(package), &text), 0) << text;
    ASSERT_EQ(Run(cepack + " list " + W(package), &text), 0) << text;
    EXPECT_NE(text.find("install.exe"), std::string::npos) << text;
    ASSERT_EQ(Run(cepack + " extract " + W(package) + " " + W(user + "\\Ausgabe"), &text), 0) << text;
    EXPECT_TRUE(SameTree(folder, user + "\\Ausgabe"));
}

TEST_F(CepackWindowsTest, APackageRelativeToAnotherDrivesCurrentDirectory) {
    ScratchDir drive("drive"), batch("batch");
    std::string text;
    std::filesystem::create_directory(NativePath(drive.Join("sub")));
    ASSERT_EQ(Build(drive.Join("sub\\p.exe"), source_.Path(), &text), 0) << text;
    // Drive Y: of the prefix is this scratch directory; cmd keeps each
    // drive's current directory, against which "Y:p.exe" is resolved.
    std::filesystem::path letter = std::filesystem::path(std::getenv("WINEPREFIX")) / "dosdevices" / "y:";
    std::filesystem::remove(letter);
    std::filesystem::create_directory_symlink(NativePath(drive.Path()), letter);
    std::string exe = "\"Z:" + testutil::CorePath(std::getenv("CEPACK_EXE")) + "\"";
    WriteBytes(batch.Join("run.bat"), "@echo off\r\ncd /d Y:\\sub\r\nZ:\r\n" + exe + " list Y:p.exe\r\n"
                                      "if errorlevel 1 exit /b 1\r\n" + exe + " extract Y:p.exe Y:out\r\n");
    int status = Run(std::string(std::getenv("CEPACK_RUNNER")) + " cmd /c " + W(batch.Join("run.bat")), &text);
    std::filesystem::remove(letter);
    ASSERT_EQ(status, 0) << text;
    EXPECT_NE(text.find("5 entries"), std::string::npos) << text;
    EXPECT_NE(text.find("extracted Y:p.exe into Y:out"), std::string::npos) << text;
    EXPECT_TRUE(SameTree(source_.Path(), drive.Join("sub\\out")));
}

// A folder as PowerShell's completion gives it, ".\src\", and a drive's
// root, "Y:\": the same package as from the plain path. The tool walks
// "\\?\" paths, which the system takes as they stand: a doubled separator
// there names nothing.
TEST_F(CepackWindowsTest, AFolderWithATrailingBackslashAndADrivesRoot) {
    std::string text, plain = Out("plain.zip"), dotted = Out("dotted.zip"), root = Out("root.zip");
    ASSERT_EQ(Build(plain, source_.Path(), &text), 0) << text;
    std::filesystem::path source(NativePath(source_.Path()));
    ASSERT_EQ(Run("cd " + ShellQuote(source.parent_path().string()) + " && " + cepacktest::CepackCommand() +
                      " build --bare -o " + Q(dotted) + " " + ShellQuote(".\\" + source.filename().string() + "\\"),
                  &text),
              0)
        << text;
    EXPECT_TRUE(ReadBytes(dotted) == ReadBytes(plain));
    std::filesystem::path letter = std::filesystem::path(std::getenv("WINEPREFIX")) / "dosdevices" / "y:";
    std::filesystem::remove(letter);
    std::filesystem::create_directory_symlink(source, letter);
    int status = Cepack("build --bare -o " + Q(root) + " 'Y:\\'", &text);
    std::filesystem::remove(letter);
    ASSERT_EQ(status, 0) << text;
    EXPECT_TRUE(ReadBytes(root) == ReadBytes(plain));
}

// An earlier package, read-only, held open without delete sharing (an
// antivirus scan, Explorer's preview): the build fails, after its few
// seconds of retries, with the system's reason and leaves the package as it
// was; once it is let go, the build replaces it.
TEST_F(CepackWindowsTest, AHeldReadOnlyPackageIsReplacedOnceLetGo) {
    ScratchDir side("side");
    std::string p = Out("p.exe"), text;
    ASSERT_EQ(Build(p, source_.Path(), &text), 0) << text;
    std::string earlier = ReadBytes(p);
    namespace fs = std::filesystem;
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(NativePath(p), writable, fs::perm_options::remove);
    WriteBytes(source_.Join("readme.txt"), "changed");
    // cmd holds the file it feeds a call from, without delete sharing, until
    // the call returns; the holder says once it holds and goes when told.
    std::string held = side.Join("held"), release = side.Join("release");
    WriteBytes(side.Join("hold.bat"), "@echo off\r\ncall :hold < \"Z:" + p + "\"\r\nexit /b\r\n"
                                      ":hold\r\necho held> \"Z:" + held + "\"\r\n"
                                      ":wait\r\nif not exist \"Z:" + release + "\" goto wait\r\n");
    std::string script = "trap 'touch " + Q(release) + "; wait' EXIT\n" + std::getenv("CEPACK_RUNNER") + " cmd /c " +
                         W(side.Join("hold.bat")) + " &\n"
                         "i=0; while [ ! -e " + Q(held) + " ] && [ $i -lt 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
                         "[ -e " + Q(held) + " ] || { echo never held; exit 1; }\n" +
                         cepacktest::CepackCommand() + " build --bare -o " + Q(p) + " " + Q(source_.Path()) +
                         "; echo status $?";
    ASSERT_EQ(Run("bash -c " + ShellQuote(script), &text), 0) << text;
    EXPECT_NE(text.find("status 5"), std::string::npos) << text;
    size_t reason = text.find("p.exe: can't be written: ");
    ASSERT_NE(reason, std::string::npos) << text;
    std::string line = text.substr(reason, text.find('\n', reason) - reason);
    EXPECT_TRUE(line.find("denied") != std::string::npos || line.find("violation") != std::string::npos) << line;
    EXPECT_TRUE(ReadBytes(p) == earlier);
    EXPECT_EQ(fs::status(NativePath(p)).permissions() & writable, fs::perms::none) << "read-only again";
    EXPECT_EQ(testutil::ListFilesRecursive(work_.Path()), std::vector<std::string>{"p.exe"}) << "no temporary left";

    ASSERT_EQ(Build(p, source_.Path(), &text), 0) << text;
    ScratchDir theirs("theirs");
    ASSERT_TRUE(OracleExtract(p, theirs.Path()));
    EXPECT_EQ(ReadBytes(theirs.Join("readme.txt")), "changed");
}

// Files dated on both sides of SOURCE_DATE_EPOCH and of a change to summer
// time, in a zone that has one.
TEST_F(CepackWindowsTest, TheSameFolderGivesTheSameBytesAsTheLinuxBuild) {
    ASSERT_EQ(Sh("touch -d @1679792400 " + Q(source_.Join("readme.txt")) + " && touch -d @1679788000 " +
                 Q(source_.Join("data\\one.txt")) + " && touch -d @1900000000 " + Q(source_.Join("setup.exe"))),
              0);
    std::string stub = Out("zipstub.exe"), env = "TZ=Europe/Berlin SOURCE_DATE_EPOCH=1700000000 ";
    // The shipped stub where the build has made it, so that both rewrite its
    // resources alike; a stand-in elsewhere.
    std::string shipped = ShippedStub("win32"), branding;
    if (!shipped.empty()) {
        WriteBytes(stub, ReadBytes(shipped));
        branding = " --version 2.1.0.37 --company " + testutil::ShellQuote("Vendor Ltd") + " --icon " +
                   Q(std::string(CE_SOURCE_DIR) + "/resources/zipstub/zipstub.ico");
    } else {
        WriteBytes(stub, "MZ" + testutil::RandomBytes(2000, 9));
    }
    std::string options = " build --stub " + Q(stub) + branding + " -o ";
    // One name: the package's own is in its version information.
    ScratchDir linux("linux"), windows("windows");
    ASSERT_EQ(Sh(env + cepacktest::LinuxCepackCommand() + options + Q(linux.Join("Setup.exe")) + " " +
                 Q(source_.Path())), 0);
    ASSERT_EQ(Sh(env + cepacktest::CepackCommand() + options + Q(windows.Join("Setup.exe")) + " " +
                 Q(source_.Path())), 0);
    EXPECT_EQ(ReadBytes(windows.Join("Setup.exe")), ReadBytes(linux.Join("Setup.exe")));
}

TEST(CepackNames, LongestAnsiLengthCountsTwoBytesPerCharacterAndFourBeyondTheBmp) {
    EXPECT_EQ(cepack::LongestAnsiLength("plain.txt"), 9u);
    EXPECT_EQ(cepack::LongestAnsiLength("caf\xC3\xA9"), 5u);
    EXPECT_EQ(cepack::LongestAnsiLength("\xE6\xBC\xA2\xE5\xAD\x97"), 4u);
    EXPECT_EQ(cepack::LongestAnsiLength("\xF0\x9F\x98\x80"), 4u);
    for (const char* bad : {"\xC0\xAF", "\xC3", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(cepack::LongestAnsiLength(bad)) << "overlong, cut short, surrogate, past U+10FFFF";
    }
}

}  // namespace
