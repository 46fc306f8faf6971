// The archive directory reader against archives made by real tools, with
// Python's zipfile as the oracle, and byte edits of those archives.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/archive_directory.h"
#include "tests/common/test_util.h"
#include "tests/host/zip_fixtures.h"

using namespace ziptest;
using testutil::ShellQuote;

namespace {

using ArchiveDirectoryTest = ToolArchiveTest;

TEST_F(ArchiveDirectoryTest, FindsTheArchiveBehindAStubAndInFrontOfTrailingData) {
    std::string plain = Out("plain.zip"), package = Out("package.exe");
    ASSERT_EQ(Sh(InSource("zip -q -r " + Q(plain) + " .")), 0);
    WriteBytes(package, testutil::RandomBytes(20000, 7) + ReadBytes(plain));
    ASSERT_EQ(Sh("zip -q -A " + Q(package)), 0);
    ExpectWalkMatchesOracle(package);
    std::string adjusted = ReadBytes(package);
    std::vector<ListedEntry> reference;
    ASSERT_EQ(WalkDirectory(package, &reference), ArchiveOpen);

    // Around each window boundary and far behind it: 4096-byte windows that
    // overlap by 22 bytes, so the record is found whole wherever it falls.
    for (size_t trailing : {1u, 21u, 22u, 4073u, 4074u, 4075u, 4754u, 8148u, 8149u, 8170u, 50000u}) {
        SCOPED_TRACE(trailing);
        WriteBytes(package, adjusted + std::string(2, '\0') + testutil::RandomBytes(trailing, 3));
        std::vector<ListedEntry> walked;
        ASSERT_EQ(WalkDirectory(package, &walked), ArchiveOpen);
        ASSERT_EQ(walked.size(), reference.size());
        EXPECT_EQ(walked.back().name, reference.back().name);
    }
}

TEST_F(ArchiveDirectoryTest, ReadsASignedPackage) {
    std::string pe;
    for (const char* candidate : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/hostname.exe",
                                  "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe"}) {
        if (testutil::PathExists(testutil::CorePath(candidate))) pe = candidate;
    }
    if (pe.empty() || !testutil::HaveProgram("osslsigncode") || !testutil::HaveProgram("openssl")) {
        GTEST_SKIP() << "no PE file, osslsigncode or openssl";
    }
    std::string plain = Out("plain.zip"), package = Out("package.exe"), signed_ = Out("signed.exe");
    std::string key = Out("key.pem"), cert = Out("cert.pem");
    ASSERT_EQ(Sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + Q(key) + " -out " + Q(cert) +
                  " -days 2 -subj /CN=cepack-test >/dev/null 2>&1"),
              0);
    ASSERT_EQ(Sh(InSource("zip -q -r " + Q(plain) + " .")), 0);
    ASSERT_EQ(Sh("cat " + ShellQuote(pe) + " " + Q(plain) + " > " + Q(package) + " && zip -q -A " + Q(package)), 0);
    ASSERT_EQ(Sh("osslsigncode sign -certs " + Q(cert) + " -key " + Q(key) + " -in " + Q(package) + " -out " +
                  Q(signed_) + " >/dev/null 2>&1"),
              0);
    std::string bytes = ReadBytes(signed_);
    ASSERT_GT(bytes.size(), ReadBytes(package).size()) << "the certificate sits behind the archive";
    ExpectWalkMatchesOracle(signed_);
}

TEST_F(ArchiveDirectoryTest, TheEndRecordNearestTheEndWins) {
    std::string a = Out("a.zip");
    ASSERT_EQ(Sh(InSource("zip -q -r " + Q(a) + " .")), 0);
    std::string bytes = ReadBytes(a);
    std::vector<ListedEntry> all;
    ASSERT_EQ(WalkDirectory(a, &all), ArchiveOpen);
    ASSERT_GE(all.size(), 3u);
    // A second end record in the trailing data whose directory starts at the
    // real directory's second header: the walk follows it, not the real one.
    size_t end = FindSignature(bytes, 5, 6);
    size_t second = FindSignature(bytes, 1, 2, 1);
    std::string fake = bytes.substr(end, 22);
    PutLe32(&fake, 16, static_cast<uint32_t>(second));
    WriteBytes(a, bytes + testutil::RandomBytes(100, 9) + fake + testutil::RandomBytes(30, 9));
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(a, &walked), ArchiveOpen);
    ASSERT_EQ(walked.size(), all.size() - 1);
    EXPECT_EQ(walked.front().name, all[1].name);
}

TEST_F(ArchiveDirectoryTest, BaseOffsetAndRangeSelectAnArchive) {
    std::string first = Out("first.zip"), second = Out("second.zip"), both = Out("both.bin");
    PythonZip(first, "z.writestr('first.txt', 'one')");
    PythonZip(second, "z.writestr('second.txt', 'two')\nz.writestr('third.txt', 'three')");
    std::string a = ReadBytes(first), b = ReadBytes(second);
    WriteBytes(both, a + b);
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(both, &walked, static_cast<uint32_t>(a.size())), ArchiveOpen);
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0].name, "second.txt");
    walked.clear();
    ASSERT_EQ(WalkDirectory(both, &walked, 0, static_cast<int32_t>(a.size())), ArchiveOpen);
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].name, "first.txt");
    // The record's 22 bytes must lie inside the range: one byte short misses it.
    walked.clear();
    EXPECT_EQ(WalkDirectory(both, &walked, 0, static_cast<int32_t>(a.size() - 1)), ArchiveUnreadable);
}

