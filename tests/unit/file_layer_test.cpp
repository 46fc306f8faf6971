// The file layer against the real file system: the same expectations for the
// Win32 backend (under wine64) and the POSIX backend (host).
#include <gtest/gtest.h>

#include <set>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/file_layer.h"
#include "support/platform.h"
#include "support/text.h"
#include "tests/common/test_util.h"

namespace {

using testutil::CurrentDirectory;
using testutil::PathExists;
using testutil::ReadFileBytes;
using testutil::WriteFileBytes;

class FileLayer : public ::testing::Test {
protected:
    std::string At(const std::string& relative) const { return scratch_.Join(relative); }
    const std::string& Root() const { return scratch_.Path(); }

    testutil::ScratchDir scratch_{"fl"};
    testutil::CurrentDirectoryGuard cwd_;
};

// Closes a handle of the layer at the end of a scope.
class HandleGuard {
public:
    explicit HandleGuard(FileHandle h) : handle_(h) {}
    ~HandleGuard() {
        if (handle_ != InvalidFileHandle && handle_ != nullptr) CloseFileHandle(handle_);
    }
    FileHandle get() const { return handle_; }

private:
    FileHandle handle_;
};

// Long names in DirEntry::Name for one test.
class LongNamesScope {
public:
    LongNamesScope() { SetUseLongNames(true); }
    ~LongNamesScope() { SetUseLongNames(false); }
};

std::set<std::string> SearchNames(const std::string& pattern, uint16_t mask) {
    std::set<std::string> names;
    DirEntry entry;
    for (BeginDirSearch(pattern.c_str(), mask, &entry); LastFileError == 0; ContinueDirSearch(&entry)) {
        names.insert(entry.Name);
    }
    EndDirSearch(&entry);
    return names;
}

std::string ReadAll(FileHandle handle) {
    std::string out;
    char buffer[100];
    uint16_t done = 0;
    do {
        ReadFileBlock(handle, buffer, sizeof buffer, &done);
        out.append(buffer, done);
    } while (LastFileError == 0 && done > 0);
    return out;
}

// The root of the scratch directory's drive ("C:\"; "\" on POSIX).
std::string DriveRootOf(const std::string& path) { return path[1] == ':' ? path.substr(0, 3) : "\\"; }

}  // namespace

TEST_F(FileLayer, OpenModesGiveTheirAccess) {
    std::string path = At("data.bin");
    ASSERT_TRUE(WriteFileBytes(path, "content"));
    uint16_t done = 0;
    {
        HandleGuard reader(OpenExistingFile(path.c_str(), 0));
        ASSERT_EQ(LastFileError, 0u);
        // Mode 0 lets others read and write meanwhile.
        HandleGuard writer(OpenExistingFile(path.c_str(), 2));
        ASSERT_EQ(LastFileError, 0u);
        WriteFileBlock(reader.get(), "x", 1, &done);
        EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
        EXPECT_EQ(done, 0);
        EXPECT_EQ(ReadAll(reader.get()), "content");
    }
    {
        HandleGuard writer(OpenExistingFile(path.c_str(), 1));
        ASSERT_EQ(LastFileError, 0u);
        char byte;
        ReadFileBlock(writer.get(), &byte, 1, &done);
        EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
        WriteFileBlock(writer.get(), "C", 1, &done);
        EXPECT_EQ(LastFileError, 0u);
        EXPECT_EQ(done, 1);
    }
    {
        // CreateOrTruncateFile asks for read/write whatever the mode would say.
        HandleGuard both(CreateOrTruncateFile(path.c_str(), 0));
        ASSERT_EQ(LastFileError, 0u);
        EXPECT_EQ(GetOpenFileSize(both.get()), 0u);
        WriteFileBlock(both.get(), "new", 3, &done);
        EXPECT_EQ(LastFileError, 0u);
        SeekFileHandle(both.get(), 0, 0);
        EXPECT_EQ(ReadAll(both.get()), "new");
        // So does every creating disposition, even with mode 0 (read).
        HandleGuard created(OpenFileHandle(At("fresh.bin").c_str(), 0, OpenAlways, 0x00));
        ASSERT_EQ(LastFileError, 0u);
        WriteFileBlock(created.get(), "w", 1, &done);
        EXPECT_EQ(LastFileError, 0u);
    }
    {
        // Access nibble 3: no data access at all.
        HandleGuard none(OpenFileHandle(path.c_str(), 0, OpenExisting, 0x03));
        ASSERT_EQ(LastFileError, 0u);
        char byte;
        ReadFileBlock(none.get(), &byte, 1, &done);
        EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
    }
}

