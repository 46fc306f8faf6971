#include "tests/host/zip_fixtures.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "launcher/archive_directory.h"
#include "launcher/extract_entry.h"

namespace fs = std::filesystem;
using testutil::NativePath;
using testutil::ShellQuote;

namespace ziptest {

int Sh(const std::string& command) { return testutil::Run(command); }

std::string Python(const std::string& script, const std::vector<std::string>& args, int* status) {
    std::string command = "python3 -c " + ShellQuote(script);
    for (const std::string& a : args) command.append(" ").append(ShellQuote(a));
    return testutil::RunOutput(command, status);
}

void MakeTree(const std::string& coreDir, const std::map<std::string, std::string>& files) {
    for (const auto& [relative, content] : files) {
        // Straight to the system: a name may hold a "\" of its own.
        fs::path path = fs::path(NativePath(coreDir)) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << content;
        EXPECT_TRUE(out.good()) << path;
    }
}

std::map<std::string, std::string> SampleTree() {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 97) + " of the sample text\n";
    return {
        {"setup.exe", testutil::RandomBytes(70000, 1)},
        {"readme.txt", text},
        {"empty.dat", ""},
        {"data/nested/deep/file.bin", testutil::RandomBytes(3000, 2) + text.substr(0, 5000)},
        {"data/one.txt", "one\n"},
    };
}

std::vector<ListedEntry> OracleListing(const std::string& coreArchive) {
    static const char* const script = R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename.replace("/", "\\"), i.file_size, i.compress_size, i.CRC, i.header_offset,
          i.compress_type, i.flag_bits, sep="\t")
)";
    int status = 0;
    std::string out = Python(script, {NativePath(coreArchive)}, &status);
    std::vector<ListedEntry> entries;
    EXPECT_EQ(status, 0) << "zipfile could not read " << coreArchive;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        ListedEntry e;
        unsigned size, csize, crc, offset, method, flags;
        size_t tab = line.find('\t');
        e.name = line.substr(0, tab);
        if (std::sscanf(line.c_str() + tab, "%u %u %u %u %u %u", &size, &csize, &crc, &offset, &method, &flags) != 6) {
            ADD_FAILURE() << "bad oracle line: " << line;
            continue;
        }
        e.size = size;
        e.compressedSize = csize;
        e.crc = crc;
        e.localHeaderOffset = offset;
        e.method = static_cast<uint16_t>(method);
        e.flags = static_cast<uint16_t>(flags);
        entries.push_back(e);
    }
    return entries;
}

bool OracleExtract(const std::string& coreArchive, const std::string& coreDir) {
    int status = 0;
    Python("import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
           {NativePath(coreArchive), NativePath(coreDir)}, &status);
    return status == 0;
}

int32_t WalkDirectory(const std::string& coreArchive, std::vector<ListedEntry>* entries, uint32_t baseOffset,
                      int32_t archiveSize) {
    ArchiveDirectory d;
    int32_t result = OpenArchiveDirectory(coreArchive.c_str(), &d, baseOffset, archiveSize);
    if (result != ArchiveOpen) {
        EXPECT_EQ(d.Buffer, nullptr);
        return result;
    }
    int32_t next = ArchiveOpen;
    while (next == ArchiveOpen) {
        entries->push_back(ListedEntry{d.Name, d.UncompressedSize, d.CompressedSize, d.Crc32, d.LocalHeaderOffset,
                                       d.Method, d.Flags, d.Attributes, d.DosDateTime});
        next = NextArchiveEntry(&d);
    }
    EXPECT_EQ(next, ArchiveNoEntry);
    EXPECT_EQ(d.Buffer, nullptr) << "the walk's end closes the record";
    return result;
}

void ExpectWalkMatchesOracle(const std::string& coreArchive) {
    std::vector<ListedEntry> walked;
    ASSERT_EQ(WalkDirectory(coreArchive, &walked), ArchiveOpen);
    std::vector<ListedEntry> oracle = OracleListing(coreArchive);
    ASSERT_EQ(walked.size(), oracle.size());
    for (size_t i = 0; i < walked.size(); ++i) {
        SCOPED_TRACE(oracle[i].name);
        EXPECT_EQ(walked[i].name, oracle[i].name);
        EXPECT_EQ(walked[i].size, oracle[i].size);
        EXPECT_EQ(walked[i].compressedSize, oracle[i].compressedSize);
        EXPECT_EQ(walked[i].crc, oracle[i].crc);
        EXPECT_EQ(walked[i].localHeaderOffset, oracle[i].localHeaderOffset);
        EXPECT_EQ(walked[i].method, oracle[i].method);
        EXPECT_EQ(walked[i].flags, oracle[i].flags);
    }
}

::testing::AssertionResult SameTree(const std::string& coreA, const std::string& coreB) {
    std::vector<std::string> a = testutil::ListFilesRecursive(coreA);
    std::vector<std::string> b = testutil::ListFilesRecursive(coreB);
    if (a != b) {
        std::string text;
        for (const auto& n : a) text.append(" ").append(n);
        text += " |";
        for (const auto& n : b) text.append(" ").append(n);
        return ::testing::AssertionFailure() << "file lists differ:" << text;
    }
    for (const std::string& name : a) {
        if (ReadBytes(coreA + "\\" + name) != ReadBytes(coreB + "\\" + name)) {
            return ::testing::AssertionFailure() << name << " differs";
        }
    }
    return ::testing::AssertionSuccess() << a.size() << " files";
}

std::string ReadBytes(const std::string& corePath) {
    std::string bytes;
    testutil::ReadFileBytes(corePath, &bytes);
    return bytes;
}

void WriteBytes(const std::string& corePath, const std::string& bytes) {
    EXPECT_TRUE(testutil::WriteFileBytes(corePath, bytes)) << corePath;
}

size_t FindSignature(const std::string& bytes, uint8_t third, uint8_t fourth, int n) {
    const char signature[4] = {'P', 'K', static_cast<char>(third), static_cast<char>(fourth)};
    size_t at = bytes.find(std::string(signature, 4));
    while (n-- > 0 && at != std::string::npos) at = bytes.find(std::string(signature, 4), at + 1);
    return at;
}

uint32_t Le32At(const std::string& bytes, size_t at) {
    auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k])); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

void PutLe16(std::string* bytes, size_t at, uint16_t value) {
    (*bytes)[at] = static_cast<char>(value & 0xFF);
    (*bytes)[at + 1] = static_cast<char>(value >> 8);
}

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
    PutLe16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

void PythonZip(const std::string& coreArchive, const std::string& body, const std::vector<std::string>& args) {
    std::string script = "import sys, zipfile\nfrom zipfile import ZipInfo\n"
                         "with zipfile.ZipFile(sys.argv[1], 'a') as z:\n";
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        script += "    " + body.substr(start, end - start) + "\n";
        start = end + 1;
    }
    int status = 0;
    std::vector<std::string> all = {NativePath(coreArchive)};
    all.insert(all.end(), args.begin(), args.end());
    std::string out = Python(script, all, &status);
    ASSERT_EQ(status, 0) << "python failed: " << out;
}

void ToolArchiveTest::SetUp() {
    BuildCrcTable();
    MakeTree(source_.Path(), SampleTree());
}

std::string ToolArchiveTest::InSource(const std::string& command) const {
    return "cd " + ShellQuote(NativePath(source_.Path())) + " && " + command;
}

std::string ToolArchiveTest::Q(const std::string& corePath) { return ShellQuote(NativePath(corePath)); }

}  // namespace ziptest
