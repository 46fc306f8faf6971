// The walk over whole archives made by real tools, compared with Python's
// zipfile; its results for damaged archives and for names that try to leave
// the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <string>
#include <vector>

#include "launcher/extract_driver.h"
#include "launcher/extract_entry.h"
#include "support/progress.h"
#include "tests/common/test_util.h"
#include "tests/host/zip_fixtures.h"

using namespace ziptest;
using testutil::NativePath;
using testutil::ScratchDir;

namespace {

class ExtractWalkTest : public ToolArchiveTest {
protected:
    // A fresh destination directory (with its trailing "\") in the work area.
    std::string Destination(const std::string& name) {
        std::string dir = Out(name);
        testutil::RemoveTree(dir);
        EXPECT_EQ(Sh("mkdir -p " + Q(dir)), 0);
        return dir + "\\";
    }
    // The engine leaves the current directory inside the destination, which
    // the next case removes: each walk gets it back.
    int32_t Walk(const std::string& archive, const std::string& destination) {
        testutil::CurrentDirectoryGuard guard;
        return ExtractAllEntries(archive.c_str(), destination.c_str(), 0, 0);
    }
};

TEST_F(ExtractWalkTest, EachToolsArchiveIsReadAndExtractedLikeZipfile) {
    std::string a = Out("a.zip"), stub = Out("stub.exe"), package = Out("package.exe");
    WriteBytes(stub, testutil::RandomBytes(5000, 11));
    struct Case {
        const char* name;
        std::string command;
        std::string archive;
    };
    std::vector<Case> cases = {
        {"zip", InSource("zip -q -r " + Q(a) + " ."), a},
        {"zip -0", InSource("zip -q -0 -r " + Q(a) + " ."), a},
        {"zip -9", InSource("zip -q -9 -r " + Q(a) + " ."), a},
        {"zip streamed", InSource("zip -q -r - . | cat > " + Q(a)), a},
        {"zip stdin entry", InSource("cat readme.txt | zip -q " + Q(a) + " - && zip -q " + Q(a) + " setup.exe"), a},
        {"zip -A", InSource("zip -q -r " + Q(a) + " . && cat " + Q(stub) + " " + Q(a) + " > " + Q(package) +
                            " && zip -q -A " + Q(package)),
         package},
        {"7z", InSource("7z a -tzip -bd -y " + Q(a) + " . >/dev/null"), a},
        {"bsdtar", InSource("bsdtar --format zip -cf " + Q(a) + " ."), a},
        // Names beyond ASCII, flagged as UTF-8.
        {"7z UTF-8 names", "mkdir -p " + Q(Out("u8")) + "/\xE8\xA1\xA8 && cd " + Q(Out("u8")) +
                               " && printf x > caf\xC3\xA9.txt && printf y > \xE8\xA1\xA8/\xE6\xBC\xA2.txt"
                               " && LC_ALL=C.UTF-8 7z a -tzip -bd -y " + Q(a) + " . >/dev/null",
         a},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::RemoveTree(a);
        ASSERT_EQ(Sh(c.command), 0) << c.command;
        ExpectWalkMatchesOracle(c.archive);
        std::string ours = Destination("ours"), theirs = Destination("theirs");
        uint64_t sum = 0;
        for (const ListedEntry& e : OracleListing(c.archive)) sum += e.size;
        EXPECT_EQ(SumUncompressedSizes(c.archive.c_str(), 0, 0), static_cast<int32_t>(sum));
        ASSERT_EQ(Walk(c.archive, ours), WalkOk);
        ASSERT_TRUE(OracleExtract(c.archive, theirs.substr(0, theirs.size() - 1)));
        EXPECT_TRUE(SameTree(ours.substr(0, ours.size() - 1), theirs.substr(0, theirs.size() - 1)));
    }
}

TEST_F(ExtractWalkTest, SizingRefusesArchivesWithoutData) {
    std::string a = Out("a.zip");
    EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), -1);  // missing
    WriteBytes(a, std::string(100, 'S'));
    PythonZip(a, "pass");
    EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), -1);
    EXPECT_EQ(Walk(a, Destination("dest")), WalkOk) << "no entries counts as done";
    testutil::RemoveTree(a);
    PythonZip(a, "z.writestr('empty1', '')\nz.writestr('dir/', '')");
    EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), -1);
}

