// Backup and copy of a language's files: block copy with time and
// attributes (over a read-only destination too), the failure codes and
// messages, cancel, self-copy by another spelling, over-long paths, backup
// names and update flags.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "installer/copy_files.h"
#include "installer/destination.h"
#include "installer/ini_text.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "installer/texts.h"
#include "support/file_identity.h"
#include "support/file_layer.h"
#include "support/platform.h"
#include "support/progress.h"
#include "tests/common/test_util.h"

namespace fs = std::filesystem;
using testutil::ReadFileBytes;
using testutil::WriteFileBytes;

namespace {

// Joins texts by appending (GCC 12 warns falsely on "literal" + std::string).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
    std::string out;
    (out.append(parts), ...);
    return out;
}

std::vector<std::string> Warnings;
std::vector<std::string> FileLines;

void RecordLine(int id, const char* text) {
    if (id == FileLineId) FileLines.push_back(text);
}
void RecordWarning(int text, const char* path) {
    char message[MessageBufferSize];
    FormatInstallerText(message, sizeof message, text, path);
    Warnings.push_back(message);
}

class CopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        Warnings.clear();
        FileLines.clear();
        TheCopyUi = CopyUi{RecordLine, RecordWarning};
        UserCancelled = false;
        LanguageNumber = 1;
        TextCopy(InstallSection, "install");
        TextCopy(SourceDir, (source_.Path() + "\\").c_str());
        TextCopy(DestinationDir, (dest_.Path() + "\\").c_str());
    }
    void TearDown() override {
        TheCopyUi = CopyUi{};
        SetupFile = ProfileReader{};
        PumpDialogWindow = nullptr;
        UserCancelled = false;
    }
    void Use(const std::string& text) {
        text_ = text;
        ini_ = IniText{text_.data(), text_.size()};
        SetupFile = IniProfileReader(&ini_);
    }
    std::string Source(const std::string& name) const { return source_.Join(name); }
    std::string Dest(const std::string& name) const { return dest_.Join(name); }
    std::string Content(const std::string& path) const {
        std::string bytes;
        return ReadFileBytes(path, &bytes) ? bytes : "(missing)";
    }

    testutil::ScratchDir source_{"src"};
    testutil::ScratchDir dest_{"dst"};
    std::string text_;
    IniText ini_{};
};

void SetWriteTime(const std::string& path, int secondsAgo) {
    std::error_code ec;
    auto when = fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo);
    fs::last_write_time(testutil::NativePath(path), when, ec);
    ASSERT_FALSE(ec) << path;
}

fs::file_time_type WriteTimeOf(const std::string& path) {
    std::error_code ec;
    return fs::last_write_time(testutil::NativePath(path), ec);
}

TEST_F(CopyTest, CopiesEveryBlockSizeWithTheSourceTime) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{CopyBlockSize}, size_t{CopyBlockSize} + 1, size_t{70000}}) {
        SCOPED_TRACE(size);
        std::string bytes = testutil::RandomBytes(size, static_cast<uint32_t>(size));
        ASSERT_TRUE(WriteFileBytes(Source("f.bin"), bytes));
        SetWriteTime(Source("f.bin"), 3600 * 24 * 3);
        int32_t running = 5;
        int pumpsBefore = 0;
#ifndef _WIN32
        pumpsBefore = TheHostUi.pumps;
#endif
        ASSERT_EQ(CopyOneFile(Source("f.bin").c_str(), Dest("f.bin").c_str(), &running), CopyDone);
        EXPECT_EQ(Content(Dest("f.bin")), bytes);
        EXPECT_EQ(running, static_cast<int32_t>(5 + size));
        // Stamps are kept to the two seconds of a packed time.
        auto difference = WriteTimeOf(Source("f.bin")) - WriteTimeOf(Dest("f.bin"));
        EXPECT_LE(std::chrono::abs(difference), std::chrono::seconds(2));
#ifndef _WIN32
        // One pump per block read: a source of exactly one block ends with an empty read.
        EXPECT_EQ(TheHostUi.pumps - pumpsBefore, static_cast<int>(size / CopyBlockSize + 1));
#else
        (void)pumpsBefore;
#endif
        EXPECT_EQ(FileLines.back(), Cat("\r", Dest("f.bin")));
    }
}