TEST_F(FileLayer, OpenFailuresCarryWindowsCodes) {
    ASSERT_TRUE(WriteFileBytes(At("file.txt"), "x"));
    EXPECT_EQ(OpenExistingFile(At("missing.txt").c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});
    EXPECT_EQ(OpenExistingFile(At("nodir\\missing.txt").c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    EXPECT_EQ(CreateOrTruncateFile(At("nodir\\new.txt").c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    EXPECT_EQ(OpenExistingFile(At("file.txt\\x").c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    EXPECT_EQ(OpenFileHandle(At("file.txt").c_str(), 0, CreateNew, 2), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileExists});
    // A directory is not a file.
    EXPECT_EQ(OpenExistingFile(Root().c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
}

TEST_F(FileLayer, ReadWriteAndSeek) {
    HandleGuard file(CreateOrTruncateFile(At("rw.bin").c_str(), 0));
    ASSERT_EQ(LastFileError, 0u);
    std::string data = testutil::RandomBytes(3000, 7);
    uint16_t done = 0;
    WriteFileBlock(file.get(), data.data(), static_cast<uint16_t>(data.size()), &done);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_EQ(done, 3000);

    EXPECT_EQ(SeekFileHandle(file.get(), 0, 1), 3000);
    EXPECT_EQ(SeekFileHandle(file.get(), -1000, 2), 2000);
    EXPECT_EQ(SeekFileHandle(file.get(), 500, 1), 2500);
    char buffer[1000];
    ReadFileBlock(file.get(), buffer, sizeof buffer, &done);
    EXPECT_EQ(LastFileError, 0u);
    ASSERT_EQ(done, 500);  // only what is left
    EXPECT_EQ(std::string(buffer, 500), data.substr(2500));
    ReadFileBlock(file.get(), buffer, sizeof buffer, &done);
    EXPECT_EQ(LastFileError, 0u);  // end of file is not an error
    EXPECT_EQ(done, 0);

    // A position in front of the start fails and leaves the position alone.
    EXPECT_EQ(SeekFileHandle(file.get(), -1, 0), -1);
    EXPECT_EQ(LastFileError, uint32_t{ErrorNegativeSeek});
    EXPECT_EQ(SeekFileHandle(file.get(), -3001, 2), -1);
    EXPECT_EQ(LastFileError, uint32_t{ErrorNegativeSeek});
    EXPECT_EQ(SeekFileHandle(file.get(), 0, 3), -1);
    EXPECT_EQ(LastFileError, uint32_t{ErrorInvalidParameter});
    EXPECT_EQ(SeekFileHandle(file.get(), 0, 1), 3000);

    // Seeking past the end is allowed; a write there extends the file.
    EXPECT_EQ(SeekFileHandle(file.get(), 100, 2), 3100);
    WriteFileBlock(file.get(), "!", 1, &done);
    EXPECT_EQ(SeekFileHandle(file.get(), 1234, 0), 1234);
    EXPECT_EQ(GetOpenFileSize(file.get()), 3101u);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(SeekFileHandle(file.get(), 0, 1), 1234);  // the size query kept the position

    CloseFileHandle(file.get());
    EXPECT_EQ(LastFileError, 0u);
    std::string stored;
    ASSERT_TRUE(ReadFileBytes(At("rw.bin"), &stored));
    EXPECT_EQ(stored.size(), 3101u);
    EXPECT_EQ(stored.substr(0, 3000), data);
}

TEST_F(FileLayer, FilesDirectoriesAndTheirErrors) {
    std::string dir = At("d");
    MakeDirectory(dir.c_str());
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetPathAttributes(dir.c_str()), uint32_t{AttrDirectory});
    MakeDirectory(dir.c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorAlreadyExists});
    MakeDirectory(At("nodir\\sub").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});

    ASSERT_TRUE(WriteFileBytes(At("d\\f.txt"), "abc"));
    EXPECT_EQ(GetPathAttributes(At("d\\f.txt").c_str()), uint32_t{AttrArchive});
    EXPECT_EQ(GetPathAttributes(At("d\\none").c_str()), 0u);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});
    EXPECT_EQ(GetPathAttributes(At("nodir\\none").c_str()), 0u);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});

    RemoveDirectoryPath(dir.c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorDirNotEmpty});
    RemoveDirectoryPath(At("d\\f.txt").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorDirectory});
    RemoveDirectoryPath(At("gone").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});

    ChangeCurrentDirectory(At("d\\f.txt").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorDirectory});
    ChangeCurrentDirectory(At("gone").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});
    ChangeCurrentDirectory(At("gone\\deeper").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});

    RemoveFile(At("d\\missing").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});
    RemoveFile(At("gone\\missing").c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    RemoveFile(dir.c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
    RemoveFile(At("d\\f.txt").c_str());
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_FALSE(PathExists(At("d\\f.txt")));

    // The current directory cannot be removed; from its parent it can.
    ChangeCurrentDirectory(dir.c_str());
    ASSERT_EQ(LastFileError, 0u);
    RemoveDirectoryPath(dir.c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorSharingViolation});
    ChangeCurrentDirectory("..");
    RemoveDirectoryPath("d");
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_FALSE(PathExists(dir));
}

