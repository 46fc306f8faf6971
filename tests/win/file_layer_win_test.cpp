// What only the Win32 backend can show: drive roots, hidden and system
// attributes, 8.3 names, sharing modes and the system's own time conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/file_identity_win32.h"
#include "support/file_layer.h"
#include "tests/common/test_util.h"

namespace {

class Win32FileLayer : public ::testing::Test {
protected:
    std::string At(const std::string& relative) const { return scratch_.Join(relative); }
    void MakeFile(const std::string& relative, DWORD attributes) {
        ASSERT_TRUE(testutil::WriteFileBytes(At(relative), relative));
        ASSERT_TRUE(SetFileAttributesA(At(relative).c_str(), attributes));
    }

    testutil::ScratchDir scratch_{"w32"};
    testutil::CurrentDirectoryGuard cwd_;
};

class LongNamesScope {
public:
    explicit LongNamesScope(bool on) { SetUseLongNames(on); }
    ~LongNamesScope() { SetUseLongNames(false); }
};

class Handle {
public:
    explicit Handle(FileHandle h) : handle_(h) {}
    ~Handle() {
        if (handle_ != InvalidFileHandle) CloseFileHandle(handle_);
    }
    FileHandle get() const { return handle_; }

private:
    FileHandle handle_;
};

std::set<std::string> SearchNames(const std::string& pattern, uint16_t mask) {
    std::set<std::string> names;
    DirEntry entry;
    for (BeginDirSearch(pattern.c_str(), mask, &entry); LastFileError == 0; ContinueDirSearch(&entry)) {
        names.insert(entry.Name);
    }
    return names;
}

// The one entry a pattern finds.
DirEntry FindOne(const std::string& pattern) {
    DirEntry entry;
    BeginDirSearch(pattern.c_str(), 0x3F, &entry);
    EXPECT_EQ(LastFileError, 0u) << pattern;
    EndDirSearch(&entry);
    return entry;
}

}  // namespace

TEST_F(Win32FileLayer, DriveRootIsADirectoryAndBecomesCurrent) {
    EXPECT_EQ(GetPathKind("C:\\"), PathIsDirectory);
    EXPECT_EQ(LastFileError, 0u);
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STREQ(current, "C:\\");
    EXPECT_TRUE(IsExistingDirectory("C:\\"));

    // A drive that does not exist leaves the current directory alone.
    ChangeCurrentDirectory(scratch_.Path().c_str());
    EXPECT_EQ(GetPathKind("Q:\\"), PathMissing);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(testutil::CurrentDirectory(), scratch_.Path());
}

