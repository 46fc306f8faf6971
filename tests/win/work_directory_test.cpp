// The launcher's working directory over the real Win32 file layer.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/held_directory.h"
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

    // A base that leaves no room for "\$qv0123abcd\insstart.exe" is refused, one
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
    EXPECT_EQ((fits + "\\$qv0123abcd\\insstart.exe").size(), static_cast<size_t>(PathMaxChars));

    char buffer[PathBufferSize];
    std::string env(400, 'x');
    EXPECT_FALSE(TryTempCandidate(buffer, env.c_str()));  // never copied into the buffer
}

uint32_t Draws = 0;
bool DrawCounting(uint32_t* value) {
    *value = 0xC0FFEE00u + Draws++;
    return true;
}
bool DrawNothing(uint32_t*) {
    ++Draws;
    return false;
}

// Elevated, the one base is never given up for a name in the way: files and
// directories alike move on to the next number, then to random names.
TEST(MakeUniqueSubdirectory, WithRandomPassesEveryTakenNameThenDrawsRandomOnes) {
    ScratchDir scratch("fresh");
    ASSERT_TRUE(WriteFileBytes(scratch.Join("$qv0"), "x"));
    ASSERT_TRUE(WriteFileBytes(scratch.Join("$qv1"), "x"));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("$qv2").c_str(), nullptr));
    char buffer[PathBufferSize];
    TextCopy(buffer, scratch.Path().c_str());
    Draws = 0;
    ASSERT_TRUE(MakeUniqueSubdirectory(buffer, DrawCounting));
    EXPECT_EQ(std::string(buffer), scratch.Join("$qv3"));
    EXPECT_EQ(Draws, 0u);

    for (int n = 4; n < TempDirNumbers; ++n) ASSERT_TRUE(WriteFileBytes(scratch.Join("$qv" + std::to_string(n)), ""));
    ASSERT_TRUE(WriteFileBytes(scratch.Join("$qvc0ffee00"), "x"));
    TextCopy(buffer, scratch.Path().c_str());
    ASSERT_TRUE(MakeUniqueSubdirectory(buffer, DrawCounting));
    EXPECT_EQ(std::string(buffer), scratch.Join("$qvc0ffee01"));
    EXPECT_TRUE(IsDirectory(buffer));

    // No random source: a bounded number of tries, then nothing is made.
    TextCopy(buffer, scratch.Path().c_str());
    Draws = 0;
    EXPECT_FALSE(MakeUniqueSubdirectory(buffer, DrawNothing));
    EXPECT_EQ(Draws, static_cast<uint32_t>(RandomNameTries));
}

TEST(DeleteTempFiles, RemovesReadOnlyHiddenAndSystemFilesAndEverySubdirectory) {
    ScratchDir scratch("clean");
    const char* names[] = {"a.txt", "b.bin", "c"};
    DWORD attributes[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                          FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WriteFileBytes(scratch.Join(names[i]), "data"));
        SetFileAttributesA(scratch.Join(names[i]).c_str(), attributes[i]);
    }
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("docs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("docs\\en").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("empty").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch.Join("docs\\en\\readme.txt"), "deep"));
    SetFileAttributesA(scratch.Join("docs\\en\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(scratch.Join("docs\\en").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_TRUE(DeleteTempFiles(scratch.Path().c_str()));
    for (const char* name : names) EXPECT_FALSE(PathExists(scratch.Join(name))) << name;
    for (const char* name : {"docs", "empty"}) EXPECT_FALSE(PathExists(scratch.Join(name))) << name;
    EXPECT_TRUE(IsDirectory(scratch.Path()));
    EXPECT_TRUE(DeleteTempFiles((scratch.Path() + "\\").c_str()));  // nothing left: still true

    // A file in use deep down keeps its directories, and says so.
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("a\\b").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch.Join("a\\b\\busy.dll"), "in use"));
    HANDLE held = CreateFileA(scratch.Join("a\\b\\busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteTempFiles(scratch.Path().c_str()));
    EXPECT_TRUE(PathExists(scratch.Join("a\\b\\busy.dll")));
    CloseHandle(held);
    EXPECT_TRUE(DeleteTempFiles(scratch.Path().c_str()));
    EXPECT_FALSE(PathExists(scratch.Join("a")));
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
    void* held = HeldDirectory;
    MakeAdminOnlyDirectory(dir.c_str());
    EXPECT_EQ(LastFileError, static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(HeldDirectory, held);
    ReleaseWorkingDirectory();
}

// Another process of the user renames the working directory away the moment
// it appears: the hold taken by its creation makes that fail until the end.
TEST(HeldDirectory, CannotBeRenamedByAnotherProcessWhileItIsWorkedIn) {
    ScratchDir scratch("held");
    std::string dir = scratch.Join("$qv0");
    std::string moved = scratch.Join("swapped");
    MakeHeldDirectory(dir.c_str());
    ASSERT_EQ(LastFileError, ErrorSuccess);
    ASSERT_NE(HeldDirectory, nullptr);
    std::string command = "cmd.exe /c move \"" + dir + "\" \"" + moved + "\"";
    auto runMove = [&command] {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        std::string line = command;
        ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &info));
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    };
    runMove();
    EXPECT_TRUE(IsDirectory(dir));
    EXPECT_FALSE(PathExists(moved));
    EXPECT_FALSE(MoveFileA(dir.c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    // Unpacking and the installer's start go on inside it.
    EXPECT_TRUE(WriteFileBytes(dir + "\\setup.exe", "x"));
    testutil::CurrentDirectoryGuard guard;
    EXPECT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    SetCurrentDirectoryA(scratch.Path().c_str());

    ReleaseWorkingDirectory();
    runMove();
    EXPECT_TRUE(PathExists(moved + "\\setup.exe"));
}

// The pending deletions the system carries out at its next start.
std::wstring PendingDeletions() {
    HKEY key = nullptr;
    std::wstring value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        value.resize(size / sizeof(wchar_t));
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value[0]), &size);
    }
    RegCloseKey(key);
    return value;
}

