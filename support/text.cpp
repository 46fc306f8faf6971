#include "support/text.h"

#include "support/platform.h"

bool DbcsEnabled = false;

void InitDbcsFlag() { DbcsEnabled = SystemDbcsEnabled(); }

size_t TextLength(const char* text) {
    const char* p = text;
    while (*p) ++p;
    return static_cast<size_t>(p - text);
}

char* TextEnd(char* text) { return text + TextLength(text); }
const char* TextEnd(const char* text) { return text + TextLength(text); }

char* TextCopy(char* destination, const char* source) {
    char* d = destination;
    while ((*d++ = *source++) != 0) {
    }
    return destination;
}

char* TextCopyMax(char* destination, const char* source, size_t n) {
    size_t i = 0;
    for (; i < n && source[i]; ++i) destination[i] = source[i];
    destination[i] = 0;
    return destination;
}

char* TextAppend(char* destination, const char* source) {
    TextCopy(TextEnd(destination), source);
    return destination;
}

char* TextAppendMax(char* destination, const char* source, size_t n) {
    size_t length = TextLength(destination);
    if (length < n) TextCopyMax(destination + length, source, n - length);
    return destination;
}

namespace {

inline unsigned char FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }
inline unsigned char SameByte(unsigned char c) { return c; }

// Compares up to the first difference or up to and including b's terminator,
// at most n bytes.
template <unsigned char (*Fold)(unsigned char)>
int CompareBytes(const char* a, const char* b, size_t n) {
    int result = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = Fold(static_cast<unsigned char>(a[i]));
        unsigned char y = Fold(static_cast<unsigned char>(b[i]));
        result = static_cast<int>(x) - static_cast<int>(y);
        if (result != 0 || y == 0) break;
    }
    return result;
}

constexpr size_t Unlimited = ~size_t{0};

}  // namespace

int TextCompare(const char* a, const char* b) { return CompareBytes<SameByte>(a, b, Unlimited); }
int TextCompareMax(const char* a, const char* b, size_t n) { return CompareBytes<SameByte>(a, b, n); }
int TextCompareNoCase(const char* a, const char* b) { return CompareBytes<FoldAscii>(a, b, Unlimited); }
int TextCompareNoCaseMax(const char* a, const char* b, size_t n) { return CompareBytes<FoldAscii>(a, b, n); }

char* TextToLower(char* text) {
    for (char* p = text; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + ('a' - 'A'));
    }
    return text;
}

char* ByteScan(const char* text, char c) {
    for (const char* p = text;; ++p) {
        if (*p == c) return const_cast<char*>(p);
        if (*p == 0) return nullptr;
    }
}

char* ByteScanBack(const char* text, char c) {
    const char* p = TextEnd(text);
    for (;;) {
        if (*p == c) return const_cast<char*>(p);
        if (p == text) return nullptr;
        --p;
    }
}

char* ScanChar(const char* text, char c) {
    if (!DbcsEnabled) return ByteScan(text, c);
    const char* p = text;
    while (*p != 0 && *p != c) p = NextCharOf(p);
    if (*p == 0 && c != 0) return nullptr;
    return const_cast<char*>(p);
}

char* ScanCharBack(const char* text, char c) {
    if (!DbcsEnabled) return ByteScanBack(text, c);
    if (*text == 0) return nullptr;
    const char* p = TextEnd(text);
    while (p != text && *p != c) p = PrevCharOf(text, p);
    return *p == c ? const_cast<char*>(p) : nullptr;
}

void AppendBackslash(char* path) {
    if (*path == 0) return;
    char* end = TextEnd(path);
    if (*PrevCharOf(path, end) != '\\') {
        end[0] = '\\';
        end[1] = 0;
    }
}

void StripTrailingBackslash(char* path) {
    if (*path == 0) return;
    char* last = PrevCharOf(path, TextEnd(path));
    if (*last == '\\') *last = 0;
}

char* FileNameOf(const char* path) {
    char* slash = ScanCharBack(path, '\\');
    return slash ? slash + 1 : const_cast<char*>(path);
}

bool IsUncName(const char* text) { return text[0] == '\\' && text[1] == '\\'; }

bool IsRootPath(const char* text) {
    if (!IsUncName(text)) {
        return TextLength(text) == 3 && text[1] == ':' && text[2] == '\\';
    }
    char* server_end = ScanChar(text + 2, '\\');
    if (server_end == nullptr || server_end[1] == 0) return false;
    char* share_end = ScanChar(server_end + 1, '\\');
    return share_end == nullptr || share_end[1] == 0;
}

void StripQuotes(char* text) {
    if (text[0] != '"') return;
    TextCopy(text, text + 1);
    char* quote = ScanChar(text, '"');
    if (quote) TextCopy(quote, quote + 1);
}

namespace {
CE_PER_THREAD char* TokenCursor = nullptr;
}

char* NextToken(char* text, char separator) {
    if (text) TokenCursor = text;
    if (TokenCursor == nullptr) return nullptr;
    char* token = TokenCursor;
    char* found = ScanChar(token, separator);
    if (found && separator != 0) {
        *found = 0;
        TokenCursor = found + 1;
    } else {
        TokenCursor = nullptr;
    }
    return token;
}

namespace {
char EnvironmentBuffer[PathBufferSize];
}

char* GetEnvText(const char* name) {
    // A value too long for the buffer is not copied (the call returns the
    // size it would need): treat it as unset rather than use a stale buffer.
    uint32_t n = ReadEnvironmentVariable(name, EnvironmentBuffer, PathMaxChars);
    if (n == 0 || n >= PathMaxChars) EnvironmentBuffer[0] = 0;
    return EnvironmentBuffer;
}

void ExpandPercentVars(char* text, size_t n) {
    // A variable that refers to itself would be expanded for ever: bound the passes.
    constexpr int MaxPasses = 32;
    constexpr size_t WorkLimit = 1023;
    for (int pass = 0; pass < MaxPasses; ++pass) {
        char* first = ScanChar(text, '%');
        if (first == nullptr) return;
        char* second = ScanChar(first + 1, '%');
        if (second == nullptr || second == first + 1) return;
        size_t name_length = static_cast<size_t>(second - first - 1);
        // Longer names cannot be variables we could look up: leave them as written.
        if (name_length > PathMaxChars) return;
        char name[PathBufferSize];
        TextCopyMax(name, first + 1, name_length);
        const char* value = GetEnvText(name);
        if (*value == 0) return;
        char work[WorkLimit + 1];
        TextCopyMax(work, text, static_cast<size_t>(first - text) < WorkLimit ? static_cast<size_t>(first - text)
                                                                            : WorkLimit);
        TextAppendMax(work, value, WorkLimit);
        TextAppendMax(work, second + 1, WorkLimit);
        TextCopyMax(text, work, n);
    }
}

namespace {

// A component the system would read as the parent directory: "..", and also
// forms it trims to that (trailing dots and spaces, "...", ". .").
bool IsParentLike(const char* component, const char* end) {
    int dots = 0;
    for (const char* p = component; p < end; ++p) {
        if (*p == '.') ++dots;
        else if (*p != ' ') return false;
    }
    return dots >= 2;
}

}  // namespace

// Every "\" byte counts as a separator here, also a double-byte trail byte;
// that can only refuse more names, never let one through.
bool IsContainedEntryName(const char* name) {
    if (name[0] == '\\') return false;                  // root, and UNC names
    if (name[0] != 0 && name[1] == ':') return false;   // another drive
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p != '\\' && *p != 0) continue;
        if (IsParentLike(component, p)) return false;
        if (*p == 0) return true;
        component = p + 1;
    }
}
