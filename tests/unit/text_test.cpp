#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "launcher/archive_directory.h"
#include "support/platform.h"
#include "support/text.h"
#include "tests/common/test_util.h"

TEST(TextCopyMax, CutsAtTheLimitAndAlwaysTerminates) {
    std::string source(300, 'x');
    char buffer[PathBufferSize + 8];
    TextCopyMax(buffer, source.c_str(), PathMaxChars);
    EXPECT_EQ(TextLength(buffer), 259u);
    TextCopyMax(buffer, "abc", 0);
    EXPECT_EQ(buffer[0], 0);
}

TEST(TextAppendMax, LimitsTheWholeResult) {
    char full[32] = "twelve chars";
    TextAppendMax(full, "more", 10);
    EXPECT_STREQ(full, "twelve chars");
    char seven[11] = "seven__";  // exactly N + 1 bytes: the sanitizer build sees any overrun
    TextAppendMax(seven, "abcdef", 10);
    EXPECT_STREQ(seven, "seven__abc");
    char exact[32] = "0123456789";
    TextAppendMax(exact, "x", 10);
    EXPECT_STREQ(exact, "0123456789");
}

TEST(TextCompare, SignsFollowUnsignedBytes) {
    // The terminator minus the second letter.
    EXPECT_EQ(TextCompare("a", "ab"), -'b');
    EXPECT_EQ(TextCompare("ab", "a"), 'b');
    EXPECT_EQ(TextCompare("same", "same"), 0);
    EXPECT_GT(TextCompare("\xE4", "z"), 0);  // above 127 sorts after ASCII
    EXPECT_EQ(TextCompare("\xFF", "\x01"), 0xFF - 0x01);
    EXPECT_LT(TextCompare("A", "a"), 0);
    EXPECT_EQ(TextCompareMax("abc", "abd", 2), 0);
    EXPECT_LT(TextCompareMax("abc", "abd", 3), 0);
    EXPECT_EQ(TextCompareMax("x", "y", 0), 0);
    EXPECT_EQ(TextCompareMax("abc", "ab", 10), 'c');  // stops behind b's terminator
}

TEST(TextCompare, NoCaseFoldsOnlyAsciiLetters) {
    EXPECT_EQ(TextCompareNoCase("Setup.INI", "setup.ini"), 0);
    EXPECT_NE(TextCompareNoCase("\xE4", "\xC4"), 0);  // letters above 127 keep their case
    EXPECT_EQ(TextCompareNoCase("[", "{"), '[' - '{');  // neighbours of the letters are not folded
    EXPECT_EQ(TextCompareNoCaseMax("abcX", "ABCy", 3), 0);
    EXPECT_LT(TextCompareNoCaseMax("abcX", "ABCy", 4), 0);  // X vs Y
    char text[] = "MiXeD \xC4 [Z]";
    EXPECT_STREQ(TextToLower(text), "mixed \xC4 [z]");
}

TEST(ByteScan, IncludesTheTerminator) {
    const char* text = "a\\b\\c";
    EXPECT_EQ(ByteScan(text, '\\'), text + 1);
    EXPECT_EQ(ByteScanBack(text, '\\'), text + 3);
    EXPECT_EQ(ByteScan(text, 0), text + 5);
    EXPECT_EQ(ByteScanBack(text, 0), text + 5);
    EXPECT_EQ(ByteScan(text, 'x'), nullptr);
    EXPECT_EQ(ByteScanBack("", 'x'), nullptr);
    EXPECT_EQ(ScanChar(text, 0), text + 5);
    EXPECT_EQ(ScanCharBack("", 'x'), nullptr);
}

TEST(PathText, BackslashRules) {
    char path[PathBufferSize] = "C:\\dir";
    AppendBackslash(path);
    EXPECT_STREQ(path, "C:\\dir\\");
    AppendBackslash(path);
    EXPECT_STREQ(path, "C:\\dir\\");
    char empty[4] = "";
    AppendBackslash(empty);
    EXPECT_STREQ(empty, "");

    char doubled[] = "a\\\\";
    StripTrailingBackslash(doubled);
    EXPECT_STREQ(doubled, "a\\");
    char root[] = "C:\\";
    StripTrailingBackslash(root);
    EXPECT_STREQ(root, "C:");

    const char* plain = "name.txt";
    EXPECT_EQ(FileNameOf(plain), plain);
    const char* dir = "C:\\a\\";
    EXPECT_EQ(FileNameOf(dir), dir + 5);
    EXPECT_STREQ(FileNameOf("C:\\a\\b.dat"), "b.dat");
}

