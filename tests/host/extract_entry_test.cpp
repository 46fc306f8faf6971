// ExtractEntry on archives made at test time by Info-ZIP zip and Python's
// zipfile, and on byte edits of them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "support/file_layer.h"
#include "support/platform.h"
#include "tests/common/test_util.h"

using testutil::ScratchDir;

namespace {

uint16_t Get16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t Get32(const std::string& b, size_t at) { return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16; }
void Put16(std::string& b, size_t at, uint16_t v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// What a test needs from the central directory.
struct Entry {
    std::string name;
    uint32_t local = 0;    // local header offset
    uint32_t central = 0;  // central header offset
};

std::vector<Entry> ReadEntries(const std::string& zip) {
    std::vector<Entry> entries;
    size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos) return entries;
    size_t p = Get32(zip, end + 16);
    while (p + 46 <= zip.size() && Get32(zip, p) == 0x02014B50) {
        Entry e;
        e.name = zip.substr(p + 46, Get16(zip, p + 28));
        e.local = Get32(zip, p + 42);
        e.central = static_cast<uint32_t>(p);
        entries.push_back(e);
        p += 46 + Get16(zip, p + 28) + Get16(zip, p + 30) + Get16(zip, p + 32);
    }
    return entries;
}

size_t DataStart(const std::string& zip, uint32_t local) { return local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28); }

struct ProgressRecorder : HostProgressSink {
    std::vector<int> percents;
    int cancelAbove = 1000;  // RequestCancel once a percent above this arrives
    void OnProgress(int16_t id, int32_t percent) override {
        EXPECT_EQ(id, 120);
        percents.push_back(percent);
        if (percent > cancelAbove) RequestCancel();
    }
};

class ExtractEntryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BuildCrcTable(); }
    void SetUp() override {
        if (!testutil::HaveProgram("zip") || !testutil::HaveProgram("python3")) GTEST_SKIP() << "needs zip and python3";
        src = dir.Join("src");
        out = dir.Join("out");
        testutil::Run("mkdir -p " + Q(src) + " " + Q(out));
    }
    static std::string Q(const std::string& corePath) { return testutil::ShellQuote(testutil::NativePath(corePath)); }

    // Writes the named files into src.
    void Files(const std::vector<std::pair<std::string, std::string>>& files) {
        for (const auto& [name, bytes] : files) {
            contents[name] = bytes;
            ASSERT_TRUE(testutil::WriteFileBytes(src + "\\" + name, bytes));
        }
    }
    // Runs a shell command inside src; returns the archive's bytes.
    std::string Make(const std::string& command, const std::string& zipName) {
        EXPECT_EQ(testutil::Run("cd " + Q(src) + " && " + command), 0) << command;
        std::string bytes;
        EXPECT_TRUE(testutil::ReadFileBytes(src + "\\" + zipName, &bytes));
        return bytes;
    }
    std::string Save(const std::string& bytes, const std::string& name = "edited.zip") {
        std::string path = dir.Join(name);
        EXPECT_TRUE(testutil::WriteFileBytes(path, bytes));
        return path;
    }
    int32_t Extract(const std::string& archive, const Entry& e, const std::string& as, uint16_t attributes = 0) {
        testutil::CurrentDirectoryGuard cwd;  // creating the directories walks the current directory
        return ExtractEntry(archive.c_str(), (out + "\\" + as).c_str(), attributes, e.local, &progress, 120);
    }
    bool Exists(const std::string& as) { return testutil::PathExists(out + "\\" + as); }
    std::string Read(const std::string& as) {
        std::string bytes;
        testutil::ReadFileBytes(out + "\\" + as, &bytes);
        return bytes;
    }

    ScratchDir dir{"entry"};
    std::string src, out;
    std::map<std::string, std::string> contents;
    ProgressRecorder progress;
};

std::string Text(size_t size, uint32_t seed) {
    std::string s;
    while (s.size() < size) s += "line " + std::to_string(seed++ % 977) + " of the readme, CeAppMgr.exe\r\n";
    s.resize(size);
    return s;
}