TEST_F(FileLayer, ReadOnlyFileIsNotRemoved) {
    std::string path = At("ro.txt");
    ASSERT_TRUE(WriteFileBytes(path, "keep"));
    SetPathAttributes(path.c_str(), AttrReadOnly);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetPathAttributes(path.c_str()), uint32_t{AttrReadOnly | AttrArchive});
    RemoveFile(path.c_str());
    EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
    EXPECT_TRUE(PathExists(path));
    // Attribute 0 means "normal": read-only is cleared.
    SetPathAttributes(path.c_str(), 0);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetPathAttributes(path.c_str()) & AttrReadOnly, 0u);
    RemoveFile(path.c_str());
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_FALSE(PathExists(path));
}

TEST_F(FileLayer, SearchMatchesNamesWithWildcards) {
    LongNamesScope long_names;
    for (const char* name : {"a.txt", "B.TXT", "c.dat", "noext", "long name.text"}) {
        ASSERT_TRUE(WriteFileBytes(At(name), name));
    }
    MakeDirectory(At("sub").c_str());
    using Names = std::set<std::string>;
    EXPECT_EQ(SearchNames(At("*.txt"), 0x3F), (Names{"a.txt", "B.TXT"}));
    EXPECT_EQ(SearchNames(At("?.dat"), 0x3F), (Names{"c.dat"}));
    EXPECT_EQ(SearchNames(At("A.TXT"), 0x3F), (Names{"a.txt"}));
    EXPECT_EQ(SearchNames(At("noext.*"), 0x3F), (Names{"noext"}));
    EXPECT_EQ(SearchNames(At("*.*"), 0x3F),
              (Names{".", "..", "a.txt", "B.TXT", "c.dat", "noext", "long name.text", "sub"}));
    EXPECT_EQ(SearchNames(At("*"), 0x3F), SearchNames(At("*.*"), 0x3F));
}

TEST_F(FileLayer, SearchFillsTheEntry) {
    ASSERT_TRUE(WriteFileBytes(At("five.bin"), "12345"));
    MakeDirectory(At("dir").c_str());
    DirEntry entry;
    BeginDirSearch(At("five.bin").c_str(), 0x3F, &entry);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_NE(entry.SearchHandle, InvalidFileHandle);
    EXPECT_EQ(entry.Mask, 0x3F);
    EXPECT_STREQ(entry.Name, "five.bin");
    EXPECT_STREQ(entry.ShortName, "");  // an 8.3 name has no alternate
    EXPECT_EQ(entry.Attr, AttrArchive);
    EXPECT_EQ(entry.Attributes, AttrArchive);
    EXPECT_EQ(entry.Size, 5u);
    EXPECT_EQ(entry.FileSize, 5u);
    EXPECT_EQ(entry.Time, FileTimeToPacked(entry.WriteTime));
    EndDirSearch(&entry);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(entry.SearchHandle, InvalidFileHandle);

    BeginDirSearch(At("dir").c_str(), 0x3F, &entry);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_EQ(entry.Attr, AttrDirectory);
    EXPECT_EQ(entry.FileSize, 0u);
    EndDirSearch(&entry);
}