// Where path stands in the pending deletions; npos when it is not there.
size_t PendingAt(const std::wstring& pending, const std::string& path) {
    std::wstring wide(L"\\??\\");
    for (char c : path) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    wide += L'\0';
    return pending.find(wide);
}

bool IsPending(const std::wstring& pending, const std::string& path) {
    return PendingAt(pending, path) != std::wstring::npos;
}

HANDLE HoldFile(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The removal tries again while something holds a file, keeping the
// directory held meanwhile, and leaves to the next restart what stays.
struct RemovalRetry {
    static inline int waits = 0;
    static inline HANDLE file = nullptr;
    static inline std::string dir;
    static void ReleaseOnFirstWait() {
        if (++waits > 1) return;
        EXPECT_FALSE(MoveFileA(dir.c_str(), (dir + "x").c_str())) << "given up while files remained";
        CloseHandle(file);
    }
    static void Count() { ++waits; }
};

TEST(RemoveWorkingDirectory, TriesAgainWhileAFileIsHeldAndLeavesTheRestToTheNextStart) {
    ScratchDir scratch("remove");
    RemovalRetry::dir = scratch.Join("$qv0");
    const std::string& dir = RemovalRetry::dir;
    MakeHeldDirectory(dir.c_str());
    ASSERT_TRUE(WriteFileBytes(dir + "\\setup.exe", "x") && WriteFileBytes(dir + "\\app.cab", "y"));
    ASSERT_TRUE(CreateDirectoryA((dir + "\\docs").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dir + "\\docs\\readme.txt", "z"));
    RemovalRetry::file = HoldFile(dir + "\\setup.exe");
    ASSERT_NE(RemovalRetry::file, INVALID_HANDLE_VALUE);
    void (*originalWait)() = WaitBeforeRemovalRetry;
    WaitBeforeRemovalRetry = RemovalRetry::ReleaseOnFirstWait;
    EXPECT_TRUE(RemoveWorkingDirectory(dir.c_str()));
    EXPECT_EQ(RemovalRetry::waits, 1);
    EXPECT_FALSE(PathExists(dir));
    EXPECT_EQ(HeldDirectory, nullptr);

    std::wstring before = PendingDeletions();
    MakeHeldDirectory(dir.c_str());
    ASSERT_TRUE(WriteFileBytes(dir + "\\setup.exe", "x") && WriteFileBytes(dir + "\\b.txt", "y"));
    HANDLE held = HoldFile(dir + "\\setup.exe");
    const std::string deep = dir + "\\docs\\en";
    ASSERT_TRUE(CreateDirectoryA((dir + "\\docs").c_str(), nullptr) && CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(deep + "\\readme.txt", "z"));
    HANDLE heldDeep = HoldFile(deep + "\\readme.txt");
    RemovalRetry::waits = 0;
    WaitBeforeRemovalRetry = RemovalRetry::Count;
    EXPECT_FALSE(RemoveWorkingDirectory(dir.c_str()));
    EXPECT_EQ(RemovalRetry::waits, RemovalTries - 1);
    EXPECT_EQ(HeldDirectory, nullptr);
    EXPECT_FALSE(PathExists(dir + "\\b.txt")) << "what can go now goes now";
    std::wstring pending = PendingDeletions();
    EXPECT_TRUE(IsPending(pending, dir + "\\setup.exe"));
    EXPECT_TRUE(IsPending(pending, dir));
    EXPECT_FALSE(IsPending(pending, dir + "\\b.txt"));
    // Deepest first: each directory comes after what it holds, so it is
    // empty when its turn comes.
    std::vector<size_t> order;
    for (const std::string& path : {deep + "\\readme.txt", deep, dir + "\\docs", dir}) {
        order.push_back(PendingAt(pending, path));
        EXPECT_NE(order.back(), std::wstring::npos) << path;
    }
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    CloseHandle(held);
    CloseHandle(heldDeep);
    WaitBeforeRemovalRetry = originalWait;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                      &key) == ERROR_SUCCESS) {
        if (before.empty()) {
            RegDeleteValueW(key, L"PendingFileRenameOperations");
        } else {
            RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(before.data()), static_cast<DWORD>(before.size() * 2));
        }
        RegCloseKey(key);
    }
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
