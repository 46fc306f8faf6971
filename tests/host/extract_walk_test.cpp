// The walk over whole archives made by real tools, compared with Python's
// zipfile; its results for damaged archives and for names that try to leave
// the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