TEST_F(FileLayer, SearchEndsWithCodes) {
    ASSERT_TRUE(WriteFileBytes(At("only.txt"), ""));
    DirEntry entry;
    BeginDirSearch(At("*.none").c_str(), 0x3F, &entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});
    EXPECT_EQ(entry.SearchHandle, InvalidFileHandle);
    EndDirSearch(&entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFileNotFound});  // nothing was open

    BeginDirSearch(At("nodir\\*").c_str(), 0x3F, &entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});

    BeginDirSearch(At("only.txt").c_str(), 0x3F, &entry);
    ASSERT_EQ(LastFileError, 0u);
    ContinueDirSearch(&entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorNoMoreFiles});
    EXPECT_EQ(entry.SearchHandle, InvalidFileHandle);
    // An ended search keeps saying so, and ending it again is harmless.
    LastFileError = 0;
    ContinueDirSearch(&entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorNoMoreFiles});
    EndDirSearch(&entry);
    EXPECT_EQ(LastFileError, uint32_t{ErrorNoMoreFiles});

    // Entries exist but none passes the mask: still a failure, never an empty success.
    MakeDirectory(At("sub").c_str());
    BeginDirSearch(At("sub").c_str(), 0, &entry);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(entry.SearchHandle, InvalidFileHandle);
}

TEST_F(FileLayer, SearchMaskSkipsWhatItDoesNotName) {
    ASSERT_TRUE(WriteFileBytes(At("plain.txt"), "p"));
    ASSERT_TRUE(WriteFileBytes(At("ro.txt"), "r"));
    SetPathAttributes(At("ro.txt").c_str(), AttrReadOnly);
    SetPathAttributes(At("plain.txt").c_str(), 0);  // no archive bit where the system keeps one
    MakeDirectory(At("sub").c_str());
    using Names = std::set<std::string>;
    EXPECT_EQ(SearchNames(At("*.*"), AttrDirectory), (Names{".", "..", "plain.txt", "sub"}));
    EXPECT_EQ(SearchNames(At("*.*"), 0), (Names{"plain.txt"}));
    EXPECT_EQ(SearchNames(At("*.*"), AttrReadOnly), (Names{"plain.txt", "ro.txt"}));
    SetPathAttributes(At("ro.txt").c_str(), 0);
}

TEST(DateTime, PacksTheDosLayout) {
    PackedDateTime packed = PackDateTime(DateTimeParts{2003, 12, 31, 23, 59, 59});
    EXPECT_EQ(packed >> 16, 0x2F9Fu);
    EXPECT_EQ(packed & 0xFFFF, 0xBF7Du);
    DateTimeParts parts;
    UnpackDateTime(packed, &parts);
    EXPECT_EQ(parts.Year, 2003);
    EXPECT_EQ(parts.Month, 12);
    EXPECT_EQ(parts.Day, 31);
    EXPECT_EQ(parts.Hour, 23);
    EXPECT_EQ(parts.Minute, 59);
    EXPECT_EQ(parts.Second, 58);
    // Out-of-range parts carry into their neighbours.
    EXPECT_EQ(PackDateTime(DateTimeParts{1990, 16, 1, 0, 0, 0}), PackDateTime(DateTimeParts{1991, 0, 1, 0, 0, 0}));
    EXPECT_EQ(PackDateTime(DateTimeParts{1990, 1, 1, 0, 0, 64}), PackDateTime(DateTimeParts{1990, 1, 1, 0, 1, 0}));
    UnpackDateTime(0, &parts);
    EXPECT_EQ(parts.Year, 1980);
    EXPECT_EQ(parts.Month, 0);
}