TEST_F(ExtractWalkTest, UnreadableDirectoryGivesMinusTwo) {
    std::string a = Out("a.zip");
    EXPECT_EQ(Walk(a, Destination("dest")), WalkUnreadable);
    ASSERT_EQ(Sh(InSource("zip -q -r " + Q(a) + " .")), 0);
    std::string bytes = ReadBytes(a);
    WriteBytes(a, bytes.substr(0, bytes.size() * 2 / 3));  // a broken download
    EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), -1);
    EXPECT_EQ(Walk(a, Destination("dest")), WalkUnreadable);
    EXPECT_TRUE(testutil::ListFilesRecursive(Out("dest")).empty());
}

// Three entries; the middle one is damaged by the edit. The walk stops there:
// the first file stays, the second and third are never written.
class DamagedEntryTest : public ExtractWalkTest {
protected:
    std::string MakeArchive(const std::string& compression) {
        std::string a = Out("d.zip");
        PythonZip(a, "z.writestr('first.txt', 'first entry', zipfile.ZIP_STORED)\n"
                     "z.writestr('second.bin', bytes(range(256)) * 40, zipfile." + compression + ")\n"
                     "z.writestr('third.txt', 'third entry', zipfile.ZIP_STORED)");
        return a;
    }
    void ExpectStopsAtSecond(const std::string& archive, int32_t expected) {
        std::string dest = Destination("dest");
        EXPECT_EQ(Walk(archive, dest), expected);
        EXPECT_EQ(testutil::ListFilesRecursive(Out("dest")), std::vector<std::string>{"first.txt"});
    }
    size_t SecondLocalHeader(const std::string& bytes) { return FindSignature(bytes, 3, 4, 1); }
};

TEST_F(DamagedEntryTest, UnsupportedMethodEncryptionAndBadDataAreDefective) {
    std::string a = MakeArchive("ZIP_DEFLATED");
    std::string good = ReadBytes(a);
    size_t second = SecondLocalHeader(good);

    std::string bytes = good;
    PutLe16(&bytes, second + 8, 12);  // bzip2: known to ZIP, not decoded here
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);

    bytes = good;
    bytes[second + 6] |= 1;  // encrypted
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);

    bytes = good;
    bytes[second + 30 + 10 + 20] ^= 0x55;  // inside the deflated data
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);

    bytes = good;
    bytes[second] = 'X';  // local header signature
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);
}

TEST_F(DamagedEntryTest, CrcMismatchAndTruncatedDataAreDefective) {
    std::string a = MakeArchive("ZIP_STORED");
    std::string good = ReadBytes(a);
    size_t second = SecondLocalHeader(good);
    std::string bytes = good;
    bytes[second + 30 + 10 + 100] ^= 1;
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);

    // The local header claims more stored bytes than the file holds.
    bytes = good;
    PutLe32(&bytes, second + 18, 0x7FFFFF00);
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);
}

TEST_F(DamagedEntryTest, AnUncreatableOutputIsAWriteError) {
    std::string a = Out("w.zip");
    PythonZip(a, "z.writestr('first.txt', 'first')\nz.writestr('sub/second.txt', 'second')\n"
                 "z.writestr('third.txt', 'third')");
    std::string dest = Destination("dest");
    WriteBytes(dest + "sub", "a file where a directory is needed");
    EXPECT_EQ(Walk(a, dest), WalkWriteError);
    EXPECT_EQ(testutil::ListFilesRecursive(Out("dest")), (std::vector<std::string>{"first.txt", "sub"}));
}

struct CancellingSink : HostProgressSink {
    int messages = 0;
    void OnProgress(int16_t id, int32_t) override {
        EXPECT_EQ(id, ProgressCommandId);
        if (++messages == 1) RequestCancel();
    }
};

TEST_F(ExtractWalkTest, ACancelFromTheProgressDialogEndsTheWalk) {
    std::string a = Out("c.zip");
    PythonZip(a, "z.writestr('big.bin', bytes(range(256)) * 4000, zipfile.ZIP_DEFLATED)\n"
                 "z.writestr('after.txt', 'after')");
    CancellingSink sink;
    ProgressDialog = &sink;
    int32_t result = Walk(a, Destination("dest"));
    ProgressDialog = nullptr;
    EXPECT_EQ(result, WalkCancelled);
    EXPECT_GT(sink.messages, 0);
    EXPECT_TRUE(testutil::ListFilesRecursive(Out("dest")).empty());
}

