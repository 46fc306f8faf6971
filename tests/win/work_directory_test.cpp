// The launcher's working directory over the real Win32 file layer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/private_directory.h"
#include "launcher/work_directory.h"
#include "support/file_layer.h"
#include "tests/common/test_util.h"

namespace {

using testutil::PathExists;
using testutil::ScratchDir;
using testutil::WriteFileBytes;

bool IsDirectory(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string MakeIn(const std::string& base, bool* made) {
    char buffer[PathBufferSize];
    TextCopyMax(buffer, base.c_str(), PathMaxChars);
    *made = MakeUniqueSubdirectory(buffer);
    return buffer;
}

TEST(MakeUniqueSubdirectory, TakesTheFirstFreeNumberAndGivesUpOnAnythingInTheWay) {
    ScratchDir scratch("qv");
    bool made = false;
    EXPECT_EQ(MakeIn(scratch.Path(), &made), scratch.Path() + "\\$qv0");
    EXPECT_TRUE(made);
    EXPECT_TRUE(IsDirectory(scratch.Join("$qv0")));

    for (int n = 1; n < 5; ++n) CreateDirectoryA(scratch.Join("$qv" + std::to_string(n)).c_str(), nullptr);
    EXPECT_EQ(MakeIn(scratch.Path() + "\\", &made), scratch.Path() + "\\$qv5");
    EXPECT_TRUE(made);

    // A plain file where the next number would go: this base is given up.
    ASSERT_TRUE(WriteFileBytes(scratch.Join("$qv6"), "x"));
    MakeIn(scratch.Path(), &made);
    EXPECT_FALSE(made);
    EXPECT_FALSE(PathExists(scratch.Join("$qv7")));
}

TEST(MakeUniqueSubdirectory, RefusesRelativeEmptyMissingAndOverlongBases) {
    ScratchDir scratch("qvbad");
    bool made = true;
    MakeIn("temp", &made);
    EXPECT_FALSE(made);
    MakeIn("", &made);
    EXPECT_FALSE(made);
    MakeIn(scratch.Join("missing"), &made);
    EXPECT_FALSE(made);
    ASSERT_TRUE(WriteFileBytes(scratch.Join("file"), "x"));
    MakeIn(scratch.Join("file"), &made);
    EXPECT_FALSE(made);

    // A base that leaves no room for "\$qv199\insstart.exe" is refused, one
    // that does is taken.
    std::string deep = scratch.Path();
    while (deep.size() < PathMaxChars - WorkDirectoryRoom - 10) {
        deep += "\\dddddddd";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    std::string fits = deep + "\\" + std::string(PathMaxChars - WorkDirectoryRoom - deep.size() - 1, 'e');
    std::string tooLong = fits + "f";
    ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr));
    MakeIn(tooLong, &made);
    EXPECT_FALSE(made);
    EXPECT_EQ(MakeIn(fits, &made), fits + "\\$qv0");
    EXPECT_TRUE(made);
    EXPECT_EQ((fits + "\\$qv199\\insstart.exe").size(), static_cast<size_t>(PathMaxChars));

    char buffer[PathBufferSize];
    std::string env(400, 'x');
    EXPECT_FALSE(TryTempCandidate(buffer, env.c_str()));  // never copied into the buffer
}

TEST(DeleteTempFiles, RemovesReadOnlyHiddenAndSystemFilesButNoSubdirectory) {
    ScratchDir scratch("clean");
    const char* names[] = {"a.txt", "b.bin", "c"};
    DWORD attributes[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                          FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WriteFileBytes(scratch.Join(names[i]), "data"));
        SetFileAttributesA(scratch.Join(names[i]).c_str(), attributes[i]);
    }
    CreateDirectoryA(scratch.Join("sub").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(scratch.Join("sub\\inner.txt"), "stays"));

    EXPECT_TRUE(DeleteTempFiles(scratch.Path().c_str()));
    for (const char* name : names) EXPECT_FALSE(PathExists(scratch.Join(name))) << name;
    EXPECT_TRUE(PathExists(scratch.Join("sub\\inner.txt")));
    EXPECT_TRUE(DeleteTempFiles((scratch.Path() + "\\").c_str()));  // nothing left: still true
}