TEST(DateTime, PackedStampsSurviveTheFileTimeRoundTrip) {
    for (PackedDateTime stamp : {PackDateTime(DateTimeParts{2003, 12, 31, 23, 59, 58}),
                                 PackDateTime(DateTimeParts{1980, 1, 1, 12, 0, 0}),
                                 PackDateTime(DateTimeParts{2024, 2, 29, 6, 30, 2}),
                                 PackDateTime(DateTimeParts{2107, 12, 31, 23, 59, 58})}) {
        FileTime utc = 0;
        PackedToFileTime(stamp, &utc);
        EXPECT_NE(utc, 0u);
        EXPECT_EQ(FileTimeToPacked(utc), stamp) << std::hex << stamp;
    }
}

TEST_F(FileLayer, FileStampsRoundTrip) {
    HandleGuard file(CreateOrTruncateFile(At("stamp.bin").c_str(), 0));
    ASSERT_EQ(LastFileError, 0u);
    PackedDateTime stamp = PackDateTime(DateTimeParts{2001, 7, 4, 13, 14, 16});
    SetFilePackedTime(file.get(), stamp);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetFilePackedTime(file.get()), stamp);
    EXPECT_EQ(LastFileError, 0u);
    CloseFileHandle(file.get());
    DirEntry entry;
    BeginDirSearch(At("stamp.bin").c_str(), 0x3F, &entry);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_EQ(entry.Time, stamp);
    EndDirSearch(&entry);
}

TEST_F(FileLayer, PathKinds) {
    ASSERT_TRUE(WriteFileBytes(At("file.txt"), "f"));
    MakeDirectory(At("dir").c_str());
    EXPECT_EQ(GetPathKind(nullptr), PathMissing);
    EXPECT_EQ(GetPathKind(At("file.txt").c_str()), PathIsFile);
    EXPECT_EQ(GetPathKind(At("dir").c_str()), PathIsDirectory);
    EXPECT_EQ(GetPathKind(At("dir\\").c_str()), PathIsDirectory);
    EXPECT_EQ(GetPathKind(At("missing").c_str()), PathMissing);
    EXPECT_EQ(GetPathKind(At("missing\\deeper").c_str()), PathMissing);
    EXPECT_TRUE(IsExistingDirectory(At("dir\\").c_str()));
    EXPECT_FALSE(IsExistingDirectory(At("file.txt").c_str()));
    EXPECT_TRUE(IsExistingPath(At("file.txt").c_str()));
    EXPECT_FALSE(IsExistingPath(At("missing").c_str()));

    // IsExistingFile never touches LastFileError.
    LastFileError = 1234;
    EXPECT_TRUE(IsExistingFile(At("file.txt").c_str()));
    EXPECT_FALSE(IsExistingFile(At("dir").c_str()));
    EXPECT_FALSE(IsExistingFile(At("missing").c_str()));
    EXPECT_EQ(LastFileError, 1234u);
}

TEST_F(FileLayer, PathKindOfTheRootEntersIt) {
    std::string root = DriveRootOf(Root());
    EXPECT_EQ(GetPathKind(root.c_str()), PathIsDirectory);
    EXPECT_EQ(CurrentDirectory(), root);
}

TEST_F(FileLayer, CreateFileWithDirectoriesWalksDown) {
    MakeDirectory(At("T").c_str());
    std::string path = At("T\\a\\b\\f.dat");
    HandleGuard file(CreateFileWithDirectories(path.c_str(), false));
    ASSERT_EQ(LastFileError, 0u);
    ASSERT_NE(file.get(), InvalidFileHandle);
    ASSERT_NE(file.get(), nullptr);
    uint16_t done = 0;
    WriteFileBlock(file.get(), "deep", 4, &done);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(CurrentDirectory(), At("T\\a\\b"));  // left at the deepest component
    EXPECT_EQ(GetPathKind(path.c_str()), PathIsFile);

    // Where the directories exist the file is made at once; the current
    // directory stays where it was.
    ChangeCurrentDirectory(Root().c_str());
    HandleGuard again(CreateFileWithDirectories(At("T\\a\\g.dat").c_str(), false));
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(CurrentDirectory(), Root());
}