TEST_F(ExtractEntryTest, ArchivesFromZipAndPython) {
    Files({{"a.txt", Text(70000, 1)},
           {"b.bin", testutil::RandomBytes(50000, 2)},
           {"empty", ""},
           {"c.ini", Text(900, 3)}});
    const char* py =
        "python3 -c \"import zipfile,sys\n"
        "for m,n in ((zipfile.ZIP_STORED,'py0.zip'),(zipfile.ZIP_DEFLATED,'py8.zip')):\n"
        "  z=zipfile.ZipFile(n,'w',m)\n"
        "  [z.write(f) for f in ('a.txt','b.bin','empty','c.ini')]\n"
        "  z.close()\"";
    std::vector<std::pair<std::string, std::string>> archives = {
        {"zip -q plain.zip a.txt b.bin empty c.ini", "plain.zip"},
        {"zip -q -0 stored.zip a.txt b.bin empty c.ini", "stored.zip"},
        {"zip -q -9 best.zip a.txt b.bin empty c.ini", "best.zip"},
        {py, "py0.zip"},
        {"true", "py8.zip"},
    };
    for (const auto& [command, name] : archives) {
        std::string zip = Make(command, name);
        std::vector<Entry> entries = ReadEntries(zip);
        ASSERT_EQ(entries.size(), 4u) << name;
        for (const Entry& e : entries) {
            progress.percents.clear();
            std::string as = name + "." + e.name;
            ASSERT_EQ(Extract(src + "\\" + name, e, as), ExtractOk) << as;
            EXPECT_TRUE(Read(as) == contents[e.name]) << as;
            // The local header's time, exactly.
            FileHandle f = OpenExistingFile((out + "\\" + as).c_str(), 0);
            ASSERT_NE(f, InvalidFileHandle);
            EXPECT_EQ(GetFilePackedTime(f), Get32(zip, e.local + 10)) << as;
            CloseFileHandle(f);
            // Progress from 0 to 100, reported only when it changes.
            ASSERT_GE(progress.percents.size(), 2u);
            EXPECT_EQ(progress.percents.front(), 0);
            EXPECT_EQ(progress.percents.back(), 100);
            for (size_t i = 1; i + 1 < progress.percents.size(); ++i) {
                EXPECT_GT(progress.percents[i], progress.percents[i - 1]) << as;
            }
        }
    }
}

TEST_F(ExtractEntryTest, StreamedEntriesWithDataDescriptors) {
    Files({{"f.txt", Text(150000, 4)}, {"g.bin", testutil::RandomBytes(3000, 5)}});
    // zip writing to a pipe: sizes and CRC only in the descriptor (zip64 form
    // from stdin, plain form with -fz-); stored entries keep their sizes.
    struct Case {
        std::string command, zipName, member;
    };
    std::vector<Case> cases = {
        {"cat f.txt | zip -q - - | cat > s8.zip", "s8.zip", "f.txt"},
        {"zip -q -fz- - f.txt | cat > f8.zip", "f8.zip", "f.txt"},
        {"zip -q -0 - f.txt | cat > f0.zip", "f0.zip", "f.txt"},
        {"python3 -c \"import zipfile,sys\n"
         "z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
         "z.write('g.bin'); z.write('f.txt'); z.close()\" | cat > p8.zip",
         "p8.zip", "f.txt"},
    };
    for (const Case& c : cases) {
        std::string zip = Make(c.command, c.zipName);
        std::vector<Entry> entries = ReadEntries(zip);
        ASSERT_FALSE(entries.empty()) << c.zipName;
        const Entry& e = entries.back();
        ASSERT_NE(Get16(zip, e.local + 6) & 8, 0) << c.zipName << ": no descriptor flag";
        progress.percents.clear();
        ASSERT_EQ(Extract(src + "\\" + c.zipName, e, c.zipName), ExtractOk) << c.zipName;
        EXPECT_TRUE(Read(c.zipName) == contents[c.member]) << c.zipName;
        if (Get32(zip, e.local + 14) == 0 && Get16(zip, e.local + 8) == 8) {
            // Open-ended: no size to measure progress against until the end.
            EXPECT_EQ(progress.percents, (std::vector<int>{0, 100})) << c.zipName;
        }
        // A descriptor whose CRC is wrong fails the entry and leaves nothing.
        size_t descriptor = zip.find(std::string("PK\x07\x08", 4), DataStart(zip, e.local));
        ASSERT_NE(descriptor, std::string::npos) << c.zipName;
        std::string edited = zip;
        edited[descriptor + 4] = static_cast<char>(edited[descriptor + 4] ^ 0x40);
        EXPECT_EQ(Extract(Save(edited), e, "bad-" + c.zipName), ExtractCrcMismatch) << c.zipName;
        EXPECT_FALSE(Exists("bad-" + c.zipName));
    }
}

