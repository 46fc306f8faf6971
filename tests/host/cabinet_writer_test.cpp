// The cabinet container: bytes worked out by hand from the MS-CAB
// description, cabextract (and gcab where present) as readers we did not
// write, and what the format cannot hold refused before anything is written.
#include "tools/cepack/cabinet_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/test_util.h"

using cepack::CabinetCompression;
using cepack::CabinetMember;
using cepack::CabinetSource;
using cepack::WriteCabinet;
using testutil::NativePath;
using testutil::ScratchDir;
using testutil::ShellQuote;

namespace {

// Gives data at most chunk bytes at a time, so members cross block edges mid-call.
CabinetSource FromMemory(const std::string& data, size_t chunk = 777) {
    auto at = std::make_shared<size_t>(0);
    return [data, chunk, at](uint8_t* out, size_t capacity, size_t* got, std::string*) {
        size_t n = std::min({capacity, chunk, data.size() - *at});
        std::memcpy(out, data.data() + *at, n);
        *at += n;
        *got = n;
        return true;
    };
}

CabinetMember Member(const std::string& name, const std::string& data, uint16_t date = 0x5A8A,
                     uint16_t time = 0x645C) {
    return CabinetMember{name, data.size(), date, time, FromMemory(data)};
}

bool Write(const std::string& path, const std::vector<CabinetMember>& members, CabinetCompression compression,
           std::string* error) {
    FILE* out = std::fopen(NativePath(path).c_str(), "wb");
    if (!out) {
        *error = "can't create " + path;
        return false;
    }
    bool ok = WriteCabinet(out, members, compression, error);
    std::fclose(out);
    return ok;
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(testutil::ReadFileBytes(path, &bytes)) << path;
    return bytes;
}

TEST(CabinetWriterTest, TwoStoredMembersMatchTheBytesWorkedOutByHand) {
    const uint8_t expected[] = {
        // CFHEADER
        'M', 'S', 'C', 'F',  // signature
        0, 0, 0, 0,          // reserved1
        104, 0, 0, 0,        // cbCabinet: 36 + 8 + 22 + 23 + 15
        0, 0, 0, 0,          // reserved2
        44, 0, 0, 0,         // coffFiles: behind the header and the one folder
        0, 0, 0, 0,          // reserved3
        3, 1,                // versionMinor, versionMajor
        1, 0,                // cFolders
        2, 0,                // cFiles
        0, 0,                // flags: no reserve, no neighbouring cabinets
        0, 0,                // setID
        0, 0,                // iCabinet
        // CFFOLDER
        89, 0, 0, 0,  // coffCabStart: 44 + 22 + 23
        1, 0,         // cCFData
        0, 0,         // typeCompress: none
        // CFFILE "X.000"
        5, 0, 0, 0,   // cbFile
        0, 0, 0, 0,   // uoffFolderStart
        0, 0,         // iFolder
        0x8A, 0x5A,   // date 2025-04-10
        0x5C, 0x64,   // time 12:34:56
        0, 0,         // attribs: plain
        'X', '.', '0', '0', '0', 0,
        // CFFILE "AB.001"
        2, 0, 0, 0,   // cbFile
        5, 0, 0, 0,   // uoffFolderStart: behind "hello"
        0, 0,         // iFolder
        0x8B, 0x5A,   // date 2025-04-11
        0x01, 0x00,   // time 00:00:02
        0, 0,         // attribs
        'A', 'B', '.', '0', '0', '1', 0,
        // CFDATA: csum = "hell" 0x6C6C6568 ^ tail "oxy" taken high first 0x006F7879
        //         = 0x6C031D11, then ^ the sizes 07 00 07 00 as 0x00070007 = 0x6C041D16
        0x16, 0x1D, 0x04, 0x6C,  // csum
        7, 0,                    // cbData
        7, 0,                    // cbUncomp
        'h', 'e', 'l', 'l', 'o', 'x', 'y',
    };
    ScratchDir dir("cabw");
    std::string error;
    ASSERT_TRUE(Write(dir.Join("two.cab"),
                      {Member("X.000", "hello", 0x5A8A, 0x645C), Member("AB.001", "xy", 0x5A8B, 0x0001)},
                      CabinetCompression::None, &error))
        << error;
    EXPECT_EQ(ReadBytes(dir.Join("two.cab")), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

std::string Compressible(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 97) + " of the readme\r\n";
    return text.substr(0, size);
}

struct Source {
    std::string name;
    std::string data;
};

// Members in the given order: a small one, one spanning four blocks that does
// not compress, an empty one, and a compressible one over two block edges.
std::vector<Source> Sources() {
    return {{"SETUP.000", Compressible(100)},
            {"BIG.001", testutil::RandomBytes(100000, 26)},
            {"EMPTY.002", ""},
            {"TEXT.003", Compressible(70000)}};
}

std::vector<CabinetMember> Members(const std::vector<Source>& sources) {
    std::vector<CabinetMember> members;
    for (const Source& s : sources) members.push_back(Member(s.name, s.data));
    return members;
}

void ExpectExtractsAll(const std::string& command, const std::string& dir, const std::vector<Source>& sources) {
    int status = -1;
    std::string text = testutil::RunOutput(command + " 2>&1", &status);
    ASSERT_EQ(status, 0) << command << "\n" << text;
    for (const Source& s : sources) {
        std::string got;
        ASSERT_TRUE(testutil::ReadFileBytes(dir + "\\" + s.name, &got)) << command << ": " << s.name;
        EXPECT_TRUE(got == s.data) << command << ": " << s.name << " differs";
    }
}

TEST(CabinetWriterTest, CabextractListsAndExtractsStoredAndMszipCabinets) {
    if (!testutil::HaveProgram("cabextract")) GTEST_SKIP() << "needs cabextract (scripts/setup.sh installs it)";
    std::vector<Source> sources = Sources();
    ScratchDir dir("cabw");
    std::string cabinets[2];
    for (CabinetCompression compression : {CabinetCompression::None, CabinetCompression::Mszip}) {
        bool mszip = compression == CabinetCompression::Mszip;
        SCOPED_TRACE(mszip ? "mszip" : "stored");
        std::string cab = dir.Join(mszip ? "mszip.cab" : "stored.cab");
        std::string error;
        ASSERT_TRUE(Write(cab, Members(sources), compression, &error)) << error;
        std::string bytes = ReadBytes(cab);
        cabinets[mszip] = bytes;
        ASSERT_GT(bytes.size(), 43u);
        EXPECT_EQ(bytes[42], mszip ? 1 : 0) << "typeCompress";

        int status = -1;
        std::string listing = testutil::RunOutput("cabextract -l " + ShellQuote(NativePath(cab)) + " 2>&1", &status);
        ASSERT_EQ(status, 0) << listing;
        size_t last = 0;
        for (const Source& s : sources) {
            size_t at = listing.find(s.name);
            ASSERT_NE(at, std::string::npos) << listing;
            EXPECT_GT(at, last) << s.name << " out of order:\n" << listing;
            last = at;
        }
        EXPECT_EQ(testutil::Run("cabextract -t -q " + ShellQuote(NativePath(cab)) + " >/dev/null 2>&1"), 0) << "checksums or data";

        std::string out = dir.Join(mszip ? "x-mszip" : "x-stored");
        ExpectExtractsAll("cabextract -q -d " + ShellQuote(NativePath(out)) + " " + ShellQuote(NativePath(cab)),
                          out, sources);
        if (testutil::HaveProgram("gcab")) {
            std::string gout = dir.Join(mszip ? "g-mszip" : "g-stored");
            ExpectExtractsAll("mkdir -p " + ShellQuote(NativePath(gout)) + " && gcab -x -C " +
                                  ShellQuote(NativePath(gout)) + " " + ShellQuote(NativePath(cab)),
                              gout, sources);
        }

        std::string again = dir.Join("again.cab");
        ASSERT_TRUE(Write(again, Members(sources), compression, &error)) << error;
        EXPECT_TRUE(ReadBytes(again) == bytes) << "the same members gave other bytes";
    }
    EXPECT_LT(cabinets[1].size(), cabinets[0].size() - 50000) << "MSZIP did not shrink the text";
}

TEST(CabinetWriterTest, CabextractTakesACabinetOfOnlyAnEmptyMember) {
    if (!testutil::HaveProgram("cabextract")) GTEST_SKIP() << "needs cabextract (scripts/setup.sh installs it)";
    ScratchDir dir("cabw");
    std::vector<Source> sources = {{"EMPTY.000", ""}};
    for (CabinetCompression compression : {CabinetCompression::None, CabinetCompression::Mszip}) {
        std::string cab = dir.Join("empty.cab"), out = dir.Join("x");
        std::string error;
        ASSERT_TRUE(Write(cab, Members(sources), compression, &error)) << error;
        ExpectExtractsAll("cabextract -q -d " + ShellQuote(NativePath(out)) + " " + ShellQuote(NativePath(cab)),
                          out, sources);
    }
}

CabinetSource NeverRead() {
    return [](uint8_t*, size_t, size_t*, std::string*) {
        ADD_FAILURE() << "a refused cabinet read its sources";
        return false;
    };
}

CabinetMember Unread(const std::string& name, uint64_t size = 0) { return {name, size, 0, 0, NeverRead()}; }

TEST(CabinetWriterTest, RefusesWhatTheFormatCannotHoldBeforeWritingAnything) {
    struct Case {
        const char* why;
        std::vector<CabinetMember> members;
    };
    std::vector<CabinetMember> tooMany;
    for (size_t i = 0; i <= cepack::CabinetMaxMembers; ++i) tooMany.push_back(Unread("A.000"));
    std::vector<Case> cases = {
        {"no members", {}},
        {"65536 members", tooMany},
        {"base over 8", {Unread("ABCDEFGHI.000")}},
        {"extension over 3", {Unread("A.0000")}},
        {"empty name", {Unread("")}},
        {"no base", {Unread(".000")}},
        {"trailing dot", {Unread("A.")}},
        {"two dots", {Unread("A.B.C")}},
        {"blank", {Unread("A B.000")}},
        {"path", {Unread("A\\B.000")}},
        {"beyond ASCII", {Unread("\xC3\x89T\xC3\x89.000")}},
        {"same name in other case", {Unread("a.000"), Unread("A.000")}},
        {"one member over a folder", {Unread("A.000", cepack::CabinetMaxData + 1)}},
        {"members together over a folder",
         {Unread("A.000", cepack::CabinetMaxData - 10), Unread("A.001", 11)}},
    };
    ScratchDir dir("cabw");
    for (const Case& c : cases) {
        std::string cab = dir.Join("refused.cab"), error;
        EXPECT_FALSE(Write(cab, c.members, CabinetCompression::None, &error)) << c.why;
        EXPECT_FALSE(error.empty()) << c.why;
        EXPECT_EQ(ReadBytes(cab), "") << c.why;
    }
    EXPECT_TRUE(cepack::IsCabinetMemberName("SAMPLE~1.000"));
    EXPECT_TRUE(cepack::IsCabinetMemberName("README"));
}

TEST(CabinetWriterTest, StopsWhenASourceFailsOrDisagreesWithItsSize) {
    CabinetSource failing = [](uint8_t*, size_t, size_t*, std::string* error) {
        *error = "disk on fire";
        return false;
    };
    struct Case {
        const char* why;
        CabinetMember member;
        const char* message;
    };
    std::vector<Case> cases = {
        {"shorter", {"A.001", 6, 0, 0, FromMemory("hello")}, "did not match its size"},
        {"longer", {"A.001", 4, 0, 0, FromMemory("hello")}, "did not match its size"},
        {"longer at a block edge", {"A.001", 32768, 0, 0, FromMemory(std::string(32769, 'a'))}, "did not match"},
        {"read error", {"A.001", 5, 0, 0, failing}, "disk on fire"},
    };
    ScratchDir dir("cabw");
    for (const Case& c : cases) {
        for (CabinetCompression compression : {CabinetCompression::None, CabinetCompression::Mszip}) {
            std::string error;
            EXPECT_FALSE(Write(dir.Join("bad.cab"), {Member("SETUP.000", "x"), c.member}, compression, &error))
                << c.why;
            EXPECT_NE(error.find(c.message), std::string::npos) << c.why << ": " << error;
        }
    }
}

}  // namespace