TEST_F(ExtractWalkTest, NamesThatLeaveTheDestinationAreRefused) {
    for (std::string evil : {"../x", "..\\x", "/abs", "\\abs", "C:x", "c:\\x", "\\\\server\\share\\x", "//server/share/x",
                             "a/../../x", "a/b/../../../x", "a/.../x", "a/.. /x", "..", "a\\..\\..\\x"}) {
        SCOPED_TRACE(evil);
        std::string a = Out("evil.zip");
        testutil::RemoveTree(a);
        std::string quoted;
        for (char c : evil) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
        PythonZip(a, "z.writestr('first.txt', 'first')\n"
                     "z.writestr(ZipInfo('" + quoted + "'), 'escaped')\n"
                     "z.writestr('after.txt', 'after')");
        std::string dest = work_.Join("dest\\inner\\");
        testutil::RemoveTree(work_.Join("dest"));
        ASSERT_EQ(Sh("mkdir -p " + Q(work_.Join("dest\\inner"))), 0);
        EXPECT_EQ(Walk(a, dest), WalkDefective);
        // Nothing beside the archive and the first entry anywhere in the work area.
        EXPECT_EQ(testutil::ListFilesRecursive(work_.Path()),
                  (std::vector<std::string>{"dest/inner/first.txt", "evil.zip"}));
        EXPECT_FALSE(testutil::PathExists("\\abs"));
        EXPECT_FALSE(testutil::PathExists("\\x"));
    }
}

TEST_F(ExtractWalkTest, PathsLongerThanABufferAreRefused) {
    std::string dest = Destination("dest");
    size_t room = 259 - dest.size();
    auto nameOf = [](size_t length) {
        std::string name = std::string(100, 'd') + "/";
        return name + std::string(length - name.size(), 'f');
    };
    std::string a = Out("long.zip");
    PythonZip(a, "z.writestr('" + nameOf(room) + "', 'fits exactly')");
    EXPECT_EQ(Walk(a, dest), WalkOk);
    EXPECT_EQ(ReadBytes(dest + nameOf(room)), "fits exactly");

    testutil::RemoveTree(a);
    PythonZip(a, "z.writestr('" + nameOf(room + 1) + "', 'one too many')");
    dest = Destination("dest");
    EXPECT_EQ(Walk(a, dest), WalkDefective);
    EXPECT_TRUE(testutil::ListFilesRecursive(Out("dest")).empty());

    // A directory entry without its "\" gets one added: that must fit too.
    testutil::RemoveTree(a);
    PythonZip(a, "i = ZipInfo('" + nameOf(room) + "'); i.create_system = 0; i.external_attr = 0x10\n"
                 "z.writestr(i, '')");
    EXPECT_EQ(Walk(a, Destination("dest")), WalkDefective);
}

TEST_F(ExtractWalkTest, ReadOnlyEntriesAreUnpackedWritable) {
    std::string a = Out("ro.zip");
    PythonZip(a, "i = ZipInfo('ro.txt'); i.create_system = 0; i.external_attr = 0x21\n"
                 "z.writestr(i, 'read only in the archive')");
    std::string dest = Destination("dest");
    ASSERT_EQ(Walk(a, dest), WalkOk);
    struct stat st {};
    ASSERT_EQ(stat(NativePath(dest + "ro.txt").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
}

// ZIP guards names by nothing but their second copy in the local header, and
// the directory's extent by the end record's count: a damage to either must
// not unpack as a different set of files.
TEST_F(DamagedEntryTest, ADirectoryThatBreaksOffOrStartsLateIsDefective) {
    std::string a = MakeArchive("ZIP_STORED");
    std::string good = ReadBytes(a);
    size_t first = FindSignature(good, 1, 2, 0), second = FindSignature(good, 1, 2, 1);
    size_t end = FindSignature(good, 5, 6);
    auto expectDefective = [&](const std::string& bytes, const char* what) {
        SCOPED_TRACE(what);
        WriteBytes(a, bytes);
        EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), -1);
        EXPECT_EQ(Walk(a, Destination("dest")), WalkDefective);
    };
    std::string bytes = good;
    bytes[second + 2] = 9;
    expectDefective(bytes, "second header's signature");
    bytes = good;
    PutLe16(&bytes, first + 28, 10);  // "first.txt" is 9 long
    expectDefective(bytes, "first name one byte longer");
    bytes = good;
    PutLe32(&bytes, end + 16, static_cast<uint32_t>(second));
    expectDefective(bytes, "directory said to start at the second header");
    bytes = good;
    PutLe16(&bytes, end + 10, 4);
    expectDefective(bytes, "end record counts one entry more");
}