TEST_F(ExtractEntryTest, StreamedStoredEntryWithoutSizesIsNotTakenAsEmpty) {
    // Python streams a stored entry with sizes and CRC 0 in its local header.
    // Copying 0 bytes would "match" that CRC; the descriptor says otherwise.
    Files({{"h.txt", Text(5000, 6)}, {"e", ""}});
    std::string zip = Make(
        "python3 -c \"import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_STORED)\n"
        "z.write('h.txt'); z.write('e'); z.close()\" | cat > ps.zip",
        "ps.zip");
    std::vector<Entry> entries = ReadEntries(zip);
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_EQ(Get32(zip, entries[0].local + 18), 0u);
    EXPECT_EQ(Extract(src + "\\ps.zip", entries[0], "h.txt"), ExtractCrcMismatch);
    EXPECT_FALSE(Exists("h.txt"));
    // An empty one is confirmed by its descriptor's CRC 0.
    EXPECT_EQ(Extract(src + "\\ps.zip", entries[1], "e"), ExtractOk);
    EXPECT_EQ(Read("e"), "");
}

TEST_F(ExtractEntryTest, RefusedEntriesLeaveNothing) {
    Files({{"a.txt", Text(20000, 7)}, {"b.txt", Text(300, 8)}});
    std::string zip = Make("zip -q plain.zip a.txt b.txt", "plain.zip");
    std::string encrypted = Make("zip -q -e -P secret enc.zip a.txt", "enc.zip");
    std::vector<Entry> entries = ReadEntries(zip);
    ASSERT_EQ(entries.size(), 2u);
    const Entry& a = entries[0];

    EXPECT_EQ(Extract(src + "\\enc.zip", ReadEntries(encrypted)[0], "sub\\enc.txt"), ExtractEncrypted);
    EXPECT_FALSE(Exists("sub"));

    std::string edited = zip;
    Put16(edited, a.local + 8, 12);
    EXPECT_EQ(Extract(Save(edited), a, "m12\\a.txt"), ExtractUnsupportedMethod);
    EXPECT_FALSE(Exists("m12"));

    // Method 1 passes the first test: the file is made, then deleted; its
    // directory stays.
    Put16(edited, a.local + 8, 1);
    EXPECT_EQ(Extract(Save(edited), a, "m1\\a.txt"), ExtractUnsupportedMethod);
    EXPECT_TRUE(Exists("m1"));
    EXPECT_FALSE(Exists("m1\\a.txt"));

    edited = zip;
    edited[a.local] = 'X';
    EXPECT_EQ(Extract(Save(edited), a, "sig.txt"), ExtractCorrupt);
    Entry beyond = a;
    beyond.local = static_cast<uint32_t>(zip.size() + 100);
    EXPECT_EQ(Extract(src + "\\plain.zip", beyond, "beyond.txt"), ExtractCorrupt);
    EXPECT_EQ(Extract(dir.Join("missing.zip"), a, "missing.txt"), ExtractReadFailed);
    EXPECT_TRUE(testutil::ListFilesRecursive(out).empty());
}

TEST_F(ExtractEntryTest, CrcChecks) {
    Files({{"s.txt", Text(40000, 9)}, {"d.txt", Text(40000, 10)}});
    std::string stored = Make("zip -q -0 s.zip s.txt", "s.zip");
    std::string deflated = Make("zip -q d.zip d.txt", "d.zip");
    Entry s = ReadEntries(stored)[0];
    Entry d = ReadEntries(deflated)[0];

    std::string edited = stored;
    edited[DataStart(stored, s.local) + 100] ^= 1;
    EXPECT_EQ(Extract(Save(edited), s, "s1.txt"), ExtractCrcMismatch);
    EXPECT_FALSE(Exists("s1.txt"));
    // 0xFFFFFFFF turns the test off.
    Put32(edited, s.local + 14, 0xFFFFFFFFu);
    EXPECT_EQ(Extract(Save(edited), s, "s2.txt"), ExtractOk);

    edited = deflated;
    Put32(edited, d.local + 14, Get32(deflated, d.local + 14) ^ 0x10000);
    EXPECT_EQ(Extract(Save(edited), d, "d1.txt"), ExtractCrcMismatch);
    EXPECT_FALSE(Exists("d1.txt"));
}

