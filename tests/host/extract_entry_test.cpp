// ExtractEntry on archives made at test time by Info-ZIP zip and Python's
// zipfile, and on byte edits of them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "support/file_layer.h"
#include "tests/common/test_util.h"

namespace {

uint32_t Get(const std::string& b, size_t at, int width) {
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}
void Set(std::string& b, size_t at, int width, uint32_t v) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>(v >> 8 * i);
}

struct Entry {
    std::string name;
    uint32_t local, central;  // header offsets
};

// The central directory, read the plain way.
std::vector<Entry> Entries(const std::string& zip) {
    std::vector<Entry> entries;
    size_t p = Get(zip, zip.rfind(std::string("PK\5\6", 4)) + 16, 4);
    for (; Get(zip, p, 4) == 0x02014B50; p += 46 + Get(zip, p + 28, 2) + Get(zip, p + 30, 2) + Get(zip, p + 32, 2)) {
        entries.push_back({zip.substr(p + 46, Get(zip, p + 28, 2)), Get(zip, p + 42, 4), static_cast<uint32_t>(p)});
    }
    return entries;
}

size_t DataStart(const std::string& zip, uint32_t local) {
    return local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
}

std::string Text(size_t size, uint32_t seed) {
    std::string s;
    while (s.size() < size) s += "line " + std::to_string(seed++ % 977) + " of the readme for CeAppMgr.exe\r\n";
    return s.substr(0, size);
}

struct Progress : HostProgressSink {
    std::vector<int> percents;
    int cancelAbove = 1000;
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
        testutil::Run("mkdir -p " + Q(src) + " " + Q(out));
    }
    static std::string Q(const std::string& path) { return testutil::ShellQuote(testutil::NativePath(path)); }
    void Files(const std::map<std::string, std::string>& files) {
        for (const auto& [name, bytes] : files) {
            contents[name] = bytes;
            ASSERT_TRUE(testutil::WriteFileBytes(src + "\\" + name, bytes));
        }
    }
    // Runs a shell command in src and returns the archive it made there.
    std::string Make(const std::string& command, const std::string& zipName) {
        EXPECT_EQ(testutil::Run("cd " + Q(src) + " && " + command), 0) << command;
        std::string bytes;
        EXPECT_TRUE(testutil::ReadFileBytes(src + "\\" + zipName, &bytes));
        return bytes;
    }
    std::string Save(const std::string& bytes) {
        std::string path = dir.Join("edited" + std::to_string(saved++) + ".zip");
        EXPECT_TRUE(testutil::WriteFileBytes(path, bytes));
        return path;
    }
    int32_t Extract(const std::string& archive, const Entry& e, const std::string& as, uint16_t attributes = 0) {
        testutil::CurrentDirectoryGuard cwd;  // making directories walks the current directory
        progress.percents.clear();
        return ExtractEntry(archive.c_str(), (out + "\\" + as).c_str(), attributes, e.local, &progress, 120);
    }
    bool Exists(const std::string& as) { return testutil::PathExists(out + "\\" + as); }
    std::string Read(const std::string& as) {
        std::string bytes;
        testutil::ReadFileBytes(out + "\\" + as, &bytes);
        return bytes;
    }
    PackedDateTime Time(const std::string& as) {
        FileHandle f = OpenExistingFile((out + "\\" + as).c_str(), 0);
        PackedDateTime t = GetFilePackedTime(f);
        CloseFileHandle(f);
        return t;
    }

    testutil::ScratchDir dir{"entry"};
    std::string src = dir.Join("src"), out = dir.Join("out");
    std::map<std::string, std::string> contents;
    Progress progress;
    int saved = 0;
};

