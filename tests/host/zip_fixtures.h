// Archives made by real tools at test time, Python's zipfile as the oracle,
// and small byte edits of the results (host only).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/common/test_util.h"

namespace ziptest {

int Sh(const std::string& command);

// Runs a Python script with arguments; returns its stdout, status in *status.
std::string Python(const std::string& script, const std::vector<std::string>& args, int* status = nullptr);

// Writes files (relative "/" paths -> content) below a core-form directory.
void MakeTree(const std::string& coreDir, const std::map<std::string, std::string>& files);
// The small mixed tree the tool tests pack: text, binary, empty, nested.
std::map<std::string, std::string> SampleTree();

// One entry of a central directory; the name with "\" separators as the
// launcher keeps it. Python's listing leaves attributes and time at 0.
struct ListedEntry {
    std::string name;
    uint32_t size = 0;
    uint32_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t localHeaderOffset = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint16_t attributes = 0;
    uint32_t dosDateTime = 0;
};
// The entries as Python's zipfile reads them.
std::vector<ListedEntry> OracleListing(const std::string& coreArchive);
// Extracts with Python's zipfile into a core-form directory; true on success.
bool OracleExtract(const std::string& coreArchive, const std::string& coreDir);
// The whole walk: the open result, then every entry until the end.
int32_t WalkDirectory(const std::string& coreArchive, std::vector<ListedEntry>* entries, uint32_t baseOffset = 0,
                      int32_t archiveSize = 0);

// The walk sees what zipfile sees, entry for entry.
void ExpectWalkMatchesOracle(const std::string& coreArchive);

// Same names and bytes in both trees (regular files, recursively).
::testing::AssertionResult SameTree(const std::string& coreA, const std::string& coreB);

std::string ReadBytes(const std::string& corePath);
void WriteBytes(const std::string& corePath, const std::string& bytes);
// Offset of the n-th (0-based) occurrence of a 4-byte ZIP signature.
size_t FindSignature(const std::string& bytes, uint8_t third, uint8_t fourth, int n = 0);
uint32_t Le32At(const std::string& bytes, size_t at);
void PutLe16(std::string* bytes, size_t at, uint16_t value);
void PutLe32(std::string* bytes, size_t at, uint32_t value);

// Builds an archive with Python's zipfile: script lines run with `z` open for
// writing on the archive (mode "a", so offsets stay absolute behind any bytes
// already in the file) and `ZipInfo` imported; args follow as sys.argv[2:].
void PythonZip(const std::string& coreArchive, const std::string& body, const std::vector<std::string>& args = {});

// A sample tree to pack with the tools, and a work area for the results.
class ToolArchiveTest : public ::testing::Test {
protected:
    void SetUp() override;
    // A shell command run inside the sample tree.
    std::string InSource(const std::string& command) const;
    std::string Out(const std::string& name) const { return work_.Join(name); }
    static std::string Q(const std::string& corePath);

    testutil::ScratchDir source_{"src"};
    testutil::ScratchDir work_{"work"};
};

}  // namespace ziptest
