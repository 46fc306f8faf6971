// The sample package's device cabinet, read by cabextract: the members the
// device's installer expects, and the same bytes as its script makes.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_util.h"

using testutil::NativePath;
using testutil::ScratchDir;
using testutil::ShellQuote;

namespace {

const std::string SampleCabinet = std::string(CE_SOURCE_DIR) + "/examples/sample/samplenotes.arm.cab";

TEST(SampleCabinetTest, CabextractListsAndExtractsTheDeviceSetupFileAndTheReadme) {
    if (!testutil::HaveProgram("cabextract")) GTEST_SKIP() << "needs cabextract (scripts/setup.sh installs it)";
    int status = -1;
    std::string listing = testutil::RunOutput("cabextract -l " + ShellQuote(SampleCabinet) + " 2>&1", &status);
    ASSERT_EQ(status, 0) << listing;
    // The setup file first, the file to install after it.
    size_t setup = listing.find("SAMPLE~1.000"), readme = listing.find("00Readme.001");
    ASSERT_NE(setup, std::string::npos) << listing;
    EXPECT_LT(setup, readme) << listing;

    ScratchDir out("samplecab");
    std::string text = testutil::RunOutput(
        "cabextract -q -d " + ShellQuote(NativePath(out.Path())) + " " + ShellQuote(SampleCabinet) + " 2>&1", &status);
    ASSERT_EQ(status, 0) << text;
    std::string setupFile, readmeFile;
    ASSERT_TRUE(testutil::ReadFileBytes(out.Join("SAMPLE~1.000"), &setupFile));
    ASSERT_TRUE(testutil::ReadFileBytes(out.Join("00Readme.001"), &readmeFile));
    EXPECT_EQ(setupFile.substr(0, 4), "MSCE");
    EXPECT_NE(setupFile.find(std::string("Sample Notes\0", 13)), std::string::npos);
    EXPECT_NE(setupFile.find(std::string("Readme.txt\0", 11)), std::string::npos);
    EXPECT_EQ(readmeFile.substr(0, 26), "Sample Notes for Pocket PC");
}

TEST(SampleCabinetTest, TheScriptMakesTheSameBytes) {
    if (!testutil::HaveProgram("python3")) GTEST_SKIP() << "needs python3";
    ScratchDir out("samplecab");
    std::string made = out.Join("made.cab");
    int status = -1;
    std::string text = testutil::RunOutput("python3 " + ShellQuote(std::string(CE_SOURCE_DIR) +
                                                                   "/examples/make-sample-cab.py") +
                                               " " + ShellQuote(NativePath(made)) + " 2>&1",
                                           &status);
    ASSERT_EQ(status, 0) << text;
    std::string a, b;
    ASSERT_TRUE(testutil::ReadFileBytes(made, &a));
    ASSERT_TRUE(testutil::ReadFileBytes(testutil::CorePath(SampleCabinet), &b));
    EXPECT_TRUE(a == b) << "run examples/make-sample-cab.py and commit the cabinet";
}

}  // namespace