TEST_F(ExtractEntryTest, ArchivesFromZipAndPython) {
    Files({{"a.txt", Text(70000, 1)}, {"b.bin", testutil::RandomBytes(50000, 2)}, {"empty", ""}, {"c.ini", Text(900, 3)}});
    Make("F='a.txt b.bin empty c.ini'; zip -q plain.zip $F && zip -q -0 stored.zip $F && zip -q -9 best.zip $F && "
         "python3 -c \"import zipfile\nfor m,n in ((0,'py0.zip'),(8,'py8.zip')):\n"
         "  z=zipfile.ZipFile(n,'w',m); [z.write(f) for f in ('a.txt','b.bin','empty','c.ini')]; z.close()\"",
         "py0.zip");
    for (std::string name : {"plain.zip", "stored.zip", "best.zip", "py0.zip", "py8.zip"}) {
        std::string zip = Make("true", name);
        ASSERT_EQ(Entries(zip).size(), 4u) << name;
        for (const Entry& e : Entries(zip)) {
            std::string as = name + "." + e.name;
            ASSERT_EQ(Extract(src + "\\" + name, e, as), ExtractOk) << as;
            EXPECT_TRUE(Read(as) == contents[e.name]) << as;
            EXPECT_EQ(Time(as), Get(zip, e.local + 10, 4)) << as;
            // 0 first, 100 last, and only changes in between.
            std::vector<int>& p = progress.percents;
            ASSERT_GE(p.size(), 2u);
            EXPECT_EQ(p.front(), 0);
            EXPECT_EQ(p.back(), 100);
            for (size_t i = 1; i + 1 < p.size(); ++i) EXPECT_GT(p[i], p[i - 1]) << as;
        }
    }
}

TEST_F(ExtractEntryTest, StreamedEntriesWithDataDescriptors) {
    Files({{"f.txt", Text(150000, 4)}, {"g.bin", testutil::RandomBytes(3000, 5)}, {"e", ""}});
    // Written to a pipe, the CRC (and for deflated data the sizes) are only in
    // the descriptor: zip64 form from stdin, plain with -fz-, stored with -0.
    for (std::string command :
         {"cat f.txt | zip -q - - | cat > s8.zip", "zip -q -fz- - f.txt | cat > f8.zip", "zip -q -0 - f.txt | cat > f0.zip",
          "python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.stdout.buffer,'w',8)\n"
          "z.write('g.bin'); z.write('f.txt'); z.close()\" | cat > p8.zip"}) {
        std::string name = command.substr(command.rfind(' ') + 1);
        std::string zip = Make(command, name);
        const Entry e = Entries(zip).back();
        ASSERT_NE(Get(zip, e.local + 6, 2) & 8, 0u) << name;
        ASSERT_EQ(Extract(src + "\\" + name, e, name), ExtractOk) << name;
        EXPECT_TRUE(Read(name) == contents["f.txt"]) << name;
        if (Get(zip, e.local + 8, 2) == 8) {  // open-ended: no size to measure progress by
            EXPECT_EQ(progress.percents, (std::vector<int>{0, 100})) << name;
        }
        std::string bad = zip;
        bad[zip.find(std::string("PK\7\10", 4), DataStart(zip, e.local)) + 4] ^= 0x40;
        EXPECT_EQ(Extract(Save(bad), e, "bad-" + name), ExtractCrcMismatch) << name;
        EXPECT_FALSE(Exists("bad-" + name));
    }
    // Python streams stored entries with sizes and CRC 0 in the local header:
    // a copy of 0 bytes would "match"; the descriptor tells the truth.
    std::string zip = Make("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.stdout.buffer,'w',0)\n"
                           "z.write('f.txt'); z.write('e'); z.close()\" | cat > ps.zip",
                           "ps.zip");
    EXPECT_EQ(Extract(src + "\\ps.zip", Entries(zip)[0], "ps-f"), ExtractCrcMismatch);
    EXPECT_FALSE(Exists("ps-f"));
    EXPECT_EQ(Extract(src + "\\ps.zip", Entries(zip)[1], "ps-e"), ExtractOk);
}