TEST_F(ArchiveDirectoryTest, CommentsAndExtraFieldsAreStepped) {
    std::string a = Out("c.zip");
    PythonZip(a, "i = ZipInfo('first.txt'); i.comment = b'c' * 300; i.extra = b'\\x99\\x99\\x04\\x00abcd'\n"
                 "z.writestr(i, 'one')\n"
                 "z.writestr('second.txt', 'two')\n"
                 "z.comment = b'PK archive comment'");
    ExpectWalkMatchesOracle(a);
}

TEST_F(ArchiveDirectoryTest, AMalformedHeaderEndsTheWalkLikeTheEndRecord) {
    std::string a = Out("a.zip");
    PythonZip(a, "for n in 'abc': z.writestr(n + '.txt', n)");
    std::string bytes = ReadBytes(a);
    bytes[FindSignature(bytes, 1, 2, 1) + 3] = 9;
    WriteBytes(a, bytes);
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(a, &walked), ArchiveOpen);
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].name, "a.txt");
}

TEST_F(ArchiveDirectoryTest, NamesAreCutConvertedAndUseBackslashes) {
    std::string a = Out("n.zip");
    std::string longName = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(94, 'c') + ".txt";
    ASSERT_EQ(longName.size(), 300u);
    PythonZip(a, "z.writestr('" + longName + "', 'long')\n"
                 "z.writestr('dir/sub/a.txt', 'a')\n"
                 "z.writestr('Xber.txt', 'oem')");
    // The name byte 0x81 is "\xFC" in code page 437: patch it into both headers.
    std::string bytes = ReadBytes(a);
    for (size_t at = bytes.find("Xber.txt"); at != std::string::npos; at = bytes.find("Xber.txt", at + 1)) {
        bytes[at] = static_cast<char>(0x81);
    }
    WriteBytes(a, bytes);
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(a, &walked), ArchiveOpen);
    ASSERT_EQ(walked.size(), 3u);
    std::string expected = longName.substr(0, 259);
    for (char& c : expected) {
        if (c == '/') c = '\\';
    }
    EXPECT_EQ(walked[0].name, expected);
    EXPECT_EQ(walked[1].name, "dir\\sub\\a.txt");
    EXPECT_EQ(walked[2].name, "\xC3\xBC" "ber.txt");  // UTF-8 on the host
}

TEST_F(ArchiveDirectoryTest, AttributesOnlyFromMsDosHosts) {
    std::string a = Out("attr.zip");
    PythonZip(a, "i = ZipInfo('ro.txt'); i.create_system = 0; i.external_attr = 0x21\n"
                 "z.writestr(i, 'read only')\n"
                 "i = ZipInfo('unix.txt'); i.create_system = 3; i.external_attr = (0o100444 << 16) | 0x21\n"
                 "z.writestr(i, 'unix')\n"
                 "i = ZipInfo('ntfs.txt'); i.create_system = 11; i.external_attr = 0x21\n"
                 "z.writestr(i, 'ntfs')");
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(a, &walked), ArchiveOpen);
    ASSERT_EQ(walked.size(), 3u);
    EXPECT_EQ(walked[0].attributes, 0x21);
    EXPECT_EQ(walked[1].attributes, 0);
    EXPECT_EQ(walked[2].attributes, 0);
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++count;
        closedir(d);
    }
    return count;
}

TEST_F(ArchiveDirectoryTest, LargeDirectoriesAreWalkedInChunks) {
    // Headers of 146 bytes: the one at 438 * 146 = 63948 straddles the first
    // chunk's end at 64000. A second archive mixes name lengths so that many
    // refills start at odd places.
    std::string a = Out("big.zip");
    PythonZip(a, "for k in range(600): z.writestr('%05d' % k + 'n' * 95, b'')");
    ExpectWalkMatchesOracle(a);
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(a, &walked), ArchiveOpen);
    ASSERT_EQ(walked.size(), 600u);
    EXPECT_EQ(walked[438].name, "00438" + std::string(95, 'n'));

    std::string b = Out("mixed.zip");
    PythonZip(b, "for k in range(3000): z.writestr('d%d/' % (k % 7) + 'x' * (k * 37 % 240) + '%d.bin' % k, b'k' * (k % 5))");
    ExpectWalkMatchesOracle(b);
}

TEST_F(ArchiveDirectoryTest, ChunkedModeHoldsTheFileUntilClosed) {
    std::string a = Out("big.zip");
    PythonZip(a, "for k in range(600): z.writestr('%05d' % k + 'n' * 95, b'')");
    int before = OpenDescriptors();
    ArchiveDirectory d;
    ASSERT_EQ(OpenArchiveDirectory(a.c_str(), &d, 0, 0), ArchiveOpen);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(NextArchiveEntry(&d), ArchiveOpen);
    CloseArchiveDirectory(&d);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(d.Buffer, nullptr);
    CloseArchiveDirectory(&d);  // twice is harmless
    EXPECT_EQ(NextArchiveEntry(&d), ArchiveNoEntry);

    // A small directory is read at once and the file closed at open.
    std::string small = Out("small.zip");
    PythonZip(small, "z.writestr('a', 'a')\nz.writestr('b', 'b')");
    ASSERT_EQ(OpenArchiveDirectory(small.c_str(), &d, 0, 0), ArchiveOpen);
    EXPECT_EQ(OpenDescriptors(), before);
    CloseArchiveDirectory(&d);

    // Failed opens release the file and the memory too.
    std::string bytes = ReadBytes(small);
    WriteBytes(small, bytes.substr(bytes.size() - 22));
    EXPECT_EQ(OpenArchiveDirectory(small.c_str(), &d, 0, 0), ArchiveTooShort);
    WriteBytes(small, testutil::RandomBytes(9000, 4));
    EXPECT_EQ(OpenArchiveDirectory(small.c_str(), &d, 0, 0), ArchiveUnreadable);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(d.Buffer, nullptr);
}

}  // namespace
