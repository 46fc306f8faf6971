// ExtractEntry through the platform's own file layer (also under Wine): an
// archive put together here from bytes, with a stored entry, deflated ones
// (one with a data descriptor) and a directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "support/file_layer.h"
#include "tests/common/test_util.h"

namespace {

constexpr uint32_t Time2003 = 0x2F9FBF7Du;  // 2003-12-31 23:59:58
const std::string Hello = "Hello, world!\r\n";
const std::string Abc = "abcabcabcabcabcabc-abcabcabcabcabcabc\r\n";
// Raw deflate of Abc by zlib (level 9): a fixed block with matches.
const std::string AbcDeflated("\x4b\x4c\x4a\x4e\x44\x45\xba\x89\x18\x42\xbc\x5c\x00", 13);
constexpr uint32_t HelloCrc = 0x6E815DA5u;
constexpr uint32_t AbcCrc = 0x4B7681C6u;

void Put16(std::string& b, uint16_t v) {
    b.push_back(static_cast<char>(v));
    b.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
}

// Appends a local header and the data; returns the header's offset.
uint32_t AddEntry(std::string& zip, const std::string& name, uint16_t flags, uint16_t method, uint32_t crc,
                  const std::string& data, uint32_t size) {
    uint32_t offset = static_cast<uint32_t>(zip.size());
    Put32(zip, 0x04034B50u);
    Put16(zip, 20);
    Put16(zip, flags);
    Put16(zip, method);
    Put32(zip, Time2003);
    Put32(zip, crc);
    Put32(zip, static_cast<uint32_t>(data.size()));
    Put32(zip, size);
    Put16(zip, static_cast<uint16_t>(name.size()));
    Put16(zip, 0);
    zip += name + data;
    return offset;
}

class ExtractEntryUnitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BuildCrcTable(); }
    void SetUp() override {
        stored = AddEntry(zip, "hello.txt", 0, 0, HelloCrc, Hello, 15);
        deflated = AddEntry(zip, "abc.txt", 0, 8, AbcCrc, AbcDeflated, 39);
        // Streamed: no CRC or sizes in the header, a descriptor behind the data.
        streamed = AddEntry(zip, "abc2.txt", 8, 8, 0, AbcDeflated, 0);
        zip[streamed + 18] = zip[streamed + 19] = 0;  // compressed size 0 as well
        Put32(zip, 0x08074B50u);
        Put32(zip, AbcCrc);
        Put32(zip, 13);
        Put32(zip, 39);
        directory = AddEntry(zip, "sub/", 0, 0, 0, "", 0);
        archive = dir.Join("package.zip");
        ASSERT_TRUE(testutil::WriteFileBytes(archive, zip));
    }
    int32_t Extract(uint32_t offset, const std::string& as, uint16_t attributes = 0) {
        testutil::CurrentDirectoryGuard cwd;
        return ExtractEntry(archive.c_str(), dir.Join(as).c_str(), attributes, offset, nullptr, 0);
    }
    std::string Read(const std::string& as) {
        std::string bytes;
        testutil::ReadFileBytes(dir.Join(as), &bytes);
        return bytes;
    }

    testutil::ScratchDir dir{"unit-entry"};
    std::string zip, archive;
    uint32_t stored = 0, deflated = 0, streamed = 0, directory = 0;
};

TEST_F(ExtractEntryUnitTest, StoredDeflatedStreamedAndDirectory) {
    ASSERT_EQ(Extract(stored, "out\\hello.txt"), ExtractOk);
    EXPECT_EQ(Read("out\\hello.txt"), Hello);
    ASSERT_EQ(Extract(deflated, "out\\deep\\er\\abc.txt"), ExtractOk);
    EXPECT_EQ(Read("out\\deep\\er\\abc.txt"), Abc);
    ASSERT_EQ(Extract(streamed, "out\\abc2.txt"), ExtractOk);
    EXPECT_EQ(Read("out\\abc2.txt"), Abc);
    ASSERT_EQ(Extract(directory, "out\\sub\\"), ExtractOk);
    EXPECT_TRUE(IsExistingDirectory(dir.Join("out\\sub").c_str()));

    FileHandle f = OpenExistingFile(dir.Join("out\\deep\\er\\abc.txt").c_str(), 0);
    ASSERT_NE(f, InvalidFileHandle);
    EXPECT_EQ(GetFilePackedTime(f), Time2003);
    CloseFileHandle(f);
}

TEST_F(ExtractEntryUnitTest, FailuresLeaveNoFile) {
    std::string bad = zip;
    bad[deflated + 14] = static_cast<char>(bad[deflated + 14] ^ 1);  // header CRC
    bad[stored + 30 + 9] = 'X';                                       // stored data
    ASSERT_TRUE(testutil::WriteFileBytes(archive, bad));
    EXPECT_EQ(Extract(deflated, "abc.txt"), ExtractCrcMismatch);
    EXPECT_EQ(Extract(stored, "hello.txt"), ExtractCrcMismatch);
    EXPECT_EQ(Extract(stored + 1, "nowhere.txt"), ExtractCorrupt);
    EXPECT_FALSE(testutil::PathExists(dir.Join("abc.txt")));
    EXPECT_FALSE(testutil::PathExists(dir.Join("hello.txt")));
    EXPECT_FALSE(testutil::PathExists(dir.Join("nowhere.txt")));
}

}  // namespace

// Every way of folding (the carry-less multiply on 256- and 128-bit registers
// where the processor has it, and the tables alone) against the byte-wise
// loop, over lengths around the 16-, 64- and 128-byte steps and every alignment.
TEST(Crc32, AgreesWithTheByteWiseLoop) {
    BuildCrcTable();
    const bool carryless = CrcCarryless, wide = CrcWide;
    std::vector<uint8_t> data(4096 + 16);
    uint32_t seed = 12345;
    for (uint8_t& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    for (int level : {2, 1, 0}) {  // what the processor offers, the 128-bit fold, the tables
        CrcWide = wide && level == 2;
        CrcCarryless = carryless && level >= 1;
        for (size_t length : {0, 1, 15, 16, 17, 63, 64, 65, 79, 127, 128, 200, 255, 256, 1000, 4096}) {
            for (size_t offset = 0; offset < 16; ++offset) {
                uint32_t start = 0xFFFFFFFFu ^ static_cast<uint32_t>(length * 0x9E3779B9u + offset);
                uint32_t want = start;
                for (size_t i = 0; i < length; ++i) want = CrcTable[(want ^ data[offset + i]) & 0xFF] ^ (want >> 8);
                EXPECT_EQ(UpdateCrc32(data.data() + offset, length, start), want)
                    << "length " << length << " offset " << offset << " level " << level;
            }
        }
    }
    CrcCarryless = carryless;
    CrcWide = wide;
    EXPECT_EQ(~UpdateCrc32(reinterpret_cast<const uint8_t*>(Hello.data()), Hello.size(), 0xFFFFFFFFu), HelloCrc);
}