TEST_F(ExtractEntryTest, RefusedAndDamagedEntriesLeaveNothing) {
    Files({{"a.txt", Text(300000, 7)}, {"r.bin", testutil::RandomBytes(100000, 8)}});
    std::string zip = Make("zip -q -n .bin plain.zip a.txt r.bin", "plain.zip");
    std::string encrypted = Make("zip -q -e -P secret enc.zip a.txt", "enc.zip");
    const Entry a = Entries(zip)[0], r = Entries(zip)[1];
    ASSERT_EQ(Get(zip, r.local + 8, 2), 0u);  // -n .bin: stored
    EXPECT_EQ(Extract(src + "\\enc.zip", Entries(encrypted)[0], "enc\\a.txt"), ExtractEncrypted);
    std::string bad = zip;
    Set(bad, a.local + 8, 2, 12);
    EXPECT_EQ(Extract(Save(bad), a, "m12\\a.txt"), ExtractUnsupportedMethod);
    bad[a.local] = 'X';
    EXPECT_EQ(Extract(Save(bad), a, "sig.txt"), ExtractCorrupt);
    EXPECT_EQ(Extract(src + "\\plain.zip", Entry{"", static_cast<uint32_t>(zip.size() + 9), 0}, "far"), ExtractCorrupt);
    EXPECT_EQ(Extract(dir.Join("missing.zip"), a, "missing.txt"), ExtractReadFailed);
    EXPECT_FALSE(Exists("enc") || Exists("m12") || Exists("sig.txt") || Exists("far") || Exists("missing.txt"));
    // Method 1 passes the first test: its file is made, then deleted; the
    // directory made for it stays.
    bad = zip;
    Set(bad, a.local + 8, 2, 1);
    EXPECT_EQ(Extract(Save(bad), a, "m1\\a.txt"), ExtractUnsupportedMethod);
    EXPECT_TRUE(Exists("m1"));
    EXPECT_FALSE(Exists("m1\\a.txt"));

    // CRC: a changed byte fails; an expected CRC of 0xFFFFFFFF turns the test off.
    bad = zip;
    bad[DataStart(zip, r.local) + 100] ^= 1;
    EXPECT_EQ(Extract(Save(bad), r, "crc.bin"), ExtractCrcMismatch);
    Set(bad, r.local + 14, 4, 0xFFFFFFFFu);
    EXPECT_EQ(Extract(Save(bad), r, "nocheck.bin"), ExtractOk);
    bad = zip;
    Set(bad, a.local + 14, 4, Get(zip, a.local + 14, 4) ^ 0x10000);
    EXPECT_EQ(Extract(Save(bad), a, "crc.txt"), ExtractCrcMismatch);

    // Cut or flipped data, deflated and stored.
    for (const Entry& e : {a, r}) {
        size_t start = DataStart(zip, e.local), size = Get(zip, e.local + 18, 4);
        for (int k = 1; k <= 8; ++k) {
            int32_t result = Extract(Save(zip.substr(0, start + size * k / 9)), e, "cut");
            EXPECT_TRUE(result == ExtractReadFailed || result == ExtractCorrupt || result == ExtractCrcMismatch) << result;
            bad = zip;
            bad[start + size * k / 9] ^= 0x20;
            EXPECT_NE(Extract(Save(bad), e, "flip"), ExtractOk);
        }
        // An archive that ends right behind the entry's data still gives it.
        EXPECT_EQ(Extract(Save(zip.substr(0, start + size)), e, e.name + ".end"), ExtractOk);
    }
    EXPECT_EQ(testutil::ListFilesRecursive(out), (std::vector<std::string>{"a.txt.end", "nocheck.bin", "r.bin.end"}));
}

TEST_F(ExtractEntryTest, DirectoriesAttributesTimesAndLongPaths) {
    Files({{"r.txt", Text(1000, 13)}});
    std::string zip = Make("zip -q r.zip r.txt", "r.zip");
    const Entry e = Entries(zip)[0];
    EXPECT_EQ(Extract(src + "\\r.zip", e, "d1\\d2", AttrDirectory), ExtractOk);
    EXPECT_EQ(Extract(src + "\\r.zip", e, "d3\\d4\\"), ExtractOk);
    EXPECT_TRUE(IsExistingDirectory((out + "\\d1\\d2").c_str()) && IsExistingDirectory((out + "\\d3\\d4").c_str()));
    EXPECT_TRUE(testutil::ListFilesRecursive(out).empty());

    EXPECT_EQ(Extract(src + "\\r.zip", e, "plain.txt", 0), ExtractOk);
    EXPECT_EQ(GetPathAttributes((out + "\\plain.txt").c_str()) & AttrReadOnly, 0u);
    EXPECT_EQ(Extract(src + "\\r.zip", e, "ro.txt", AttrReadOnly), ExtractOk);
    EXPECT_NE(GetPathAttributes((out + "\\ro.txt").c_str()) & AttrReadOnly, 0u);

    std::string edited = zip;  // the local header's time wins over the central one
    Set(edited, e.local + 10, 4, 0x2F9FBF7Du);
    Set(edited, e.central + 12, 4, 0x3A210000u);
    EXPECT_EQ(Extract(Save(edited), e, "t.txt"), ExtractOk);
    EXPECT_EQ(Time("t.txt"), 0x2F9FBF7Du);

    // A path beyond 259 characters is refused, not cut.
    std::string fits(259 - out.size() - 1, 'f');
    EXPECT_EQ(Extract(src + "\\r.zip", e, fits + "x"), ExtractWriteFailed);
    EXPECT_EQ(Extract(src + "\\r.zip", e, fits, AttrDirectory), ExtractWriteFailed);  // with its "\"
    EXPECT_FALSE(Exists(fits));
    EXPECT_EQ(Extract(src + "\\r.zip", e, fits), ExtractOk);
}