TEST_F(ExtractEntryTest, DamagedAndTruncatedDataLeaveNothing) {
    Files({{"big.txt", Text(300000, 11)}, {"raw.bin", testutil::RandomBytes(100000, 12)}});
    for (const char* name : {"big.txt", "raw.bin"}) {
        std::string zip = Make(std::string("zip -q t.zip ") + name + " && mv t.zip " + name + ".zip",
                               std::string(name) + ".zip");
        Entry e = ReadEntries(zip)[0];
        size_t start = DataStart(zip, e.local);
        size_t size = Get32(zip, e.local + 18);
        for (int k = 1; k <= 8; ++k) {
            std::string as = std::string(name) + std::to_string(k);
            std::string cut = zip.substr(0, start + size * k / 9);
            int32_t r = Extract(Save(cut), e, as);
            EXPECT_TRUE(r == ExtractReadFailed || r == ExtractCorrupt || r == ExtractCrcMismatch) << as << " " << r;
            EXPECT_FALSE(Exists(as)) << as;
            std::string flipped = zip;
            flipped[start + size * k / 9] ^= 0x20;
            r = Extract(Save(flipped), e, as);
            EXPECT_NE(r, ExtractOk) << as;
            EXPECT_FALSE(Exists(as)) << as;
        }
        // The archive ending right behind the entry's data still extracts.
        EXPECT_EQ(Extract(Save(zip.substr(0, start + size)), e, std::string(name) + ".end"), ExtractOk);
    }
}

TEST_F(ExtractEntryTest, DirectoriesAttributesAndTimes) {
    Files({{"r.txt", Text(1000, 13)}});
    std::string zip = Make("zip -q r.zip r.txt", "r.zip");
    Entry e = ReadEntries(zip)[0];
    // A directory: by its attribute or a trailing backslash.
    EXPECT_EQ(Extract(src + "\\r.zip", e, "d1\\d2", AttrDirectory), ExtractOk);
    EXPECT_TRUE(IsExistingDirectory((out + "\\d1\\d2").c_str()));
    EXPECT_EQ(Extract(src + "\\r.zip", e, "d3\\d4\\"), ExtractOk);
    EXPECT_TRUE(IsExistingDirectory((out + "\\d3\\d4").c_str()));
    EXPECT_TRUE(testutil::ListFilesRecursive(out).empty());

    EXPECT_EQ(Extract(src + "\\r.zip", e, "plain.txt", 0), ExtractOk);
    EXPECT_EQ(GetPathAttributes((out + "\\plain.txt").c_str()) & AttrReadOnly, 0u);
    EXPECT_EQ(Extract(src + "\\r.zip", e, "ro.txt", AttrReadOnly), ExtractOk);
    EXPECT_NE(GetPathAttributes((out + "\\ro.txt").c_str()) & AttrReadOnly, 0u);

    // The local header's time wins over the central header's.
    std::string edited = zip;
    Put32(edited, e.local + 10, 0x2F9FBF7Du);  // 2003-12-31 23:59:58
    Put32(edited, e.central + 12, 0x3A210000u);
    EXPECT_EQ(Extract(Save(edited), e, "t.txt"), ExtractOk);
    FileHandle f = OpenExistingFile((out + "\\t.txt").c_str(), 0);
    EXPECT_EQ(GetFilePackedTime(f), 0x2F9FBF7Du);
    CloseFileHandle(f);

    // A path that doesn't fit the 260-byte buffer is refused, not cut.
    std::string longName(260 - out.size(), 'n');
    EXPECT_EQ(Extract(src + "\\r.zip", e, longName), ExtractWriteFailed);
    EXPECT_FALSE(Exists(longName));
    EXPECT_FALSE(Exists(longName.substr(0, longName.size() - 1)));
    std::string fits(259 - out.size() - 2, 'f');
    EXPECT_EQ(Extract(src + "\\r.zip", e, fits), ExtractOk);  // 258 characters
    EXPECT_EQ(Extract(src + "\\r.zip", e, fits + "x", AttrDirectory), ExtractWriteFailed);  // 260 with its "\"
}

