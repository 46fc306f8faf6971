// The checks that a package's install.inf gets before it ships.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "installer/install_state.h"
#include "installer/setup_lint.h"

namespace {

struct Folder {
    std::set<std::string> files;
    std::vector<std::string> findings;
};

void Record(void* context, const char* section, const char* key, const char* message) {
    static_cast<Folder*>(context)->findings.push_back(std::string("[") + section + "] " + key + ": " + message);
}

bool Exists(void* context, const char* name) { return static_cast<Folder*>(context)->files.count(name) != 0; }

std::vector<std::string> LintOf(const std::string& text, std::set<std::string> files) {
    Folder folder{std::move(files), {}};
    IniText ini{text.data(), text.size()};
    LintSink sink{Record, Exists, &folder};
    int n = LintSetupFile(&ini, &sink);
    EXPECT_EQ(n, static_cast<int>(folder.findings.size()));
    return folder.findings;
}

const char* const GoodFile =
    "[Installation]\nProgram=Tool\nCopyright=(c) Us\n[Destination]\nDir=Tool\n"
    "[Languages]\nCount=3\nDefault=1\n1=English\n2=Deutsch,d\n3=Francais,f\n"
    "[Install]\n1=tool.ini\n2=tool.arm.cab\n3=readme.txt\n"
    "[Installd]\n1=toold.ini\n3=liesmich.txt\n"
    "[Installf]\n3=lisezmoi.txt\n"
    "[Backup data]\n1=readme.txt\n";

const std::set<std::string> GoodFiles = {"tool.ini", "tool.arm.cab", "readme.txt", "toold.ini", "liesmich.txt",
                                         "lisezmoi.txt"};

TEST(SetupLint, ACompletePackagePassesAndTheInstallerStateIsLeftAlone) {
    LanguageNumber = 1;
    TextCopy(InstallSection, "install");
    EXPECT_TRUE(LintOf(GoodFile, GoodFiles).empty());
    EXPECT_EQ(LanguageNumber, 1);
    EXPECT_STREQ(InstallSection, "install");
}

TEST(SetupLint, FilesAreCheckedPerLanguageThroughTheBaseSectionFallback) {
    std::set<std::string> files = GoodFiles;
    files.erase("tool.arm.cab");  // reached by every language through the fallback
    files.erase("lisezmoi.txt");
    auto findings = LintOf(GoodFile, files);
    ASSERT_EQ(findings.size(), 4u);
    EXPECT_EQ(findings[0], "[install] 2: \"tool.arm.cab\" is not in the package folder");
    EXPECT_EQ(findings[1], "[installd] 2: \"tool.arm.cab\" is not in the package folder");
    EXPECT_EQ(findings[2], "[installf] 2: \"tool.arm.cab\" is not in the package folder");
    EXPECT_EQ(findings[3], "[installf] 3: \"lisezmoi.txt\" is not in the package folder");
}

TEST(SetupLint, LanguageCountLettersAndDefault) {
    std::string text = GoodFile;
    text.replace(text.find("Count=3"), 7, "Count=4");
    text.replace(text.find("3=Francais,f"), 12, "3=Dansk,D");
    text.replace(text.find("Default=1"), 9, "Default=0");
    auto findings = LintOf(text, GoodFiles);
    ASSERT_EQ(findings.size(), 3u);
    EXPECT_EQ(findings[0], "[languages] 3: letter D is used by an earlier language");
    EXPECT_EQ(findings[1], "[languages] 4: is missing or empty");
    EXPECT_EQ(findings[2], "[languages] Default: selects no language: OK without a choice would end the installer");

    text = GoodFile;
    text.replace(text.find("Count=3"), 7, "Count=2");
    findings = LintOf(text, GoodFiles);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0], "[languages] Count: is smaller than the number of language entries");
}

TEST(SetupLint, ProgramDirIniAndUnsafeNames) {
    auto findings = LintOf("[Destination]\nDir=c:\\install\n[Install]\n1=readme.txt\n2=..\\evil.dll\n"
                           "[Backup data]\n1=\\windows\\win.ini\n",
                           {"readme.txt"});
    ASSERT_EQ(findings.size(), 5u);
    EXPECT_EQ(findings[0], "[Installation] Program: is not set: the backdrop and captions have no title");
    EXPECT_EQ(findings[1], "[Destination] Dir: \"c:\\install\" is not a plain directory name");
    EXPECT_EQ(findings[2], "[install] 2: \"..\\evil.dll\" is not a file name inside the package");
    EXPECT_EQ(findings[3], "[install] : language 1 lists no .ini file for the application manager");
    EXPECT_EQ(findings[4], "[Backup data] 1: \"\\windows\\win.ini\" is not a file name inside the destination");

    findings = LintOf("[Installation]\nProgram=T\n[Destination]\nDir=T\n[Languages]\nCount=1\nDefault=2\n"
                      "1=English\n2=Deutsch,d\n[installd]\n1=sub\\d.ini\n",
                      {"sub\\d.ini"});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0], "[installd] 1: \"sub\\d.ini\" names a subdirectory, which the installer does not create");

    findings = LintOf("[Installation]\nProgram=T\n[Destination]\nDir=T\n", {});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0], "[install] 1: language 1 has no files to install");
}

}  // namespace