TEST_F(FileLayer, CreateFileWithDirectoriesOnlyMakesDirectories) {
    MakeDirectory(At("T").c_str());
    EXPECT_EQ(CreateFileWithDirectories(At("T\\x\\").c_str(), true), nullptr);
    EXPECT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetPathKind(At("T\\x").c_str()), PathIsDirectory);
    EXPECT_EQ(CurrentDirectory(), At("T\\x"));
    EXPECT_EQ(SearchNames(At("T\\x\\*.*"), 0x3F), (std::set<std::string>{".", ".."}));

    // Without a trailing backslash the last component is a file name.
    EXPECT_EQ(CreateFileWithDirectories(At("T\\y").c_str(), true), nullptr);
    EXPECT_EQ(GetPathKind(At("T\\y").c_str()), PathMissing);
    EXPECT_EQ(CreateFileWithDirectories(At("T\\p\\q\\name").c_str(), true), nullptr);
    EXPECT_EQ(GetPathKind(At("T\\p\\q").c_str()), PathIsDirectory);
    EXPECT_EQ(GetPathKind(At("T\\p\\q\\name").c_str()), PathMissing);

    // Nor is a bare name, relative to the current directory.
    ChangeCurrentDirectory(At("T").c_str());
    EXPECT_EQ(CreateFileWithDirectories("bare", true), nullptr);
    EXPECT_EQ(GetPathKind(At("T\\bare").c_str()), PathMissing);
}

TEST_F(FileLayer, CreateFileWithDirectoriesRelativeAndBlocked) {
    // A relative path is walked from the current directory, but the second
    // try resolves it again from where the walk ended: it fails cleanly.
    ChangeCurrentDirectory(Root().c_str());
    HandleGuard relative(CreateFileWithDirectories("r1\\r2\\f.txt", false));
    EXPECT_EQ(relative.get(), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    EXPECT_EQ(CurrentDirectory(), At("r1\\r2"));
    EXPECT_EQ(testutil::ListFilesRecursive(Root()).size(), 0u);

    // A file in the way: the walk stops, and the second try reports its failure.
    ASSERT_TRUE(WriteFileBytes(At("blocker"), "b"));
    EXPECT_EQ(CreateFileWithDirectories(At("blocker\\sub\\f.txt").c_str(), false), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorPathNotFound});
    std::string kept;
    ASSERT_TRUE(ReadFileBytes(At("blocker"), &kept));
    EXPECT_EQ(kept, "b");
}

TEST_F(FileLayer, LongPathsAreRefusedNotOverrun) {
    std::string deep = Root();
    while (deep.size() < 300) deep += "\\abcdefghij";
    // The walk works on at most 259 characters; nothing beyond is made.
    EXPECT_EQ(CreateFileWithDirectories((deep + "\\").c_str(), true), nullptr);
    EXPECT_EQ(CreateFileWithDirectories((deep + "\\f").c_str(), false), InvalidFileHandle);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(GetPathKind((deep + "\\f").c_str()), PathMissing);
}

TEST(DbcsFileNames, TrailByteIsNotASeparator) {
    testutil::ScratchDir scratch("dbcs");
    testutil::CurrentDirectoryGuard cwd;
#ifndef _WIN32
    TheHostUi.dbcs = true;
#endif
    InitDbcsFlag();
    bool enabled = DbcsEnabled;
    if (enabled) {
        // 0x95 0x5C is one Shift-JIS character whose trail byte is "\".
        std::string dir = scratch.Join("\x95\x5C");
        HandleGuard file(CreateFileWithDirectories((dir + "\\f.txt").c_str(), false));
        EXPECT_EQ(LastFileError, 0u);
        EXPECT_EQ(GetPathKind(dir.c_str()), PathIsDirectory);
        EXPECT_EQ(GetPathKind((dir + "\\f.txt").c_str()), PathIsFile);
        EXPECT_EQ(GetPathKind(scratch.Join("\x95").c_str()), PathMissing);
    }
#ifndef _WIN32
    TheHostUi.dbcs = false;
#endif
    DbcsEnabled = false;
    if (!enabled) GTEST_SKIP() << "needs a double-byte ANSI code page (run with LC_ALL=ja_JP.UTF-8)";
}