TEST_F(CopyTest, AReadOnlyHiddenSystemDestinationIsReplacedAndTakesTheSourceAttributes) {
    ASSERT_TRUE(WriteFileBytes(Source("app.cab"), "new"));
    ASSERT_TRUE(WriteFileBytes(Dest("app.cab"), "old"));
    SetPathAttributes(Source("app.cab").c_str(), AttrReadOnly | AttrHidden);
    SetPathAttributes(Dest("app.cab").c_str(), AttrReadOnly | AttrHidden | AttrSystem);
    ASSERT_EQ(LastFileError, ErrorSuccess);
    int32_t running = 0;
    EXPECT_EQ(CopyOneFile(Source("app.cab").c_str(), Dest("app.cab").c_str(), &running), CopyDone);
    EXPECT_EQ(Content(Dest("app.cab")), "new");
    EXPECT_EQ(GetPathAttributes(Dest("app.cab").c_str()), GetPathAttributes(Source("app.cab").c_str()));
}

TEST_F(CopyTest, InstallsTheListAndTotalsTheSourceSizes) {
    Use("[install]\n1=app.ini\n2=app.cab,\n3=missing.txt\n[installd]\n3=\n");
    ASSERT_TRUE(WriteFileBytes(Source("app.ini"), "[CEAppManager]\n"));
    ASSERT_TRUE(WriteFileBytes(Source("app.cab"), std::string(40000, 'c')));
    EXPECT_EQ(SumSourceSizes(), 15 + 40000);

    // A missing source stops the list with the read message.
    EXPECT_EQ(InstallFiles(), CopyReadFailed);
    EXPECT_EQ(Content(Dest("app.cab")), std::string(40000, 'c'));
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_EQ(Warnings[0], Cat("Error reading ", Source("missing.txt"), "!\rDisk may be defective!"));

    // The German list ends at its empty key 3 and takes 1 and 2 from the base.
    Warnings.clear();
    LanguageNumber = 2;
    TextCopy(InstallSection, "installd");
    EXPECT_EQ(InstallFiles(), CopyDone);
    EXPECT_TRUE(Warnings.empty());
}

TEST_F(CopyTest, AFileIsNeverCopiedOntoItselfWhateverTheSpelling) {
    Use("[install]\n1=own.ini\n2=other.ini\n");
    ASSERT_TRUE(WriteFileBytes(Source("own.ini"), "keep me"));
    ASSERT_TRUE(WriteFileBytes(Source("other.ini"), "me too"));
    ASSERT_TRUE(fs::create_directory(testutil::NativePath(Source("sub"))));
    for (const std::string& spelling : {source_.Path() + "\\", source_.Path() + "\\.\\",
                                        source_.Path() + "\\sub\\..\\"}) {
        SCOPED_TRACE(spelling);
        TextCopy(DestinationDir, spelling.c_str());
        EXPECT_EQ(InstallFiles(), CopyDone);
        EXPECT_EQ(Content(Source("own.ini")), "keep me");
        EXPECT_EQ(Content(Source("other.ini")), "me too");
    }
    EXPECT_TRUE(SameExistingFile(Source("own.ini").c_str(), (source_.Path() + "\\sub\\..\\own.ini").c_str()));
    EXPECT_FALSE(SameExistingFile(Source("own.ini").c_str(), Source("other.ini").c_str()));
    EXPECT_FALSE(SameExistingFile(Source("own.ini").c_str(), Source("none.ini").c_str()));
    EXPECT_TRUE(Warnings.empty());
}

TEST_F(CopyTest, OverLongPathsFailTheirFileWithItsMessage) {
    std::string longName(200, 'n');
    Use(Cat("[install]\n1=", longName, ".ini\n"));
    std::string longDir = Cat(dest_.Path(), "\\", std::string(120, 'd'), "\\");
    ASSERT_LT(longDir.size(), static_cast<size_t>(PathMaxChars));
    TextCopy(DestinationDir, longDir.c_str());
    // The source is too long already when SourceDir is long too.
    std::string longSource = Cat(source_.Path(), "\\", std::string(120, 's'), "\\");
    TextCopy(SourceDir, longSource.c_str());
    EXPECT_EQ(InstallFiles(), CopyReadFailed);
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_EQ(Warnings[0], Cat("Error reading ", longSource, longName, ".ini!\rDisk may be defective!"));

    Warnings.clear();
    int32_t running = 0;
    ASSERT_TRUE(WriteFileBytes(Source("short.ini"), "x"));
    std::string longDest = Cat(longDir, longName, ".ini");
    EXPECT_EQ(CopyOneFile(Source("short.ini").c_str(), longDest.c_str(), &running), CopyCreateFailed);
}