bool EscapeHeld(int key) { return key == 0x1B; }

TEST_F(ExtractEntryTest, CancelByDialogOrKey) {
    Files({{"big.txt", Text(2000000, 14)}, {"raw.bin", testutil::RandomBytes(1000000, 15)}});
    std::string deflated = Make("zip -q d.zip big.txt", "d.zip"), stored = Make("zip -q -0 s.zip raw.bin", "s.zip");
    progress.cancelAbove = 30;
    EXPECT_EQ(Extract(src + "\\d.zip", Entries(deflated)[0], "big.txt"), ExtractCancelled);
    EXPECT_LT(progress.percents.back(), 40);  // stopped at the next symbol
    EXPECT_EQ(Extract(src + "\\s.zip", Entries(stored)[0], "raw.bin"), ExtractCancelled);
    EXPECT_TRUE(testutil::ListFilesRecursive(out).empty());
    progress.cancelAbove = 1000;  // the next entry starts afresh
    EXPECT_EQ(Extract(src + "\\s.zip", Entries(stored)[0], "raw.bin"), ExtractOk);
    // Without a dialog the id is a key, polled when the percentage changes.
    TheHostUi.keyDown = EscapeHeld;
    int32_t held, released;
    {
        testutil::CurrentDirectoryGuard cwd;
        held = ExtractEntry((src + "\\s.zip").c_str(), (out + "\\k1").c_str(), 0, Entries(stored)[0].local, nullptr, 0x1B);
        released = ExtractEntry((src + "\\s.zip").c_str(), (out + "\\k2").c_str(), 0, Entries(stored)[0].local, nullptr, 0x20);
    }
    TheHostUi.keyDown = nullptr;
    EXPECT_EQ(held, ExtractCancelled);
    EXPECT_EQ(released, ExtractOk);
    EXPECT_FALSE(Exists("k1"));
}

uint32_t StoreNothing(void*, const uint8_t*, uint32_t) { return 0; }

TEST_F(ExtractEntryTest, WriteFailuresBeepOnceAndLeaveNothing) {
    Files({{"n.bin", testutil::RandomBytes(300000, 18)}});
    const Entry e = Entries(Make("zip -q n.zip n.bin", "n.zip"))[0];
    OutputSink failing{StoreNothing, nullptr, false};
    TheExtractState.Output = &failing;
    int beeps = TheHostUi.beeps;
    EXPECT_EQ(Extract(src + "\\n.zip", e, "n.bin"), ExtractWriteFailed);
    TheExtractState.Output = nullptr;
    EXPECT_EQ(TheHostUi.beeps - beeps, 1);
    EXPECT_FALSE(Exists("n.bin"));

    std::string tiny = dir.Join("tiny");  // a full disk
    testutil::Run("mkdir -p " + Q(tiny));
    if (geteuid() != 0 || mount("tmpfs", testutil::NativePath(tiny).c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "a small tmpfs can't be mounted here (needs root); the full-disk case is skipped";
    }
    beeps = TheHostUi.beeps;
    int32_t r;
    {
        testutil::CurrentDirectoryGuard cwd;
        r = ExtractEntry((src + "\\n.zip").c_str(), (tiny + "\\n.bin").c_str(), 0, e.local, nullptr, 0);
    }
    bool left = testutil::PathExists(tiny + "\\n.bin");
    umount(testutil::NativePath(tiny).c_str());
    EXPECT_EQ(r, ExtractWriteFailed);
    EXPECT_EQ(TheHostUi.beeps - beeps, 1);
    EXPECT_FALSE(left);
}

}  // namespace