TEST(PathText, RootsAndShares) {
    EXPECT_TRUE(IsRootPath("C:\\"));
    EXPECT_TRUE(IsRootPath("\\\\server\\share"));
    EXPECT_TRUE(IsRootPath("\\\\server\\share\\"));
    EXPECT_FALSE(IsRootPath("C:"));
    EXPECT_FALSE(IsRootPath("C:\\x"));
    EXPECT_FALSE(IsRootPath("\\\\server"));
    EXPECT_FALSE(IsRootPath("\\\\server\\"));
    EXPECT_FALSE(IsRootPath("\\\\server\\share\\dir"));
    EXPECT_FALSE(IsRootPath(""));
    EXPECT_TRUE(IsUncName("\\\\x"));
    EXPECT_FALSE(IsUncName("\\x"));
}

TEST(PathText, StripQuotes) {
    char command[] = "\"C:\\Program Files\\x.exe\" -a \"b\"";
    StripQuotes(command);
    EXPECT_STREQ(command, "C:\\Program Files\\x.exe -a \"b\"");
    char open[] = "\"unterminated";
    StripQuotes(open);
    EXPECT_STREQ(open, "unterminated");
    char unquoted[] = "a \"b\"";
    StripQuotes(unquoted);
    EXPECT_STREQ(unquoted, "a \"b\"");
}

TEST(NextToken, ReturnsEmptyTokensAsTheyCome) {
    char list[] = "a,,b";
    EXPECT_STREQ(NextToken(list, ','), "a");
    EXPECT_STREQ(NextToken(nullptr, ','), "");
    EXPECT_STREQ(NextToken(nullptr, ','), "b");
    EXPECT_EQ(NextToken(nullptr, ','), nullptr);
    EXPECT_EQ(NextToken(nullptr, ','), nullptr);

    char trailing[] = "a,";
    EXPECT_STREQ(NextToken(trailing, ','), "a");
    char* last = NextToken(nullptr, ',');
    EXPECT_EQ(last, trailing + 2);  // the empty token is the text's end
    EXPECT_STREQ(last, "");
    EXPECT_EQ(NextToken(nullptr, ','), nullptr);
}

#ifndef _WIN32
// The Windows programs have one thread, and keep one cursor.
TEST(NextToken, CursorIsPerThread) {
    char mine[] = "1,2,3";
    EXPECT_STREQ(NextToken(mine, ','), "1");
    std::string seen;
    std::thread other([&] {
        char theirs[] = "x;y";
        // A fresh thread has no split of its own.
        if (NextToken(nullptr, ';') != nullptr) seen += "?";
        for (char* t = NextToken(theirs, ';'); t; t = NextToken(nullptr, ';')) seen += t;
    });
    other.join();
    EXPECT_EQ(seen, "xy");
    EXPECT_STREQ(NextToken(nullptr, ','), "2");
    EXPECT_STREQ(NextToken(nullptr, ','), "3");
}
#endif

namespace {

// Sets variables for one test and removes them afterwards.
class EnvironmentGuard {
public:
    void Set(const std::string& name, const char* value) {
        testutil::SetEnvironment(name, value);
        names_.push_back(name);
    }
    ~EnvironmentGuard() {
        for (const std::string& name : names_) testutil::SetEnvironment(name, nullptr);
    }

private:
    std::vector<std::string> names_;
};

std::string Expand(const std::string& text, size_t n) {
    std::vector<char> buffer(text.size() + n + 2, '\0');
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    ExpandPercentVars(buffer.data(), n);
    return buffer.data();
}

}  // namespace

TEST(ExpandPercentVars, ExpandsUntilTheFirstUnsetReference) {
    EnvironmentGuard env;
    env.Set("CETEST_A", "alpha");
    env.Set("CETEST_NESTED", "<%CETEST_A%>");
    testutil::SetEnvironment("CETEST_UNSET", nullptr);
    EXPECT_EQ(Expand("x%CETEST_A%y%CETEST_A%z", 259), "xalphayalphaz");
    EXPECT_EQ(Expand("%CETEST_NESTED%", 259), "<alpha>");
    // An unset first reference stops everything behind it too.
    EXPECT_EQ(Expand("%CETEST_UNSET%\\%CETEST_A%", 259), "%CETEST_UNSET%\\%CETEST_A%");
    EXPECT_EQ(Expand("100%%", 259), "100%%");
    EXPECT_EQ(Expand("50% off", 259), "50% off");
    EXPECT_EQ(Expand("no refs", 259), "no refs");
}