TEST_F(CopyTest, CancelDuringTheThirdFileKeepsTheFirstTwoAndDeletesTheThird) {
    Use("[install]\n1=a.ini\n2=b.cab\n3=c.cab\n4=d.cab\n");
    for (const char* name : {"a.ini", "b.cab", "c.cab", "d.cab"}) {
        ASSERT_TRUE(WriteFileBytes(Source(name), std::string(70000, name[0])));
    }
    ASSERT_TRUE(WriteFileBytes(Dest("c.cab"), "earlier content"));
#ifndef _WIN32
    // Each file takes three reads; the eighth pump is inside c.cab.
    struct CancelAt : HostProgressSink {
        int pumps = 0;
        void OnPump() override {
            if (++pumps == 8) UserCancelled = true;
        }
    };
    CancelAt sink;
    PumpDialogWindow = &sink;
    EXPECT_EQ(InstallFiles(), CopyCancelled);
    EXPECT_EQ(Content(Dest("a.ini")), std::string(70000, 'a'));
    EXPECT_EQ(Content(Dest("b.cab")), std::string(70000, 'b'));
    EXPECT_FALSE(testutil::PathExists(Dest("c.cab")));
    EXPECT_FALSE(testutil::PathExists(Dest("d.cab")));
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_EQ(Warnings[0], "Installation aborted!");
#endif
    // Once cancelled, every further copy stops before its first block.
    UserCancelled = true;
    int32_t running = 0;
    EXPECT_EQ(CopyOneFile(Source("d.cab").c_str(), Dest("d.cab").c_str(), &running), CopyCancelled);
    EXPECT_FALSE(testutil::PathExists(Dest("d.cab")));
}

