// The launcher's own path: an ANSI form that opens the package, or the
// verdict that it cannot be opened from its folder. The short-name lookup is
// replaced, so that a volume without 8.3 names can be played.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher/own_path.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

constexpr uint32_t Capacity = 520;  // the launcher's wide buffer

DWORD WINAPI NoShortName(LPCWSTR, LPWSTR, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

DWORD WINAPI AsciiShortName(LPCWSTR, LPWSTR out, DWORD capacity) {
    const WCHAR name[] = L"C:\\DOWNLO~1\\SETUP.EXE";
    if (capacity < ARRAYSIZE(name)) return ARRAYSIZE(name);
    lstrcpyW(out, name);
    return ARRAYSIZE(name) - 1;
}

TEST(OwnPath, WithoutAnExactFormOrAShortNameItCannotBeOpenedFromHere) {
    // U+0F40 is in no ANSI code page; 300 ASCII characters exceed the
    // launcher's path buffer.
    const std::wstring tibetan = L"C:\\\u0F40\\setup.exe";
    const std::wstring deep = L"C:\\" + std::wstring(290, L'd') + L"\\setup.exe";
    const struct {
        std::wstring path;
        uint32_t length;
        ShortPathFunction lookup;
        const char* expected;  // nullptr: cannot be opened from here
    } cases[] = {
        {L"C:\\Downloads\\setup.exe", 22, NoShortName, "C:\\Downloads\\setup.exe"},
        {tibetan, static_cast<uint32_t>(tibetan.size()), AsciiShortName, "C:\\DOWNLO~1\\SETUP.EXE"},
        {tibetan, static_cast<uint32_t>(tibetan.size()), NoShortName, nullptr},
        {deep, static_cast<uint32_t>(deep.size()), AsciiShortName, "C:\\DOWNLO~1\\SETUP.EXE"},
        {deep, static_cast<uint32_t>(deep.size()), NoShortName, nullptr},
        {L"C:\\Downloads\\setup.exe", Capacity, AsciiShortName, nullptr},  // GetModuleFileNameW cut it
    };
    ShortPathFunction original = ShortPathLookup;
    for (const auto& c : cases) {
        ShortPathLookup = c.lookup;
        char out[PathBufferSize] = "stale";
        bool taken = TakeOwnPath(c.path.c_str(), c.length, Capacity, out);
        EXPECT_EQ(taken, c.expected != nullptr) << c.path.size() << " characters";
        EXPECT_STREQ(out, c.expected ? c.expected : "");
    }
    ShortPathLookup = original;
}

}  // namespace