TEST(ExpandPercentVars, CutsTheResultAtN) {
    EnvironmentGuard env;
    env.Set("CETEST_LONG", std::string(200, 'v').c_str());
    std::string result = Expand("C:\\%CETEST_LONG%\\tail", 20);
    EXPECT_EQ(result, "C:\\" + std::string(17, 'v'));
    result = Expand(std::string(250, 'p') + "%CETEST_LONG%", 259);
    EXPECT_EQ(result.size(), 259u);
}

TEST(ExpandPercentVars, SelfReferenceEnds) {
    EnvironmentGuard env;
    env.Set("CETEST_SELF", "%CETEST_SELF%");
    env.Set("CETEST_GROW", "ab%CETEST_GROW%");
    env.Set("CETEST_PING", "%CETEST_PONG%");
    env.Set("CETEST_PONG", "%CETEST_PING%");
    EXPECT_EQ(Expand("%CETEST_SELF%", 259), "%CETEST_SELF%");
    EXPECT_EQ(Expand("%CETEST_PING%", 259), "%CETEST_PING%");
    std::string grown = Expand("%CETEST_GROW%", 259);
    EXPECT_LE(grown.size(), 259u);
    EXPECT_EQ(grown.substr(0, 4), "abab");
}

TEST(ExpandPercentVars, OverlongNamesAndValuesStayAsWritten) {
    EnvironmentGuard env;
    std::string long_name(300, 'N');
    env.Set(long_name, "value");
    std::string text = "%" + long_name + "%";
    EXPECT_EQ(Expand(text, 1023), text);

    // GetEnvironmentVariableA with room for 258 characters copies nothing longer.
    env.Set("CETEST_FITS", std::string(258, 'f').c_str());
    env.Set("CETEST_TOO_LONG", std::string(259, 'l').c_str());
    EXPECT_EQ(Expand("%CETEST_FITS%", 1023), std::string(258, 'f'));
    EXPECT_EQ(Expand("%CETEST_TOO_LONG%", 1023), "%CETEST_TOO_LONG%");
    EXPECT_EQ(*GetEnvText("CETEST_TOO_LONG"), 0);
}

// Double-byte scans with Shift-JIS: 0x95 0x5C is one character whose trail
// byte has the value of "\".
namespace {

class DbcsScope {
public:
    DbcsScope() {
#ifndef _WIN32
        TheHostUi.dbcs = true;
#endif
        InitDbcsFlag();
    }
    ~DbcsScope() {
#ifndef _WIN32
        TheHostUi.dbcs = false;
#endif
        DbcsEnabled = false;
    }
};

}  // namespace

TEST(DbcsText, ScansStepOverTrailBytes) {
    DbcsScope scope;
    if (!DbcsEnabled) GTEST_SKIP() << "needs a double-byte ANSI code page (run with LC_ALL=ja_JP.UTF-8)";
    const char* text = "\x95\x5C" "a\\b";
    EXPECT_EQ(ScanChar(text, '\\'), text + 3);
    EXPECT_EQ(ByteScan(text, '\\'), text + 1);  // byte-wise finds the trail byte
    const char* back = "a\\\x95\x5C";
    EXPECT_EQ(ScanCharBack(back, '\\'), back + 1);
    EXPECT_EQ(ScanCharBack("\x95\x5C", '\\'), nullptr);
    EXPECT_EQ(ScanChar("\x95\x5C", '\\'), nullptr);
    EXPECT_EQ(ScanChar(text, 0), text + 5);
    EXPECT_EQ(ScanCharBack("", '\\'), nullptr);
    EXPECT_EQ(ScanCharBack("", 0), nullptr);

    char path[PathBufferSize] = "C:\\\x95\x5C";
    AppendBackslash(path);
    EXPECT_STREQ(path, "C:\\\x95\x5C\\");
    char name[PathBufferSize] = "C:\\\x95\x5C";
    StripTrailingBackslash(name);
    EXPECT_STREQ(name, "C:\\\x95\x5C");
    EXPECT_STREQ(FileNameOf("C:\\d\\\x95\x5C"), "\x95\x5C");

    char list[] = "\x95\x5C\\x";
    EXPECT_STREQ(NextToken(list, '\\'), "\x95\x5C");
    EXPECT_STREQ(NextToken(nullptr, '\\'), "x");
}

