// The directory reader through the platform's own file layer, on small
// archives laid out here (no archiving tools where these tests also run),
// and the walk's judgement of entry names.
#include <gtest/gtest.h>

#include <string>

#include "launcher/archive_directory.h"
#include "launcher/entry_path.h"
#include "tests/common/test_util.h"

namespace {

std::string Le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16)); }

std::string CentralHeader(const std::string& name, uint8_t host, uint8_t attributes, uint32_t size) {
    return Le32(0x02014B50) + Le16(static_cast<uint16_t>(host << 8 | 20)) + Le16(20) + Le16(0) + Le16(8) +
           Le32(0x5A214C3E) + Le32(0x12345678) + Le32(size / 2) + Le32(size) + Le16(static_cast<uint16_t>(name.size())) +
           Le16(0) + Le16(0) + Le16(0) + Le16(0) + Le32(attributes) + Le32(0) + name;
}

std::string EndRecord(uint32_t directoryOffset) {
    return Le32(0x06054B50) + std::string(12, '\0') + Le32(directoryOffset) + Le16(0);
}

class ArchiveDirectoryUnit : public ::testing::Test {
protected:
    int32_t Open(const std::string& bytes) {
        testutil::WriteFileBytes(path_, bytes);
        return OpenArchiveDirectory(path_.c_str(), &d_, 0, 0);
    }
    testutil::ScratchDir dir_{"ad"};
    std::string path_ = dir_.Join("a.zip");
    ArchiveDirectory d_{};
};

TEST_F(ArchiveDirectoryUnit, WalksEntriesBehindAStub) {
    std::string stub(100, 'S');
    std::string directory = CentralHeader("dir/sub/a.txt", 0, 0x21, 1000) + CentralHeader("b.txt", 3, 0x21, 7);
    ASSERT_EQ(Open(stub + directory + EndRecord(100) + std::string(5000, 'T')), ArchiveOpen);
    EXPECT_STREQ(d_.Name, "dir\\sub\\a.txt");
    EXPECT_EQ(d_.Attributes, 0x21);
    EXPECT_EQ(d_.UncompressedSize, 1000u);
    EXPECT_EQ(d_.CompressedSize, 500u);
    EXPECT_EQ(d_.Crc32, 0x12345678u);
    EXPECT_EQ(d_.DosDateTime, 0x5A214C3Eu);
    EXPECT_EQ(d_.Method, 8);
    ASSERT_EQ(NextArchiveEntry(&d_), ArchiveOpen);
    EXPECT_STREQ(d_.Name, "b.txt");
    EXPECT_EQ(d_.Attributes, 0) << "not an MS-DOS host";
    EXPECT_EQ(NextArchiveEntry(&d_), ArchiveNoEntry);
    EXPECT_EQ(d_.Buffer, nullptr);
    EXPECT_EQ(NextArchiveEntry(&d_), ArchiveNoEntry);
    CloseArchiveDirectory(&d_);
    CloseArchiveDirectory(&d_);
}

TEST_F(ArchiveDirectoryUnit, OpenResults) {
    EXPECT_EQ(OpenArchiveDirectory(dir_.Join("missing.zip").c_str(), &d_, 0, 0), ArchiveUnreadable);
    EXPECT_EQ(Open(""), ArchiveUnreadable);
    EXPECT_EQ(Open(EndRecord(0).substr(0, 21)), ArchiveUnreadable);
    // A signature within the last 21 bytes is never looked at.
    EXPECT_EQ(Open(std::string(300, 'S') + EndRecord(0).substr(0, 21)), ArchiveUnreadable);
    EXPECT_EQ(Open(testutil::RandomBytes(30000, 5)), ArchiveUnreadable);
    EXPECT_EQ(Open(EndRecord(0)), ArchiveTooShort);
    EXPECT_EQ(Open(std::string(45, 'S') + EndRecord(45)), ArchiveTooShort);
    EXPECT_EQ(Open(std::string(46, 'S') + EndRecord(46)), ArchiveNoEntry);
    EXPECT_EQ(d_.Buffer, nullptr);
    // A directory that would start behind its own end record.
    EXPECT_EQ(Open(std::string(100, 'S') + EndRecord(200)), ArchiveUnreadable);
}

TEST(EntryNames, OnlyNamesBelowTheDestinationPass) {
    for (const char* good : {"a.txt", "dir\\sub\\a.txt", "dir\\", "..a", "a..", "a\\..b\\c", ".profile", "ab:c"}) {
        EXPECT_TRUE(IsContainedEntryName(good)) << good;
    }
    for (const char* bad : {"..", "..\\x", "a\\..\\..\\x", "\\abs", "\\\\server\\share\\x", "C:x", "c:\\x",
                            "a\\...\\x", "a\\.. \\x", "a\\. .", "a\\.."}) {
        EXPECT_FALSE(IsContainedEntryName(bad)) << bad;
    }
}

TEST(EntryNames, PathsMustFitTheBuffer) {
    char path[PathBufferSize];
    std::string dest = "C:\\T\\$qv0\\";
    std::string fits(259 - dest.size(), 'n');
    ASSERT_TRUE(BuildEntryPath(dest.c_str(), fits.c_str(), 0, path));
    EXPECT_EQ(std::string(path), dest + fits);
    EXPECT_FALSE(BuildEntryPath(dest.c_str(), (fits + "n").c_str(), 0, path));
    // A directory entry gets a "\" added by the engine: one character less.
    EXPECT_FALSE(BuildEntryPath(dest.c_str(), fits.c_str(), AttrDirectory, path));
    EXPECT_TRUE(BuildEntryPath(dest.c_str(), (fits.substr(1) + "\\").c_str(), AttrDirectory, path));
}

}  // namespace