TEST_F(CopyTest, BackupsTakeTheFirstFreeDigitAndReuseNine) {
    Use("[install]\n1=readme.txt\n[Backup data]\n1=readme.txt\n2=absent.txt\n3=longfilename.dll\n");
    ASSERT_TRUE(WriteFileBytes(Dest("readme.txt"), "current"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteFileBytes(Dest(Cat("readme", std::to_string(i), ".txt")), "old"));
    ASSERT_TRUE(WriteFileBytes(Dest("longfilename.dll"), "dll"));
    BackupExistingFiles();
    EXPECT_EQ(Content(Dest("readme3.txt")), "current");
    EXPECT_EQ(Content(Dest("readme.txt")), "current");
    EXPECT_EQ(Content(Dest("longfilenam0.dll")), "dll");
    EXPECT_FALSE(testutil::PathExists(Dest("absent0.txt")));

    for (int i = 4; i <= 9; ++i) ASSERT_TRUE(WriteFileBytes(Dest(Cat("readme", std::to_string(i), ".txt")), "old"));
    ASSERT_TRUE(WriteFileBytes(Dest("readme.txt"), "newest"));
    BackupExistingFiles();
    EXPECT_EQ(Content(Dest("readme9.txt")), "newest");
    EXPECT_EQ(Content(Dest("readme8.txt")), "old");
    EXPECT_TRUE(Warnings.empty());
}

TEST_F(CopyTest, SubfolderEntriesInstallAndBackUpBelowTheDestinationOnly) {
    // The destination one level down: whatever ".." reached would land in dest_.
    ASSERT_TRUE(fs::create_directory(testutil::NativePath(Dest("app"))));
    TextCopy(DestinationDir, Cat(Dest("app"), "\\").c_str());
    EXPECT_TRUE(MakeEntryDirectories(DestinationDir, "docs\\en\\readme.txt"));
    EXPECT_TRUE(IsExistingDirectory(Dest("app\\docs\\en").c_str()));
    EXPECT_FALSE(testutil::PathExists(Dest("app\\docs\\en\\readme.txt")));
    for (const char* outside : {"..\\out\\x.txt", "docs\\..\\..\\out\\x.txt", "docs\\. .\\out\\x.txt",
                                "\\out\\x.txt", "C:out\\x.txt"}) {
        EXPECT_FALSE(MakeEntryDirectories(DestinationDir, outside)) << outside;
    }
    EXPECT_FALSE(testutil::PathExists(Dest("out")));
    EXPECT_FALSE(testutil::PathExists(Dest("app\\docs\\out")));
    ASSERT_TRUE(WriteFileBytes(Dest("app\\file"), "x"));
    EXPECT_FALSE(MakeEntryDirectories(DestinationDir, "file\\x.txt"));  // a file in the way

    // Through the lists: "/" separates as "\\" does, backups stay beside
    // their files, and a name out of the destination fails as unwritable.
    Use("[install]\n1=docs\\en\\readme.txt\n2=cfg/app.ini\n3=../escape.txt\n"
        "[Backup data]\n1=docs/en/readme.txt\n2=..\\escape.txt\n");
    fs::create_directories(testutil::NativePath(Source("docs\\en")));
    fs::create_directories(testutil::NativePath(Source("cfg")));
    ASSERT_TRUE(WriteFileBytes(Source("docs\\en\\readme.txt"), "new"));
    ASSERT_TRUE(WriteFileBytes(Source("cfg\\app.ini"), "ini"));
    ASSERT_TRUE(WriteFileBytes(Dest("app\\docs\\en\\readme.txt"), "old"));
    ASSERT_TRUE(WriteFileBytes(Dest("escape.txt"), "the user's"));
    BackupExistingFiles();
    EXPECT_EQ(Content(Dest("app\\docs\\en\\readme0.txt")), "old");
    EXPECT_FALSE(testutil::PathExists(Dest("escape0.txt")));
    EXPECT_EQ(InstallFiles(), CopyCreateFailed);
    EXPECT_EQ(Content(Dest("app\\docs\\en\\readme.txt")), "new");
    EXPECT_EQ(Content(Dest("app\\cfg\\app.ini")), "ini");
    EXPECT_EQ(Content(Dest("escape.txt")), "the user's");
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_EQ(Warnings[0], Cat("Error writing ", Dest("app\\..\\escape.txt"), "!"));
}

TEST_F(CopyTest, UpdateFlagsCopyOnlyANewerSourceOrAMissingDestination) {
    Use("[install]\n1=keep.ini,W\n2=newer.ini,s\n3=fresh.ini,W\n4=plain.ini\n");
    for (const char* name : {"keep.ini", "newer.ini", "fresh.ini", "plain.ini"}) {
        ASSERT_TRUE(WriteFileBytes(Source(name), Cat("new ", name)));
        ASSERT_TRUE(WriteFileBytes(Dest(name), "installed"));
    }
    testutil::RemoveTree(Dest("fresh.ini"));
    SetWriteTime(Source("keep.ini"), 7200);
    SetWriteTime(Dest("keep.ini"), 60);  // the installed one is newer
    SetWriteTime(Source("newer.ini"), 60);
    SetWriteTime(Dest("newer.ini"), 7200);
    SetWriteTime(Source("plain.ini"), 7200);
    SetWriteTime(Dest("plain.ini"), 60);
    EXPECT_EQ(InstallFiles(), CopyDone);
    EXPECT_EQ(Content(Dest("keep.ini")), "installed");
    EXPECT_EQ(Content(Dest("newer.ini")), "new newer.ini");
    EXPECT_EQ(Content(Dest("fresh.ini")), "new fresh.ini");
    EXPECT_EQ(Content(Dest("plain.ini")), "new plain.ini");  // no flag: always copied
    // Equal stamps: the copy made just now is not replaced again.
    EXPECT_NE(CompareForUpdate(Source("newer.ini").c_str(), Dest("newer.ini").c_str()), 0);
}

TEST_F(CopyTest, DestinationKinds) {
    EXPECT_EQ(ExamineDestination(dest_.Path().c_str()), DestinationIsDirectory);
    EXPECT_EQ(ExamineDestination(Dest("none").c_str()), DestinationMissing);
    ASSERT_TRUE(WriteFileBytes(Dest("file"), "x"));
    EXPECT_EQ(ExamineDestination(Dest("file").c_str()), DestinationIsFile);
}

}  // namespace