TEST(FormatText, OneSlotPerItemAndNeverPast1024Bytes) {
    char out[1100];
    const char* name = "setup.exe";
    uintptr_t args[] = {reinterpret_cast<uintptr_t>(name), static_cast<uintptr_t>(-42), 255, 255, 'Z', 7};
    int n = FormatText(out, "%s %d %x %X %c %05u %%", args);
    EXPECT_STREQ(out, "setup.exe -42 ff FF Z 00007 %");
    EXPECT_EQ(n, static_cast<int>(std::strlen(out)));

    std::string long_text(2000, 'x');
    std::memset(out, '#', sizeof out);
    uintptr_t one[] = {reinterpret_cast<uintptr_t>(long_text.c_str())};
    n = FormatText(out, "%s", one);
    EXPECT_LE(n, 1024);  // Wine's wvsprintfA counts 1024 here, the host 1023
    EXPECT_EQ(std::strlen(out), 1023u);
    EXPECT_EQ(out[1024], '#');  // nothing written behind the terminator
}

#ifndef _WIN32
// The host stand-in drops an item whose format is absurdly long, but
// the items behind it must still get their own arguments.
TEST(FormatText, OverlongItemKeepsLaterArgumentsInPlace) {
    char out[1100];
    const char* name = "setup";
    uintptr_t args[] = {5, reinterpret_cast<uintptr_t>(name)};
    FormatText(out, "%000000000000000000000000000000000000005d|%s", args);
    EXPECT_STREQ(std::strchr(out, '|'), "|setup");
}
#endif

// Entry names flagged as UTF-8: the exact ANSI form, or a refusal, never a
// substitute character. On the host "ANSI" is UTF-8 itself.
namespace {

const char Cafe[] = "caf\xC3\xA9.txt";
const char Kanji[] = "\xE6\xBC\xA2\xE5\xAD\x97.txt";

std::string Converted(const char* utf8, size_t capacity = PathBufferSize) {
    char out[PathBufferSize];
    return Utf8ToAnsi(utf8, std::strlen(utf8), out, capacity) ? std::string(out) : std::string("(refused)");
}

}  // namespace

TEST(Utf8Names, ExactFormOrRefused) {
    EXPECT_EQ(Converted("plain.txt"), "plain.txt");
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) EXPECT_EQ(Converted(bad), "(refused)");
    EXPECT_EQ(Converted(Cafe, 8), "(refused)") << "does not fit";
}

// Each name in the ANSI code pages of Western (1252), Japanese (932) and
// Russian (1251) systems; null where the code page lacks a character. The
// unit tests run once under each (LC_ALL picks it for Wine).
struct NameRow {
    const char* utf8;
    const char* cp1252;
    const char* cp932;
    const char* cp1251;
};

const NameRow NameRows[] = {
    {Cafe, "caf\xE9.txt", nullptr, nullptr},
    {Kanji, nullptr, "\x8A\xBF\x8E\x9A.txt", nullptr},
    {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", nullptr,
     "\x84P\x84\x82\x84y\x84r\x84u\x84\x84.txt", "\xCF\xF0\xE8\xE2\xE5\xF2.txt"},
    {"\xE3\x82\xBD.txt", nullptr, "\x83\\.txt", nullptr},  // a trail byte that is "\"
    {"\xF0\x9F\x98\x80.txt", nullptr, nullptr, nullptr},      // beyond the BMP: in no ANSI code page
};

TEST(Utf8Names, ExactFormInTheCodePageInForce) {
#ifdef _WIN32
    UINT codePage = GetACP();
    // The run under a locale must get that locale's code page, not fall back.
    char locale[32] = "";
    GetEnvironmentVariableA("LC_ALL", locale, sizeof locale);
    if (std::strcmp(locale, "ru_RU.UTF-8") == 0) {
        EXPECT_EQ(codePage, 1251u);
    }
    if (std::strcmp(locale, "ja_JP.UTF-8") == 0) {
        EXPECT_EQ(codePage, 932u);
    }
    const char* NameRow::*column = codePage == 1252  ? &NameRow::cp1252
                                   : codePage == 932 ? &NameRow::cp932
                                   : codePage == 1251 ? &NameRow::cp1251
                                                      : nullptr;
    if (!column) GTEST_SKIP() << "no expectations for code page " << codePage;
#else
    const char* NameRow::*column = &NameRow::utf8;  // the host's ANSI is UTF-8
#endif
    for (const NameRow& row : NameRows) {
        SCOPED_TRACE(row.utf8);
        const char* expected = row.*column;
        EXPECT_EQ(Converted(row.utf8), expected ? expected : "(refused)");
        // The launcher's naming of a flagged entry: "/" becomes "\", a trail byte stays.
        std::string stored = std::string("d/") + row.utf8;
        char name[PathBufferSize];
        bool usable = CopyEntryName(reinterpret_cast<const uint8_t*>(stored.data()),
                                    static_cast<uint32_t>(stored.size()), FlagUtf8Name, name);
        EXPECT_EQ(usable ? std::string(name) : "(refused)", expected ? std::string("d\\") + expected : "(refused)");
    }
}
