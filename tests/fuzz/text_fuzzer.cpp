// The text helpers that take outside input (paths, setup-file values, the
// device manager's directory from the registry), each on a copy of the input
// in a block of exactly the size the helper may use, so that AddressSanitizer
// sees any byte read or written beyond it.
//
// Input: flags (bit 0: double-byte code page), a separator, the limit N as
// two bytes (little-endian, up to 1023), then the text (up to its first NUL).
// Single-byte results are also compared with plain string models.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/platform.h"
#include "support/text.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

using fuzz::Check;

// One helper's buffer: the text, its terminator, and `extra` bytes more.
struct Buffer : fuzz::ExactBuffer {
    Buffer(const std::string& text, size_t capacity) : ExactBuffer(text.data(), text.size(), capacity) {
        Text()[text.size()] = 0;
    }
    bool Holds(const char* p) const { return p >= Begin() && p < Begin() + Capacity(); }
    const char* Begin() const { return const_cast<Buffer*>(this)->Text(); }
};

std::string EnvValue(const std::string& name) {
    // What GetEnvText gives: nothing for a value too long for its buffer.
    const char* v = std::getenv(name.c_str());
    std::string value = v ? v : "";
    return value.size() > PathMaxChars - 1 ? "" : value;
}

std::string ExpandModel(std::string text, size_t n) {
    for (int pass = 0; pass < 32; ++pass) {
        size_t first = text.find('%');
        if (first == std::string::npos) break;
        size_t second = text.find('%', first + 1);
        if (second == std::string::npos || second == first + 1) break;
        std::string name = text.substr(first + 1, second - first - 1);
        if (name.size() > PathMaxChars) break;
        std::string value = EnvValue(name);
        if (value.empty()) break;
        std::string work = text.substr(0, std::min<size_t>(first, 1023));
        work += value.substr(0, 1023 - std::min<size_t>(work.size(), 1023));
        work += text.substr(second + 1, 1023 - std::min<size_t>(work.size(), 1023));
        text = work.substr(0, n);
    }
    return text;
}

bool IsRootModel(const std::string& s) {
    if (s.size() < 2 || s[0] != '\\' || s[1] != '\\') return s.size() == 3 && s[1] == ':' && s[2] == '\\';
    size_t server = s.find('\\', 2);
    if (server == std::string::npos || server + 1 == s.size()) return false;
    size_t share = s.find('\\', server + 1);
    return share == std::string::npos || share + 1 == s.size();
}

void FuzzExpand(const std::string& text, size_t n, bool dbcs) {
    Buffer b(text, std::max(text.size(), n) + 1);
    ExpandPercentVars(b.Text(), n);
    std::string result = b.Text();
    if (result != text) Check(result.size() <= n, "expansion longer than its limit");
    if (!dbcs) Check(result == ExpandModel(text, n), "expansion differs from the model", text + " -> " + result);
}

void FuzzTokens(const std::string& text, char separator) {
    Buffer b(text, text.size() + 1);
    std::string joined;
    size_t tokens = 0;
    for (char* t = NextToken(b.Text(), separator); t; t = NextToken(nullptr, separator)) {
        Check(b.Holds(t), "token outside the text");
        Check(++tokens <= text.size() + 1, "more tokens than bytes");
        if (tokens > 1) joined += separator;
        joined += t;
    }
    Check(joined == text, "tokens don't make up the text", text + " -> " + joined);
}

void FuzzQuotes(const std::string& text, bool dbcs) {
    Buffer b(text, text.size() + 1);
    StripQuotes(b.Text());
    std::string result = b.Text();
    std::string expected = text;
    if (!text.empty() && text[0] == '"') {
        expected.erase(0, 1);
        size_t quote = expected.find('"');
        if (quote != std::string::npos && !dbcs) expected.erase(quote, 1);
    }
    if (dbcs && result != expected) {
        Check(result.size() + 1 == expected.size(), "quotes stripped wrongly", text + " -> " + result);
    } else {
        Check(result == expected, "quotes stripped wrongly", text + " -> " + result);
    }
}

void FuzzPaths(const std::string& text, bool dbcs) {
    {
        Buffer b(text, text.size() + 2);  // room for the one byte it may add
        AppendBackslash(b.Text());
        std::string result = b.Text();
        bool added = !text.empty() && (dbcs || text.back() != '\\');
        Check(result == text || (added && result == text + "\\"), "backslash appended wrongly", result);
    }
    {
        Buffer b(text, text.size() + 1);
        StripTrailingBackslash(b.Text());
        std::string result = b.Text();
        bool stripped = !text.empty() && text.back() == '\\';
        Check(result == text || (stripped && result == text.substr(0, text.size() - 1)),
              "backslash stripped wrongly", result);
        if (!dbcs) Check(stripped != (result == text), "backslash stripped wrongly", result);
    }
    {
        Buffer b(text, text.size() + 1);
        const char* name = FileNameOf(b.Text());
        Check(name >= b.Begin() && name <= b.Begin() + text.size(), "file name outside the path");
        size_t at = static_cast<size_t>(name - b.Begin());
        Check(at == 0 || text[at - 1] == '\\', "file name not behind a backslash");
        if (!dbcs) Check(at == text.rfind('\\') + 1, "file name not behind the last backslash");
    }
    {
        Buffer b(text, text.size() + 1);
        bool root = IsRootPath(b.Text());
        bool unc = IsUncName(b.Text());
        if (!dbcs) Check(root == IsRootModel(text), "root test differs from the model", text);
        Check(unc == (text.size() >= 2 && text[0] == '\\' && text[1] == '\\'), "UNC test wrong");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("A", "alpha", 1);
    setenv("B", "%B%", 1);              // refers to itself
    setenv("C", "%A%\\%D%x", 1);        // refers on, to a variable that is not set
    setenv("E", "%E%%E%", 1);           // grows with every pass
    setenv("L", std::string(PathMaxChars - 1, 'l').c_str(), 1);  // the longest value taken
    setenv("M", std::string(PathMaxChars, 'm').c_str(), 1);      // one too long: not taken
    setenv("P", "50%", 1);
    setenv("S", "\\\\server\\share", 1);
    unsetenv("D");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return -1;
    bool dbcs = (data[0] & 1) != 0;
    char separator = static_cast<char>(data[1]);
    size_t n = (data[2] | data[3] << 8) & 1023;
    std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    text.resize(std::strlen(text.c_str()));  // up to the first NUL
    TheHostUi.dbcs = dbcs;
    InitDbcsFlag();
    FuzzExpand(text, n, dbcs);
    FuzzTokens(text, separator);
    FuzzQuotes(text, dbcs);
    FuzzPaths(text, dbcs);
    TheHostUi.dbcs = false;
    InitDbcsFlag();
    return 0;
}
