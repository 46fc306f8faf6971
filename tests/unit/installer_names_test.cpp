// The installer's text rules: destination proposal and checks, folder
// browser result, backup names and the application manager's command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/app_manager.h"
#include "installer/backup_name.h"
#include "installer/destination.h"
#include "installer/install_state.h"
#include "tests/common/setup_file_fixture.h"

namespace {

using InstallerNamesTest = SetupFileFixture;

std::string Browsed(const char* chosen, const char* dirName) {
    char path[PathBufferSize];
    TextCopy(path, chosen);
    AppendBrowsedDirName(path, dirName);
    return path;
}

std::string Trimmed(const char* typed) {
    char path[PathBufferSize];
    TextCopy(path, typed);
    TrimDestination(path);
    return path;
}

TEST_F(InstallerNamesTest, ProposalIsTheDirSettingInsideTheCeServicesDirectory) {
    Use("[Destination]\nDir=Tools\n");
    TextCopy(CeServicesDir, "C:\\Program Files\\Microsoft ActiveSync\\");
    ProposeDestination();
    EXPECT_STREQ(DestinationDir, "C:\\Program Files\\Microsoft ActiveSync\\Tools");
    Use("");
    ProposeDestination();
    EXPECT_STREQ(DestinationDir, "C:\\Program Files\\Microsoft ActiveSync\\c:\\install");
    // Never longer than a path buffer holds.
    Use("[Destination]\nDir=" + std::string(250, 'd') + "\n");
    ProposeDestination();
    EXPECT_EQ(TextLength(DestinationDir), 259u);
    EXPECT_STREQ(DestinationDirName("c:\\install"), "install");
    EXPECT_STREQ(DestinationDirName("Tools"), "Tools");
}

TEST(DestinationText, FolderBrowserResultGetsTheDirectoryName) {
    EXPECT_EQ(Browsed("D:\\", "Tools"), "D:\\Tools");
    EXPECT_EQ(Browsed("D:\\Apps", "Tools"), "D:\\Apps\\Tools");
    EXPECT_EQ(Browsed("D:\\Apps\\tools", "Tools"), "D:\\Apps\\tools");
    EXPECT_EQ(Browsed("D:\\Apps\\Tools2", "Tools"), "D:\\Apps\\Tools2");
    EXPECT_EQ(Browsed("NoBackslash", "Tools"), "NoBackslash");
    std::string deep = "D:\\" + std::string(254, 'a');
    EXPECT_EQ(Browsed(deep.c_str(), "Tools").size(), 259u);
}

TEST(DestinationText, OnlyFullPathsAreUsable) {
    EXPECT_TRUE(IsUsableDestination("c:\\"));
    EXPECT_TRUE(IsUsableDestination("D:\\Apps\\Tools"));
    EXPECT_TRUE(IsUsableDestination("\\\\server\\share\\dir"));
    EXPECT_FALSE(IsUsableDestination(""));
    EXPECT_FALSE(IsUsableDestination("Tools"));
    EXPECT_FALSE(IsUsableDestination("."));
    EXPECT_FALSE(IsUsableDestination("..\\x"));
    EXPECT_FALSE(IsUsableDestination("c:"));
    EXPECT_FALSE(IsUsableDestination("c:Tools"));
    EXPECT_FALSE(IsUsableDestination("\\Tools"));
    EXPECT_FALSE(IsUsableDestination("\\\\server"));
    EXPECT_FALSE(IsUsableDestination("\\\\\\share"));
    EXPECT_FALSE(IsUsableDestination("1:\\x"));
}

TEST(DestinationText, TrailingBackslashIsTrimmedExceptAtADriveRoot) {
    EXPECT_EQ(Trimmed("D:\\Apps\\"), "D:\\Apps");
    EXPECT_EQ(Trimmed("D:\\Apps\\\\"), "D:\\Apps");
    EXPECT_EQ(Trimmed("c:\\"), "c:\\");
    EXPECT_EQ(Trimmed("D:\\Apps"), "D:\\Apps");
    EXPECT_EQ(Trimmed(""), "");
}

TEST_F(InstallerNamesTest, SourceDirAndTheInstallersOwnDirectory) {
    SetSourceDirFromProgramPath("C:\\Temp\\$qv0\\install.exe");
    EXPECT_STREQ(SourceDir, "C:\\Temp\\$qv0\\");
    EXPECT_TRUE(IsInstallerDirectory("c:\\temp\\$QV0"));
    EXPECT_FALSE(IsInstallerDirectory("c:\\temp"));
}

std::string Pattern(const char* dir, const char* entry) {
    char name[PathBufferSize];
    int slot = MakeBackupPattern(dir, entry, name, sizeof name);
    if (slot < 0) return "(too long)";
    EXPECT_EQ(name[slot], '0');
    return name;
}

TEST(BackupName, DigitSlotFollowsTheStem) {
    EXPECT_EQ(Pattern("D:\\App\\", "readme.txt"), "D:\\App\\readme0.txt");
    EXPECT_EQ(Pattern("D:\\App\\", "longfilename.dll"), "D:\\App\\longfilenam0.dll");
    EXPECT_EQ(Pattern("D:\\App\\", "eightchr.dat"), "D:\\App\\eightch0.dat");
    EXPECT_EQ(Pattern("D:\\App\\", "README"), "D:\\App\\README0.");
    EXPECT_EQ(Pattern("D:\\App\\", "archive.tar.gz"), "D:\\App\\archive0.tar.gz");
    EXPECT_EQ(Pattern("D:\\App\\", ".profile"), "D:\\App\\0.profile");
    // In a subfolder the rule works on the file name, folders kept.
    EXPECT_EQ(Pattern("D:\\App\\", "v1.2\\en\\readme.txt"), "D:\\App\\v1.2\\en\\readme0.txt");
    std::string longDir = "D:\\" + std::string(250, 'x') + "\\";
    EXPECT_EQ(Pattern(longDir.c_str(), "readme.txt"), "(too long)");
}

TEST_F(InstallerNamesTest, CommandLineQuotesEveryIniInListOrder) {
    Use("[installd]\n1=APP.INI\n2=app.arm.cab\n3=deutsch.cab\n4=deutsch.ini,W\n5=app.ico\n6=setup.ini.bak\n");
    LanguageNumber = 2;
    TextCopy(InstallSection, "installd");
    TextCopy(CeServicesDir, "C:\\Program Files\\Microsoft ActiveSync\\");
    TextCopy(DestinationDir, "C:\\Program Files\\Microsoft ActiveSync\\Tools\\");
    char line[PathBufferSize];
    ASSERT_EQ(BuildAppManagerCommandLine(line, sizeof line), 0);
    EXPECT_STREQ(line,
                 "\"C:\\Program Files\\Microsoft ActiveSync\\CeAppMgr.exe\""
                 " \"C:\\Program Files\\Microsoft ActiveSync\\Tools\\APP.INI\""
                 " \"C:\\Program Files\\Microsoft ActiveSync\\Tools\\deutsch.ini\"");
    EXPECT_TRUE(IsIniName("SETUP.INI"));
    EXPECT_FALSE(IsIniName("setup.ini.bak"));
    EXPECT_FALSE(IsIniName("ini"));
}

TEST_F(InstallerNamesTest, CommandLineWithoutIniOrTooLongIsRefused) {
    TextCopy(CeServicesDir, "C:\\CE\\");
    TextCopy(DestinationDir, "D:\\Tools\\");
    Use("[install]\n1=app.cab\n");
    char line[PathBufferSize];
    EXPECT_EQ(BuildAppManagerCommandLine(line, sizeof line), AppManagerNoIniFile);
    Use("[install]\n");
    EXPECT_EQ(BuildAppManagerCommandLine(line, sizeof line), AppManagerNoIniFile);

    // Three .ini names behind a long destination exceed 259 characters: the
    // hand-over fails rather than naming a cut path.
    std::string dest = "D:\\" + std::string(80, 'p') + "\\";
    TextCopy(DestinationDir, dest.c_str());
    Use("[install]\n1=first.ini\n2=second.ini\n3=third.ini\n");
    char guarded[PathBufferSize + 8];
    std::memset(guarded, '#', sizeof guarded);
    EXPECT_EQ(BuildAppManagerCommandLine(guarded, PathBufferSize), AppManagerLineTooLong);
    EXPECT_LT(TextLength(guarded), static_cast<size_t>(PathBufferSize));
    for (int i = PathBufferSize; i < PathBufferSize + 8; ++i) EXPECT_EQ(guarded[i], '#');
    // Exactly at the limit it still fits.
    Use("[install]\n1=first.ini\n2=second.ini\n");
    ASSERT_EQ(BuildAppManagerCommandLine(line, sizeof line), 0);
    size_t fitting = TextLength(line);
    char exact[PathBufferSize];
    EXPECT_EQ(BuildAppManagerCommandLine(exact, fitting + 1), 0);
    EXPECT_EQ(BuildAppManagerCommandLine(exact, fitting), AppManagerLineTooLong);
}

TEST(CabinetLines, EachCabinetOnceTrimmedAndNeverBeyondTheBuffer) {
    char lines[64] = "";
    AppendCabinetLines(lines, sizeof lines, " app.arm.cab , app.x86.cab,,");
    AppendCabinetLines(lines, sizeof lines, "APP.ARM.CAB,app.mips.cab");
    EXPECT_STREQ(lines, "\r\napp.arm.cab\r\napp.x86.cab\r\napp.mips.cab");
    // A name that does not fit is left out whole, not cut into another name.
    char small[20] = "";
    AppendCabinetLines(small, sizeof small, "a.cab,longer_name.cab,b.cab");
    EXPECT_STREQ(small, "\r\na.cab\r\nb.cab");
}

}  // namespace