TEST_F(DamagedEntryTest, ANameUnlikeItsLocalCopyIsDefective) {
    std::string a = MakeArchive("ZIP_DEFLATED");
    std::string good = ReadBytes(a);
    for (size_t at : {FindSignature(good, 1, 2, 1) + 46 + 3, SecondLocalHeader(good) + 30 + 3}) {
        std::string bytes = good;
        bytes[at] = 'X';  // "secXnd.bin" in one of the two
        WriteBytes(a, bytes);
        ExpectStopsAtSecond(a, WalkDefective);
    }
}

TEST_F(DamagedEntryTest, AFileWithTheDirectoryBitIsDefective) {
    std::string a = Out("attr.zip");
    PythonZip(a, "for name in ('first.txt', 'second.bin', 'third.txt'):\n"
                 "    i = ZipInfo(name); i.create_system = 0; i.external_attr = 0x20\n"
                 "    z.writestr(i, name * 50)");
    std::string bytes = ReadBytes(a);
    bytes[FindSignature(bytes, 1, 2, 1) + 38] |= 0x10;
    WriteBytes(a, bytes);
    ExpectStopsAtSecond(a, WalkDefective);
    EXPECT_FALSE(testutil::PathExists(Out("dest\\second.bin")));
}

TEST_F(ExtractWalkTest, AZip64EndRecordEndsTheWalkLikeTheEndRecord) {
    std::string a = Out("z64.zip");
    // zipfile adds the Zip64 end record and locator between the directory and
    // the end record once the entry count passes this limit.
    PythonZip(a, "zipfile.ZIP_FILECOUNT_LIMIT = 1\nz.writestr('a.txt', 'a')\nz.writestr('b.txt', 'b')");
    ASSERT_NE(FindSignature(ReadBytes(a), 6, 6), std::string::npos);
    EXPECT_EQ(SumUncompressedSizes(a.c_str(), 0, 0), 2);
    EXPECT_EQ(Walk(a, Destination("dest")), WalkOk);
    EXPECT_EQ(testutil::ListFilesRecursive(Out("dest")), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// Every byte of every header and of the end record damaged in turn, as the
// launcher meets it (sizing, then the walk): either refused, or exactly the
// packed files and nothing else.
TEST_F(ExtractWalkTest, NoDamagedHeaderByteUnpacksOtherFiles) {
    std::string a = Out("h.zip");
    PythonZip(a, "import zlib\n"
                 "for name, data, method in (('first.txt', b'first entry ' * 30, zipfile.ZIP_STORED),\n"
                 "        ('second.bin', bytes(range(256)) * 40, zipfile.ZIP_DEFLATED),\n"
                 "        ('third.txt', b'third entry ' * 30, zipfile.ZIP_DEFLATED)):\n"
                 "    i = ZipInfo(name); i.create_system = 0; i.external_attr = 0x20; i.compress_type = method\n"
                 "    z.writestr(i, data)");
    std::string good = ReadBytes(a);
    std::string original = Destination("original");
    ASSERT_EQ(Walk(a, original), WalkOk);
    auto everything = [](const std::string& coreDir) {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(NativePath(coreDir))) {
            out.push_back(e.path().lexically_relative(NativePath(coreDir)).generic_string() +
                          (e.is_directory() ? "/" : ""));
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<std::pair<size_t, size_t>> headers;  // [from, to)
    for (int n = 0; n < 3; ++n) {
        size_t local = FindSignature(good, 3, 4, n), central = FindSignature(good, 1, 2, n);
        headers.push_back({local, local + 30 + static_cast<unsigned char>(good[local + 26])});
        headers.push_back({central, central + 46 + static_cast<unsigned char>(good[central + 28])});
    }
    headers.push_back({FindSignature(good, 5, 6), good.size()});
    int refused = 0, unpacked = 0;
    for (auto [from, to] : headers) {
        for (size_t at = from; at < to; ++at) {
            for (int mask : {0xFF, 1 << (at % 8)}) {
                std::string bytes = good;
                bytes[at] = static_cast<char>(bytes[at] ^ mask);
                WriteBytes(a, bytes);
                std::string dest = Out("dest") + "\\";
                std::filesystem::remove_all(NativePath(dest));
                std::filesystem::create_directory(NativePath(dest));
                if (SumUncompressedSizes(a.c_str(), 0, 0) == -1 || Walk(a, dest) != WalkOk) {
                    ++refused;
                    continue;
                }
                ++unpacked;
                SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(mask));
                ASSERT_EQ(everything(Out("dest")), everything(Out("original")));
                ASSERT_TRUE(SameTree(Out("dest"), Out("original")));
            }
        }
    }
    // Fields nobody reads (versions, comment length, disk numbers) unpack.
    EXPECT_GT(unpacked, 50);
    EXPECT_GT(refused, 200);
}

}  // namespace
