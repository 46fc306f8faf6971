// Reading device cabinets back: a setup file written by hand from cabextract's
// description of the format, put into cabinets by our writer and by gcab,
// shown by cepack cab --show; the reader's member data against the sources;
// and damaged or hostile cabinets, each with its finding.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/test_util.h"
#include "tests/host/cepack_command.h"
#include "tools/cepack/cab_reader.h"
#include "tools/cepack/cabinet_writer.h"

using cepack::CabinetCompression;
using testutil::NativePath;
using testutil::ScratchDir;
using testutil::ShellQuote;

namespace {

#define W16(v) static_cast<uint8_t>((v) & 0xFF), static_cast<uint8_t>(((v) >> 8) & 0xFF)
#define W32(v) W16((v) & 0xFFFF), W16(((v) >> 16) & 0xFFFF)

// NOTES.000: installs notes.exe (member 1) into %CE1%\Notes, two values under
// HKLM\Software\Notes and a shortcut %CE11%\Notes to the program.
const uint8_t SetupFile[] = {
    // header, 100 bytes
    'M', 'S', 'C', 'E',
    W32(0),                 // unknown
    W32(262),               // size of the whole file
    W32(0), W32(1),         // unknown
    W32(2577),              // cpu: StrongARM
    W32(3), W32(0),         // at least CE 3.0
    W32(5), W32(2),         // at most CE 5.2
    W32(0), W32(0),         // builds: any
    W16(3), W16(1), W16(1), W16(1), W16(2), W16(1),  // STRINGS DIRS FILES REGHIVES REGKEYS LINKS
    W32(116), W32(149), W32(159), W32(181), W32(195), W32(246),  // their offsets
    W16(100), W16(6),       // application name
    W16(106), W16(5),       // provider
    W16(111), W16(5),       // unsupported platforms
    W16(0), W16(0),         // unknown
    // 100: strings of the header
    'N', 'o', 't', 'e', 's', 0,
    'A', 'C', 'M', 'E', 0,
    'H', 'P', 'C', 0, 0,
    // 116: STRINGS
    W16(1), W16(6), '%', 'C', 'E', '1', '%', 0,
    W16(2), W16(6), 'N', 'o', 't', 'e', 's', 0,
    W16(3), W16(9), 'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', 0,
    // 149: DIRS: directory 1 = strings 1, 2
    W16(1), W16(6), W16(1), W16(2), W16(0),
    // 159: FILES: member 1 into directory 1, always overwrite
    W16(1), W16(1), W16(1), W32(0x40000000), W16(10), 'n', 'o', 't', 'e', 's', '.', 'e', 'x', 'e', 0,
    // 181: REGHIVES: hive 1 = HKLM \ strings 3, 2
    W16(1), W16(3), W16(0), W16(6), W16(3), W16(2), W16(0),
    // 195: REGKEYS: a DWORD, then a string substituted on the device, not clobbered
    W16(1), W16(1), W16(0), W32(0x00010001), W16(9), 'S', 'i', 'z', 'e', 0, W32(4096),
    W16(2), W16(1), W16(1), W32(0x00000002), W16(18), 'P', 'a', 't', 'h', 0,
    '%', 'I', 'n', 's', 't', 'a', 'l', 'l', 'D', 'i', 'r', '%', 0,
    // 246: LINKS: %CE11%\Notes to file 1
    W16(1), W16(0), W16(11), W16(1), W16(1), W16(4), W16(2), W16(0),
};
static_assert(sizeof SetupFile == 262, "the header's size and offsets count these bytes");

const char* const Shown =
    "setup file: NOTES.000 (%s)\n"
    "application: \"Notes\"\n"
    "provider: \"ACME\"\n"
    "cpu: 2577 (StrongARM)\n"
    "version: 3.0 to 5.2\n"
    "build: any to any\n"
    "unsupported platform: \"HPC\"\n"
    "directory 1: %%CE1%%\\Notes\n"
    "file 1: NOTES.001 -> %%CE1%%\\Notes\\notes.exe (always overwrite)\n"
    "registry: HKLM\\Software\\Notes \"Size\" = dword 0x00001000 (4096)\n"
    "registry: HKLM\\Software\\Notes \"Path\" = string \"%%InstallDir%%\" (no-clobber) (substituted)\n"
    "shortcut 1: %%CE11%%\\Notes -> file %%CE1%%\\Notes\\notes.exe\n";

std::string Expected(bool mszip) {
    char text[1024];
    std::snprintf(text, sizeof text, Shown, mszip ? "MSZIP" : "uncompressed");
    return text;
}

std::string SetupBytes() { return std::string(reinterpret_cast<const char*>(SetupFile), sizeof SetupFile); }
const std::string Program = "MZ the program's bytes";

cepack::CabinetSource FromMemory(const std::string& data) {
    auto at = std::make_shared<size_t>(0);
    return [data, at](uint8_t* out, size_t capacity, size_t* got, std::string*) {
        *got = std::min(capacity, data.size() - *at);
        std::memcpy(out, data.data() + *at, *got);
        *at += *got;
        return true;
    };
}

std::string MakeCabinet(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members,
                        CabinetCompression compression) {
    std::vector<cepack::CabinetMember> list;
    for (const auto& m : members) list.push_back({m.first, m.second.size(), 0x5A8A, 0, FromMemory(m.second)});
    FILE* out = std::fopen(NativePath(path).c_str(), "wb");
    std::string error;
    EXPECT_TRUE(out && cepack::WriteCabinet(out, list, compression, &error)) << error;
    if (out) std::fclose(out);
    std::string bytes;
    EXPECT_TRUE(testutil::ReadFileBytes(path, &bytes));
    return bytes;
}

int Show(const std::string& cab, std::string* text) {
    int status = -1;
    *text = testutil::RunOutput(cepacktest::CepackCommand() + " cab --show " + ShellQuote(NativePath(cab)) + " 2>&1",
                                &status);
    return status;
}

TEST(CabShowTest, ShowsTheHandWrittenSetupFileFromOurCabinetsAndGcabs) {
    ScratchDir dir("cabshow");
    for (bool mszip : {false, true}) {
        std::string cab = dir.Join(mszip ? "z.cab" : "s.cab"), text;
        MakeCabinet(cab, {{"NOTES.000", SetupBytes()}, {"NOTES.001", Program}},
                    mszip ? CabinetCompression::Mszip : CabinetCompression::None);
        EXPECT_EQ(Show(cab, &text), 0) << text;
        EXPECT_EQ(text, Expected(mszip));
    }
    if (!testutil::HaveProgram("gcab")) GTEST_SKIP() << "needs gcab (scripts/setup.sh installs it)";
    ASSERT_TRUE(testutil::WriteFileBytes(dir.Join("NOTES.000"), SetupBytes()));
    ASSERT_TRUE(testutil::WriteFileBytes(dir.Join("NOTES.001"), Program));
    for (bool mszip : {false, true}) {
        std::string cab = dir.Join(mszip ? "gz.cab" : "gs.cab"), text;
        std::string made = testutil::RunOutput("cd " + ShellQuote(NativePath(dir.Path())) + " && gcab -c -n " +
                                               (mszip ? "-z " : "") + ShellQuote(NativePath(cab)) +
                                               " NOTES.000 NOTES.001 2>&1");
        EXPECT_EQ(Show(cab, &text), 0) << made << text;
        EXPECT_EQ(text, Expected(mszip));
    }
}

// Every member read back through the reader equals its source: stored and
// MSZIP, members crossing block edges, the window carried across blocks.
TEST(CabShowTest, ReaderGivesEveryMembersBytes) {
    std::string text;
    for (size_t i = 0; text.size() < 90000; ++i) text += "line " + std::to_string(i % 89) + " of the notes\r\n";
    std::vector<std::pair<std::string, std::string>> members = {
        {"NOTES.000", SetupBytes()}, {"BIG.002", testutil::RandomBytes(70000, 7)}, {"NONE.003", ""},
        {"TEXT.001", text}};
    ScratchDir dir("cabshow");
    for (CabinetCompression compression : {CabinetCompression::None, CabinetCompression::Mszip}) {
        std::string bytes = MakeCabinet(dir.Join("r.cab"), members, compression);
        cepack::CabReader reader(bytes.size(), [&bytes](uint64_t at, uint8_t* out, size_t count) {
            std::memcpy(out, bytes.data() + at, count);
            return count;
        });
        std::vector<cepack::CabinetFinding> findings;
        ASSERT_TRUE(reader.ReadDirectory(&findings));
        ASSERT_EQ(reader.Files().size(), members.size());
        for (size_t i = 0; i < members.size(); ++i) {
            std::vector<uint8_t> data;
            ASSERT_TRUE(reader.ReadMember(i, 1 << 20, &data, &findings)) << members[i].first;
            EXPECT_TRUE(std::string(data.begin(), data.end()) == members[i].second) << members[i].first;
        }
        std::vector<uint8_t> data;
        EXPECT_FALSE(reader.ReadMember(3, 1000, &data, &findings)) << "over the limit";
        EXPECT_TRUE(data.empty());
    }
}

// The writer's stored cabinet of NOTES.000 and NOTES.001: the setup file's
// data starts behind the header, the folder, two file entries and the block
// header.
constexpr size_t FolderAt = 36, FirstFileAt = 44, BlockAt = 36 + 8 + 2 * 26, SetupAt = BlockAt + 8;

struct Damage {
    const char* what;
    bool mszip;
    size_t at;           // absolute in the cabinet
    std::string bytes;   // written there; empty: none
    size_t keep;         // > 0: the cabinet is cut to this
    bool keepChecksum;   // else the block's checksum is cleared, so the edit itself is read
    int status;
    const char* finding;
};

std::string B16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

const Damage Damages[] = {
    {"not a cabinet", false, 0, "MSCX", 0, false, 3, "is not a cabinet (no \"MSCF\" signature)"},
    {"header cut", false, 0, "", 20, false, 4, "is cut short: 20 bytes, less than a cabinet header"},
    {"cabinet cut", false, 0, "", 200, false, 4, "is cut short: its header gives 388 bytes, the file has 200"},
    {"data beyond the file", false, FolderAt, B16(0x7000), 0, false, 4,
     "data block 0 of folder 0 runs past the end of the cabinet"},
    {"LZX folder", false, FolderAt + 6, B16(3), 0, false, 4, "is compressed with LZX, which cepack cannot read"},
    {"checksum", false, SetupAt + 101, "X", 0, true, 4, "data block 0 of folder 0 fails its checksum"},
    {"MSZIP damaged", true, BlockAt + 8, "XK", 0, false, 4, "data block 0 of folder 0 is not valid MSZIP data"},
    {"setup file under its header", false, FirstFileAt, B16(50), 0, false, 4,
     "its setup file NOTES.000: is cut short: 50 bytes, less than its header"},
    {"STRINGS beyond the file", false, SetupAt + 60, B16(0xF000), 0, false, 4,
     "its STRINGS section runs past the end of the file (entry 1 of 3)"},
    {"huge count", false, SetupAt + 58, B16(0xFFFF), 0, false, 4,
     "its LINKS section runs past the end of the file (entry 2 of 65535)"},
    {"name past 64 KiB", false, SetupAt + 84, B16(0xFFF0), 0, false, 4,
     "its application name (6 bytes at 65520) lies past the end of the file (262 bytes)"},
    {"missing member", false, SetupAt + 159, B16(7), 0, false, 4,
     "installs notes.exe from member 7, which the cabinet does not hold (no NAME.007)"},
    {"missing string", false, SetupAt + 153, B16(9), 0, false, 4,
     "directory 1 names string 9, which its STRINGS section does not hold"},
    {"missing directory", false, SetupAt + 161, B16(8), 0, false, 4,
     "file 1 (notes.exe) goes to directory 8, which its DIRS section does not hold"},
    {"missing hive", false, SetupAt + 197, B16(5), 0, false, 4,
     "registry value 1 is in hive 5, which its REGHIVES section does not hold"},
    {"short DWORD", false, SetupAt + 205, B16(7), 0, false, 4, "registry value 1 is a DWORD of 2 bytes, not 4"},
    {"link to no file", false, SetupAt + 252, B16(4), 0, false, 4,
     "shortcut 1 points to file 4, which its FILES section does not hold"},
};

TEST(CabShowTest, DamagedAndHostileCabinetsGiveTheirFinding) {
    ScratchDir dir("cabshow");
    std::string cabinets[2];
    for (bool mszip : {false, true}) {
        cabinets[mszip] = MakeCabinet(dir.Join("base.cab"), {{"NOTES.000", SetupBytes()}, {"NOTES.001", Program}},
                                      mszip ? CabinetCompression::Mszip : CabinetCompression::None);
    }
    ASSERT_EQ(cabinets[0].substr(SetupAt, 4), "MSCE");
    for (const Damage& d : Damages) {
        SCOPED_TRACE(d.what);
        std::string bytes = cabinets[d.mszip];
        bytes.replace(d.at, d.bytes.size(), d.bytes);
        if (!d.keepChecksum) bytes.replace(BlockAt, 4, std::string(4, '\0'));
        if (d.keep > 0) bytes.resize(d.keep);
        std::string cab = dir.Join("damaged.cab"), text;
        ASSERT_TRUE(testutil::WriteFileBytes(cab, bytes));
        EXPECT_EQ(Show(cab, &text), d.status) << text;
        EXPECT_NE(text.find(d.finding), std::string::npos) << text;
    }
}

}  // namespace
