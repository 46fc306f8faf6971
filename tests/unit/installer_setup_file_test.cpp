// The setup information file as the installer reads it: the profile
// semantics of the INI reader, the file lists with their fallback, and the
// language entries.
#include <gtest/gtest.h>

#include <string>

#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "tests/common/setup_file_fixture.h"

namespace {

class SetupFileTest : public SetupFileFixture {
protected:
    std::string Read(const char* section, const char* key, const char* def = "", uint32_t size = 260) {
        char buffer[600];
        uint32_t n = ReadSetupText(section, key, def, buffer, size);
        EXPECT_EQ(n, TextLength(buffer));
        return buffer;
    }
    std::string Entry(const char* section, const char* key) {
        char buffer[PathBufferSize];
        ReadInstallEntry(section, key, "", buffer, PathMaxChars);
        return buffer;
    }
};

TEST_F(SetupFileTest, NamesMatchWithoutCaseAndBlanksAndQuotesAreDropped) {
    Use("; comment\r\n[Installation]\r\n  Program =  My Tool  \r\ncopyright=\"(c) 2024 Someone\"\r\n"
        "[Languages]\r\ncount=3\r\nEmpty=\r\nNoEquals\r\n");
    EXPECT_EQ(Read("installation", "PROGRAM"), "My Tool");
    EXPECT_EQ(Read("Installation", "Copyright"), "(c) 2024 Someone");
    EXPECT_EQ(ReadSetupInt("languages", "Count", 1), 3);
    // Present but empty is a value; a line without "=" is not.
    EXPECT_EQ(Read("languages", "Empty", "dflt"), "");
    EXPECT_EQ(Read("languages", "NoEquals", "dflt"), "dflt");
    EXPECT_EQ(Read("languages", "Missing", "dflt  "), "dflt");
    EXPECT_EQ(Read("Nowhere", "Program", "x"), "x");
}

TEST_F(SetupFileTest, FirstSectionAndFirstKeyOfANameCount) {
    Use("[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nother=5\n");
    EXPECT_EQ(Read("a", "k"), "1");
    // A key only in a second section of the same name is not found.
    EXPECT_EQ(Read("A", "other", "none"), "none");
    EXPECT_EQ(Read("b", "K"), "3");
}

TEST_F(SetupFileTest, ValuesAreCutToTheBufferAndIntegersParsedLikeTheSystem) {
    Use("[s]\nlong=abcdefghij\nneg=-12\nlead=  42abc\nword=abc\nempty=\n");
    EXPECT_EQ(Read("s", "long", "", 5), "abcd");
    EXPECT_EQ(ReadSetupInt("s", "neg", 7), -12);
    EXPECT_EQ(ReadSetupInt("s", "lead", 7), 42);
    EXPECT_EQ(ReadSetupInt("s", "word", 7), 0);
    EXPECT_EQ(ReadSetupInt("s", "empty", 7), 7);
    EXPECT_EQ(ReadSetupInt("s", "missing", 7), 7);
}

TEST_F(SetupFileTest, NulByteInAValueEndsItsText) {
    // Found by the setup-file fuzzer: the count included the bytes behind the NUL.
    Use(std::string("[s]\n1=x.ini\0tail\nk=\"\0\"\nn=\0 12\n", 30));
    EXPECT_EQ(Read("s", "1"), "x.ini");
    EXPECT_EQ(Read("s", "k", "dflt"), "");
    EXPECT_EQ(ReadSetupInt("s", "n", 7), 7);
}

TEST_F(SetupFileTest, CarriageReturnsEndLinesOnlyBehindTheLastLineFeed) {
    Use("[s]\nk=1\rj=2\n[t]\rx=3\ry=4");
    EXPECT_EQ(Read("s", "k"), "1\rj=2");
    EXPECT_EQ(Read("s", "j", "none"), "none");
    EXPECT_EQ(Read("t", "y"), "4");
    // Many lines of CR only (the reader once searched each to the file's end).
    std::string many = "[s]\r";
    for (int i = 0; i < 3000; ++i) {
        // Appended piece by piece: GCC 12 warns falsely on "k" + std::to_string(i).
        many += 'k';
        many += std::to_string(i);
        many += '=';
        many += std::to_string(i);
        many += '\r';
    }
    Use(many);
    EXPECT_EQ(Read("s", "k2999"), "2999");
}

TEST_F(SetupFileTest, LineEndingsByteOrderMarkAndUnterminatedLastLine) {
    Use("\xEF\xBB\xBF[s]\nunix=1\r\nwindows=2\r\n[t]\nlast=3");
    EXPECT_EQ(Read("s", "unix"), "1");
    EXPECT_EQ(Read("s", "windows"), "2");
    EXPECT_EQ(Read("t", "last"), "3");
}

TEST_F(SetupFileTest, FileListFallsBackToTheBaseSectionKeyByKeyExceptForLanguageOne) {
    Use("[Install]\n1=app.ini\n2=app.cab\n3=readme.txt\n"
        "[Installd]\n1=deutsch.ini\n3=\n"
        "[Installf]\n1=francais.ini\n2=?!?!?!\n");
    LanguageNumber = 2;
    EXPECT_EQ(Entry("installd", "1"), "deutsch.ini");
    EXPECT_EQ(Entry("installd", "2"), "app.cab");
    // Present and empty in the language's section ends the list there.
    EXPECT_EQ(Entry("installd", "3"), "");
    EXPECT_EQ(Entry("installd", "4"), "");
    // The marker itself counts as missing.
    EXPECT_EQ(Entry("installf", "2"), "app.cab");
    LanguageNumber = 1;
    EXPECT_EQ(Entry("installf", "2"), "");
    EXPECT_EQ(Entry("installf", "3"), "");
}

TEST_F(SetupFileTest, ListsRunUntilTheFirstEmptyValue) {
    Use("[Install]\n1=a.ini\n2=b.cab\n4=d.cab\n[Backup data]\n1=readme.txt\n");
    LanguageNumber = 1;
    char buffer[PathBufferSize];
    int n = 0;
    while (ReadFileListEntry("install", n + 1, buffer)) ++n;
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(ReadPlainListEntry("Backup data", 1, buffer));
    EXPECT_STREQ(buffer, "readme.txt");
    EXPECT_FALSE(ReadPlainListEntry("Backup data", 2, buffer));
}

TEST_F(SetupFileTest, LanguageEntriesGiveNameLetterAndSection) {
    char name[PathBufferSize];
    EntryName("Deutsch (German),d", name, sizeof name);
    EXPECT_STREQ(name, "Deutsch (German)");
    EXPECT_EQ(LanguageLetter("Deutsch (German),d"), 'd');
    EXPECT_EQ(LanguageLetter("English"), 0);
    EXPECT_EQ(LanguageLetter("Trailing,"), 0);
    EXPECT_EQ(LanguageLetter("Two,xy,z"), 'x');
    EXPECT_EQ(LanguageLetter("Deutsch (German), d "), 'd');  // blanks are never the letter
    EXPECT_EQ(LanguageLetter("Blank,\t "), 0);
    char section[SectionBufferSize];
    MakeInstallSection('d', section);
    EXPECT_STREQ(section, "installd");
    MakeInstallSection(0, section);
    EXPECT_STREQ(section, "install");
    char small[4];
    EntryName("abcdef,g", small, sizeof small);
    EXPECT_STREQ(small, "abc");

    Use("[languages]\nCount=3\n1=English\n2=Deutsch,d\n3=Fran\xE7" "ais,f\n");
    LanguageNumber = 3;
    SelectLanguageSection();
    EXPECT_STREQ(InstallSection, "installf");
    LanguageNumber = 1;
    SelectLanguageSection();
    EXPECT_STREQ(InstallSection, "install");
}

TEST_F(SetupFileTest, FlagTextIsTheTrimmedSecondFieldWithItsFirstLetterUpperCased) {
    char flags[PathBufferSize];
    EntryFlags("app.ini,w", flags, sizeof flags);
    EXPECT_STREQ(flags, "W");
    EntryFlags("app.ini,sx,more", flags, sizeof flags);
    EXPECT_STREQ(flags, "Sx");
    EntryFlags("app.ini", flags, sizeof flags);
    EXPECT_STREQ(flags, " ");
    EntryFlags("app.ini,", flags, sizeof flags);
    EXPECT_STREQ(flags, "");
    EntryFlags("tracker.cfg, w ,x", flags, sizeof flags);  // blanks are never the flag
    EXPECT_STREQ(flags, "W");
    EntryFlags("tracker.cfg,\t ", flags, sizeof flags);
    EXPECT_STREQ(flags, "");
}

TEST(VersionFlags, WordFromGetVersionAndTheThresholds) {
    EXPECT_EQ(WindowsVersionWord(0x23F00206), 0x0602);  // 6.2, build bits ignored
    EXPECT_EQ(WindowsVersionWord(0x00005A03), 0x035A);
    SetVersionFlags(0x035A);
    EXPECT_TRUE(Win95ShellOrLater);
    EXPECT_FALSE(VistaOrLater);
    SetVersionFlags(0x0359);
    EXPECT_FALSE(Win95ShellOrLater);
    SetVersionFlags(0x05FF);
    EXPECT_TRUE(Win95ShellOrLater);
    EXPECT_FALSE(VistaOrLater);
    SetVersionFlags(0x0600);
    EXPECT_TRUE(VistaOrLater);
}

}  // namespace