TEST_F(Win32FileLayer, MaskRuleWithHiddenSystemAndReadOnly) {
    MakeFile("hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    MakeFile("system.txt", FILE_ATTRIBUTE_SYSTEM);
    MakeFile("readonly.txt", FILE_ATTRIBUTE_READONLY);
    MakeFile("archive.txt", FILE_ATTRIBUTE_ARCHIVE);
    MakeFile("plain.txt", FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(CreateDirectoryA(At("sub").c_str(), nullptr));
    if ((GetFileAttributesA(At("hidden.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
        GTEST_SKIP() << "this Wine prefix's file system keeps no DOS attributes";
    }

    EXPECT_EQ(FindOne(At("hidden.txt")).Attr, AttrHidden | AttrArchive);
    EXPECT_EQ(FindOne(At("system.txt")).Attr, AttrSystem | AttrArchive);
    // Wine keeps the archive bit on every file; Windows clears it for "normal".
    EXPECT_EQ(FindOne(At("plain.txt")).Attr & ~AttrArchive, 0);

    using Names = std::set<std::string>;
    std::string all = At("*.*");
    // Directories and plain files, with or without the archive bit; nothing
    // read-only, hidden or system.
    EXPECT_EQ(SearchNames(all, AttrDirectory), (Names{".", "..", "archive.txt", "plain.txt", "sub"}));
    EXPECT_EQ(SearchNames(all, 0), (Names{"archive.txt", "plain.txt"}));
    EXPECT_EQ(SearchNames(all, AttrHidden | AttrSystem), (Names{"archive.txt", "plain.txt", "hidden.txt", "system.txt"}));
    EXPECT_EQ(SearchNames(all, 0x3F).size(), 8u);

    // A single hidden entry under a mask without the hidden bit: no success
    // without an entry.
    DirEntry entry;
    BeginDirSearch(At("hidden.txt").c_str(), AttrDirectory, &entry);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(entry.SearchHandle, InvalidFileHandle);
    SetFileAttributesA(At("readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32FileLayer, ShortNamesFollowUseLongNames) {
    ASSERT_TRUE(testutil::WriteFileBytes(At("A long file name.text"), "x"));
    ASSERT_TRUE(testutil::WriteFileBytes(At("SHORT.TXT"), "y"));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(At("A long file name.text").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    std::string alternate = data.cAlternateFileName;
    if (alternate.empty()) GTEST_SKIP() << "this Wine prefix gives no 8.3 alternate names";

    {
        LongNamesScope scope(false);
        DirEntry entry = FindOne(At("A long file name.text"));
        EXPECT_EQ(entry.Name, alternate);
        EXPECT_EQ(entry.ShortName, alternate);
        entry = FindOne(At("SHORT.TXT"));
        EXPECT_STREQ(entry.Name, "SHORT.TXT");
        EXPECT_STREQ(entry.ShortName, "");
    }
    {
        LongNamesScope scope(true);
        DirEntry entry = FindOne(At("A long file name.text"));
        EXPECT_STREQ(entry.Name, "A long file name.text");
        EXPECT_EQ(entry.ShortName, alternate);
        entry = FindOne(At("SHORT.TXT"));
        EXPECT_STREQ(entry.Name, "SHORT.TXT");
        EXPECT_STREQ(entry.ShortName, "");
    }
}

TEST_F(Win32FileLayer, PackedTimesMatchTheSystemConversions) {
    Handle file(CreateOrTruncateFile(At("t.bin").c_str(), 0));
    ASSERT_EQ(LastFileError, 0u);
    PackedDateTime stamp = PackDateTime(DateTimeParts{2003, 12, 31, 23, 59, 58});
    SetFilePackedTime(file.get(), stamp);
    ASSERT_EQ(LastFileError, 0u);
    EXPECT_EQ(GetFilePackedTime(file.get()), stamp);

    FILETIME written, local;
    ASSERT_TRUE(GetFileTime(static_cast<HANDLE>(file.get()), nullptr, nullptr, &written));
    ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
    WORD date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&local, &date, &time));
    EXPECT_EQ(date, 0x2F9F);
    EXPECT_EQ(time, 0xBF7D);
    FileTime utc = 0;
    PackedToFileTime(stamp, &utc);
    EXPECT_EQ(utc, (FileTime{written.dwHighDateTime} << 32) | written.dwLowDateTime);

}

TEST_F(Win32FileLayer, FileBefore1980IsNoExistingFile) {
    Handle file(CreateOrTruncateFile(At("old.bin").c_str(), 0));
    ASSERT_EQ(LastFileError, 0u);
    SYSTEMTIME system = {};
    system.wYear = 1975;
    system.wMonth = 6;
    system.wDay = 1;
    FILETIME old;
    ASSERT_TRUE(SystemTimeToFileTime(&system, &old));
    ASSERT_TRUE(SetFileTime(static_cast<HANDLE>(file.get()), nullptr, nullptr, &old));
    CloseFileHandle(file.get());
    EXPECT_EQ(GetPathKind(At("old.bin").c_str()), PathIsFile);
    EXPECT_FALSE(IsExistingFile(At("old.bin").c_str()));
}

TEST_F(Win32FileLayer, SharingModes) {
    std::string path = At("shared.bin");
    ASSERT_TRUE(testutil::WriteFileBytes(path, "data"));
    struct Case {
        FileOpenMode first;
        FileOpenMode second;
        bool secondOpens;
    };
    const Case cases[] = {
        {0x00, 0x02, true},   // compatible: others may read and write
        {0x10, 0x00, false},  // exclusive
        {0x20, 0x00, true},   // deny write: readers are welcome
        {0x20, 0x01, false},  //   writers are not
        {0x30, 0x00, false},  // deny read
        {0x40, 0x02, true},   // deny none
        {0x50, 0x00, false},  // 5 and above: no sharing
        {0xF0, 0x00, false},
    };
    for (const Case& c : cases) {
        Handle first(OpenExistingFile(path.c_str(), c.first));
        ASSERT_EQ(LastFileError, 0u) << std::hex << int{c.first};
        Handle second(OpenExistingFile(path.c_str(), c.second));
        if (c.secondOpens) {
            EXPECT_EQ(LastFileError, 0u) << std::hex << int{c.first} << " " << int{c.second};
        } else {
            EXPECT_EQ(second.get(), InvalidFileHandle) << std::hex << int{c.first};
            EXPECT_EQ(LastFileError, uint32_t{ErrorSharingViolation}) << std::hex << int{c.first};
        }
    }
    // CreateOrTruncateFile shares read and write, but needs both itself.
    Handle reader(OpenExistingFile(path.c_str(), 0x00));
    Handle writer(CreateOrTruncateFile(path.c_str(), 0));
    EXPECT_EQ(LastFileError, 0u);
}

TEST_F(Win32FileLayer, InvalidHandlesFailQuietly) {
    EXPECT_EQ(GetFilePackedTime(InvalidFileHandle), 0u);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(GetOpenFileSize(InvalidFileHandle), 0u);
    EXPECT_NE(LastFileError, 0u);
    uint16_t done = 77;
    char byte;
    ReadFileBlock(InvalidFileHandle, &byte, 1, &done);
    EXPECT_NE(LastFileError, 0u);
    EXPECT_EQ(done, 0);
}

// A redirector that reports 0 for every file's index (or serial) must not
// make every destination file its own source: then the paths decide. Where
// the identities are known they decide, to the last of their 128 bits: ReFS
// files may share the 64-bit index.
TEST_F(Win32FileLayer, UnknownIdentityFallsBackToTheFullPaths) {
    MakeFile("own.ini", 0);
    MakeFile("other.ini", 0);
    FileIdentity known;
    known.volume = 7;
    known.id[0] = 42;
    FileIdentity noIndex = known;
    noIndex.id[0] = 0;
    FileIdentity noSerial = known;
    noSerial.volume = 0;
    FileIdentity beyond64 = known;
    beyond64.id[15] = 1;
    std::string own = At("own.ini");
    std::string respelled = At("SUB\\..\\OWN.INI");
    std::string other = At("other.ini");
    for (const auto* unknown : {&noIndex, &noSerial}) {
        EXPECT_FALSE(SameFileByIdentity(*unknown, *unknown, own.c_str(), other.c_str()));
        EXPECT_TRUE(SameFileByIdentity(*unknown, known, own.c_str(), respelled.c_str()));
    }
    EXPECT_TRUE(SameFileByIdentity(known, known, own.c_str(), other.c_str()));  // known identities decide
    EXPECT_FALSE(SameFileByIdentity(known, beyond64, own.c_str(), respelled.c_str()));
}