TEST(DeleteTempFiles, StopsAtAFileInUseAndLeavesRelativePathsAlone) {
    ScratchDir scratch("busy");
    ASSERT_TRUE(WriteFileBytes(scratch.Join("busy.exe"), "in use"));
    HANDLE held = CreateFileA(scratch.Join("busy.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteTempFiles(scratch.Path().c_str()));
    EXPECT_TRUE(PathExists(scratch.Join("busy.exe")));
    CloseHandle(held);

    // A path too long to take "\*.*" is refused whole, never cut down to
    // the name of a neighbouring directory.
    std::string deep = scratch.Path();
    while (deep.size() < 240) {
        deep += "\\dddddddd";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    std::string neighbour = deep + "\\" + std::string(PathMaxChars - 4 - deep.size() - 1, 'q');
    std::string overlong = neighbour + "q";
    for (const std::string& dir : {neighbour, overlong}) {
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(dir + "\\f", "keep"));
    }
    EXPECT_TRUE(DeleteTempFiles(overlong.c_str()));
    EXPECT_TRUE(PathExists(overlong + "\\f"));
    EXPECT_TRUE(PathExists(neighbour + "\\f"));
    EXPECT_TRUE(DeleteTempFiles(neighbour.c_str()));  // just fits
    EXPECT_FALSE(PathExists(neighbour + "\\f"));

    testutil::CurrentDirectoryGuard guard;
    SetCurrentDirectoryA(scratch.Path().c_str());
    EXPECT_TRUE(DeleteTempFiles("."));  // refused: not a drive or UNC path
    EXPECT_TRUE(PathExists(scratch.Join("busy.exe")));
}

// Access that the directory's DACL, as the system reads it back, grants to
// everyone; -1 when it cannot be read.
int64_t EveryoneAccess(const std::string& path) {
    DWORD needed = 0;
    GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed ? needed : 1);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
        !GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted) || !present || !acl) {
        return -1;
    }
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)) return -1;
    int64_t granted = 0;
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&ace->SidStart, everyone)) {
            granted |= ace->Mask;
        }
    }
    return granted;
}

// Wine keeps no descriptors but maps them to the Unix mode and reads that
// back: a plain directory grants everyone reading, the launcher's nothing.
// Its processes run as an administrator.
TEST(AdminOnlyDirectory, IsWhatAnElevatedLauncherMakesAndGrantsEveryoneNothing) {
    EXPECT_TRUE(IsElevatedToken());
    ScratchDir scratch("private");
    std::string plain = scratch.Join("plain");
    ASSERT_TRUE(CreateDirectoryA(plain.c_str(), nullptr));
    EXPECT_GT(EveryoneAccess(plain), 0);

    std::string dir = scratch.Join("$qv0");
    MakeAdminOnlyDirectory(dir.c_str());
    ASSERT_EQ(LastFileError, ErrorSuccess);
    ASSERT_TRUE(IsDirectory(dir));
    EXPECT_EQ(EveryoneAccess(dir), 0);

    // An existing name fails like MakeDirectory, for the next number's sake.
    MakeAdminOnlyDirectory(dir.c_str());
    EXPECT_EQ(LastFileError, static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
}

TEST(ReadEnvironmentValue, GivesTheValueOrAnEmptyTextNeverAStaleOne) {
    SetEnvironmentVariableA("CE_TEST_VALUE", "C:\\somewhere");
    EXPECT_STREQ(ReadEnvironmentValue("CE_TEST_VALUE"), "C:\\somewhere");
    std::string huge(EnvironmentValueSize + 10, 'h');
    SetEnvironmentVariableA("CE_TEST_VALUE", huge.c_str());
    EXPECT_STREQ(ReadEnvironmentValue("CE_TEST_VALUE"), "");
    SetEnvironmentVariableA("CE_TEST_VALUE", nullptr);
    EXPECT_STREQ(ReadEnvironmentValue("CE_TEST_VALUE"), "");
}

}  // namespace