TEST_F(ExtractEntryTest, CancelFromTheProgressDialog) {
    Files({{"big.txt", Text(2000000, 14)}, {"raw.bin", testutil::RandomBytes(1000000, 15)}});
    std::string deflated = Make("zip -q d.zip big.txt", "d.zip");
    std::string stored = Make("zip -q -0 s.zip raw.bin", "s.zip");
    progress.cancelAbove = 30;
    EXPECT_EQ(Extract(src + "\\d.zip", ReadEntries(deflated)[0], "big.txt"), ExtractCancelled);
    EXPECT_FALSE(Exists("big.txt"));
    EXPECT_LT(progress.percents.back(), 40);  // stopped at the next symbol
    progress.percents.clear();
    EXPECT_EQ(Extract(src + "\\s.zip", ReadEntries(stored)[0], "raw.bin"), ExtractCancelled);
    EXPECT_FALSE(Exists("raw.bin"));
    // The next entry starts afresh.
    progress.cancelAbove = 1000;
    EXPECT_EQ(Extract(src + "\\s.zip", ReadEntries(stored)[0], "raw.bin"), ExtractOk);
}

bool KeyHeld(int key) { return key == 0x1B; }

TEST_F(ExtractEntryTest, CancelKeyPolledWithoutADialog) {
    Files({{"big.txt", Text(600000, 16)}});
    std::string zip = Make("zip -q -0 k.zip big.txt", "k.zip");
    Entry e = ReadEntries(zip)[0];
    TheHostUi.keyDown = KeyHeld;
    testutil::CurrentDirectoryGuard cwd;
    EXPECT_EQ(ExtractEntry((src + "\\k.zip").c_str(), (out + "\\k1").c_str(), 0, e.local, nullptr, 0x1B),
              ExtractCancelled);
    EXPECT_EQ(ExtractEntry((src + "\\k.zip").c_str(), (out + "\\k2").c_str(), 0, e.local, nullptr, 0x20), ExtractOk);
    TheHostUi.keyDown = nullptr;
    EXPECT_FALSE(Exists("k1"));
    EXPECT_TRUE(Exists("k2"));
}

uint32_t StoreNothing(void*, const uint8_t*, uint32_t) { return 0; }

TEST_F(ExtractEntryTest, WriteFailureBeepsOnceAndLeavesNothing) {
    Files({{"w.txt", Text(200000, 17)}});
    std::string zip = Make("zip -q w.zip w.txt", "w.zip");
    Entry e = ReadEntries(zip)[0];
    OutputSink failing{StoreNothing, nullptr, false};
    TheExtractState.Output = &failing;
    int beeps = TheHostUi.beeps;
    int32_t r = Extract(src + "\\w.zip", e, "w.txt");
    TheExtractState.Output = nullptr;
    EXPECT_EQ(r, ExtractWriteFailed);
    EXPECT_EQ(TheHostUi.beeps - beeps, 1);
    EXPECT_FALSE(Exists("w.txt"));
}

TEST_F(ExtractEntryTest, FullDisk) {
    Files({{"n.bin", testutil::RandomBytes(300000, 18)}});
    std::string zip = Make("zip -q n.zip n.bin", "n.zip");
    Entry e = ReadEntries(zip)[0];
    std::string mountPoint = dir.Join("tiny");
    testutil::Run("mkdir -p " + Q(mountPoint));
    if (geteuid() != 0 ||
        mount("tmpfs", testutil::NativePath(mountPoint).c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "a small tmpfs can't be mounted here (needs root)";
    }
    int beeps = TheHostUi.beeps;
    int32_t r;
    {
        testutil::CurrentDirectoryGuard cwd;
        r = ExtractEntry((src + "\\n.zip").c_str(), (mountPoint + "\\n.bin").c_str(), 0, e.local, nullptr, 0);
    }
    bool left = testutil::PathExists(mountPoint + "\\n.bin");
    umount(testutil::NativePath(mountPoint).c_str());
    EXPECT_EQ(r, ExtractWriteFailed);
    EXPECT_EQ(TheHostUi.beeps - beeps, 1);
    EXPECT_FALSE(left);
}

}  // namespace