#ifndef _WIN32
// What the POSIX backend must do itself because POSIX would not.
TEST_F(FileLayer, PosixKeepsWindowsRulesThatPosixLacks) {
    // Read-only files refuse writing and truncation, even to root.
    std::string path = At("ro.bin");
    ASSERT_TRUE(WriteFileBytes(path, "keep"));
    SetPathAttributes(path.c_str(), AttrReadOnly);
    EXPECT_EQ(OpenExistingFile(path.c_str(), 2), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
    EXPECT_EQ(CreateOrTruncateFile(path.c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorAccessDenied});
    std::string kept;
    ASSERT_TRUE(ReadFileBytes(path, &kept));
    EXPECT_EQ(kept, "keep");
    HandleGuard reader(OpenExistingFile(path.c_str(), 0));
    EXPECT_EQ(LastFileError, 0u);

    // Like the ANSI Win32 calls, more than 259 characters are refused.
    std::string long_name = Root() + "\\" + std::string(300 - Root().size(), 'n');
    EXPECT_EQ(CreateOrTruncateFile(long_name.c_str(), 0), InvalidFileHandle);
    EXPECT_EQ(LastFileError, uint32_t{ErrorFilenameExcedRange});

    // Descriptor 0 is never a handle: 0 means "no handle" to callers.
    int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    close(0);
    FileHandle handle = OpenExistingFile(path.c_str(), 0);
    int restored = dup2(saved_stdin, 0);
    close(saved_stdin);
    ASSERT_EQ(restored, 0);
    EXPECT_NE(handle, nullptr);
    EXPECT_NE(handle, InvalidFileHandle);
    char byte = 0;
    uint16_t done = 0;
    ReadFileBlock(handle, &byte, 1, &done);
    EXPECT_EQ(byte, 'k');
    CloseFileHandle(handle);
    EXPECT_EQ(LastFileError, 0u);
}
#endif

TEST_F(FileLayer, ReadOnlyDirectoryStillTakesFiles) {
    MakeDirectory(At("ro").c_str());
    SetPathAttributes(At("ro").c_str(), AttrReadOnly | AttrDirectory);
    EXPECT_EQ(LastFileError, 0u);
    HandleGuard file(CreateOrTruncateFile(At("ro\\inside.txt").c_str(), 0));
    EXPECT_EQ(LastFileError, 0u);
#ifndef _WIN32
    // Root writes anywhere; for everyone else the owner must keep write permission.
    struct stat info;
    ASSERT_EQ(stat(testutil::NativePath(At("ro")).c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u);
#endif
    SetPathAttributes(At("ro").c_str(), 0);
}

#ifndef _WIN32
// A full disk is ERROR_DISK_FULL (112), with the bytes that did fit counted.
TEST_F(FileLayer, FullDiskReportsDiskFull) {
    std::string mount_point = At("small");
    MakeDirectory(mount_point.c_str());
    std::string native = testutil::NativePath(mount_point);
    if (testutil::Run("mount -t tmpfs -o size=64k tmpfs " + testutil::ShellQuote(native) + " 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    struct Unmount {
        std::string dir;
        ~Unmount() { testutil::Run("umount " + testutil::ShellQuote(dir)); }
    } unmount{native};

    std::string block(32768, 'z');
    uint16_t done = 0;
    uint32_t written = 0;
    {
        HandleGuard file(CreateOrTruncateFile((mount_point + "\\big.bin").c_str(), 0));
        ASSERT_EQ(LastFileError, 0u);
        for (int i = 0; i < 8 && LastFileError == 0; ++i) {
            WriteFileBlock(file.get(), block.data(), static_cast<uint16_t>(block.size()), &done);
            written += done;
        }
        EXPECT_EQ(LastFileError, uint32_t{ErrorDiskFull});
        EXPECT_LT(done, block.size());
        EXPECT_EQ(GetOpenFileSize(file.get()), written);
    }
    ChangeCurrentDirectory(Root().c_str());
}
#endif
