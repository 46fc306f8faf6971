#include "installer/ini_text.h"

#include "support/text.h"

namespace {

struct Span {
    const char* Begin;
    const char* End;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\x1a'; }

// Same as the profile functions: a line ends at the next LF, or at the next
// CR when no LF follows at all. Once no LF follows, none follows a later line
// either: lineFeedAhead remembers that, so a file of CR lines is not searched
// to its end for every line.
const char* LineEnd(const char* p, const char* end, bool* lineFeedAhead) {
    if (*lineFeedAhead) {
        for (const char* q = p; q < end; ++q) {
            if (*q == '\n') return q;
        }
        *lineFeedAhead = false;
    }
    for (const char* q = p; q < end; ++q) {
        if (*q == '\r') return q;
    }
    return end;
}

Span Trim(Span s) {
    while (s.Begin < s.End && IsBlank(*s.Begin)) ++s.Begin;
    while (s.End > s.Begin && IsBlank(s.End[-1])) --s.End;
    return s;
}

// Names compare without regard to case and to blanks around them, on both sides.
bool SameName(Span s, const char* name) {
    s = Trim(s);
    while (*name != 0 && IsBlank(*name)) ++name;
    const char* nameEnd = TextEnd(name);
    while (nameEnd > name && IsBlank(nameEnd[-1])) --nameEnd;
    const char* p = s.Begin;
    for (; p < s.End; ++p, ++name) {
        if (name == nameEnd) return false;
        unsigned char a = static_cast<unsigned char>(*p);
        unsigned char b = static_cast<unsigned char>(*name);
        if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
        if (a != b) return false;
    }
    return name == nameEnd;
}

// The name of a section header line "[name]" (up to the last "]"); false for
// any other line.
bool SectionHeader(Span line, Span* name) {
    if (line.Begin == line.End || *line.Begin != '[') return false;
    const char* close = nullptr;
    for (const char* p = line.Begin + 1; p < line.End; ++p) {
        if (*p == ']') close = p;
    }
    if (close == nullptr) return false;
    *name = Span{line.Begin + 1, close};
    return true;
}

struct Lookup {
    bool Found;       // the key exists with an "="
    Span Value;       // trimmed value
    const char* At;   // the line of the first key of the name, null without one
};

// Walks the lines of the first section called section, or calls visit for
// every line of it. Returns whether the section exists; *header is where it
// starts.
template <typename Visit>
bool WalkSection(const IniText* ini, const char* section, Visit visit, const char** header = nullptr) {
    const char* p = ini->Text;
    const char* end = ini->Text + ini->Length;
    if (end - p >= 3 && p[0] == '\xEF' && p[1] == '\xBB' && p[2] == '\xBF') p += 3;
    // Keys in front of the first header belong to a section without a name.
    bool inside = SameName(Span{p, p}, section);
    bool seen = inside;
    if (inside && header) *header = p;
    bool lineFeedAhead = true;
    while (p < end) {
        const char* lineEnd = LineEnd(p, end, &lineFeedAhead);
        Span line = Trim(Span{p, lineEnd});
        p = lineEnd < end ? lineEnd + 1 : end;
        if (line.Begin == line.End) continue;
        Span name;
        if (SectionHeader(line, &name)) {
            if (inside) return true;
            inside = SameName(name, section);
            if (inside && header) *header = line.Begin;
            seen = seen || inside;
            continue;
        }
        if (inside && visit(line)) return true;
    }
    return seen;
}

Lookup FindKey(const IniText* ini, const char* section, const char* key) {
    Lookup result{false, Span{nullptr, nullptr}, nullptr};
    WalkSection(ini, section, [&](Span line) {
        const char* equals = nullptr;
        for (const char* q = line.Begin; q < line.End; ++q) {
            if (*q == '=') {
                equals = q;
                break;
            }
        }
        Span name = Trim(Span{line.Begin, equals ? equals : line.End});
        if (!SameName(name, key)) return false;
        result.At = line.Begin;
        // The first key of the name decides, even a line without "=".
        if (equals) {
            result.Found = true;
            result.Value = Trim(Span{equals + 1, line.End});
        }
        return true;
    });
    return result;
}

uint32_t CopyValue(Span value, char* buffer, uint32_t size) {
    if (size == 0) return 0;
    // One pair of matching quotes around the value is dropped.
    size_t length = static_cast<size_t>(value.End - value.Begin);
    if (length >= 2 && (*value.Begin == '"' || *value.Begin == '\'') && value.End[-1] == *value.Begin) {
        ++value.Begin;
        --value.End;
        length -= 2;
    }
    if (length > size - 1) length = size - 1;
    // A NUL byte in the file ends the text there: the count is what the
    // caller's string holds.
    size_t i = 0;
    for (; i < length && value.Begin[i] != 0; ++i) buffer[i] = value.Begin[i];
    buffer[i] = 0;
    return static_cast<uint32_t>(i);
}

}  // namespace

uint32_t IniReadString(const IniText* ini, const char* section, const char* key, const char* defaultValue,
                       char* buffer, uint32_t size) {
    Lookup found = FindKey(ini, section, key);
    if (found.Found) return CopyValue(found.Value, buffer, size);
    // The default loses its trailing spaces, as with the profile functions.
    if (defaultValue == nullptr) defaultValue = "";
    const char* end = TextEnd(defaultValue);
    while (end > defaultValue && end[-1] == ' ') --end;
    return CopyValue(Span{defaultValue, end}, buffer, size);
}

int32_t IniReadInt(const IniText* ini, const char* section, const char* key, int32_t defaultValue) {
    char text[30];
    if (IniReadString(ini, section, key, "", text, sizeof text) == 0) return defaultValue;
    const char* p = text;
    while (*p != 0 && static_cast<unsigned char>(*p) <= ' ') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint32_t>(*p - '0');
    return static_cast<int32_t>(negative ? 0u - value : value);
}

bool IniHasSection(const IniText* ini, const char* section) {
    return WalkSection(ini, section, [](Span) { return false; });
}

uint32_t IniLineOf(const IniText* ini, const char* section, const char* key) {
    const char* at = nullptr;
    if (key == nullptr) {
        WalkSection(ini, section, [](Span) { return false; }, &at);
    } else {
        at = FindKey(ini, section, key).At;
    }
    if (at == nullptr) return 0;
    // Lines as editors count them: at LF, or at CR in a file without any LF.
    bool lineFeeds = false;
    for (size_t i = 0; i < ini->Length && !lineFeeds; ++i) lineFeeds = ini->Text[i] == '\n';
    char breakChar = lineFeeds ? '\n' : '\r';
    uint32_t line = 1;
    for (const char* p = ini->Text; p < at; ++p) line += *p == breakChar ? 1u : 0u;
    return line;
}

namespace {

// Headers whose names are remembered for FirstOfName; past that many a header
// counts as the first of its name.
constexpr int MaxKnownHeaders = 64;

bool SameSpan(Span a, Span b) {
    if (a.End - a.Begin != b.End - b.Begin) return false;
    for (const char* p = a.Begin; p < a.End; ++p) {
        unsigned char x = static_cast<unsigned char>(*p);
        unsigned char y = static_cast<unsigned char>(b.Begin[p - a.Begin]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

void IniWalk(const IniText* ini, void (*visit)(void* context, const IniLine* line), void* context) {
    const char* p = ini->Text;
    const char* end = ini->Text + ini->Length;
    bool lineFeeds = false;
    for (const char* q = p; q < end && !lineFeeds; ++q) lineFeeds = *q == '\n';
    char breakChar = lineFeeds ? '\n' : '\r';
    const char* counted = p;
    uint32_t number = 1;
    if (end - p >= 3 && p[0] == '\xEF' && p[1] == '\xBB' && p[2] == '\xBF') p += 3;
    Span headers[MaxKnownHeaders];
    int headerCount = 0;
    IniLine out{0, p, 0, false, true, nullptr, 0, nullptr, 0};
    bool lineFeedAhead = true;
    while (p < end) {
        const char* lineEnd = LineEnd(p, end, &lineFeedAhead);
        Span line = Trim(Span{p, lineEnd});
        p = lineEnd < end ? lineEnd + 1 : end;
        if (line.Begin == line.End || *line.Begin == ';') continue;
        for (; counted < line.Begin; ++counted) number += *counted == breakChar ? 1u : 0u;
        out.Number = number;
        Span name;
        if (SectionHeader(line, &name)) {
            name = Trim(name);
            out.FirstOfName = true;
            for (int i = 0; i < headerCount && out.FirstOfName; ++i) out.FirstOfName = !SameSpan(headers[i], name);
            if (out.FirstOfName && headerCount < MaxKnownHeaders) headers[headerCount++] = name;
            out.Section = name.Begin;
            out.SectionLength = static_cast<size_t>(name.End - name.Begin);
            out.Header = true;
            out.Key = out.Value = nullptr;
            out.KeyLength = out.ValueLength = 0;
            visit(context, &out);
            continue;
        }
        const char* equals = line.Begin;
        while (equals < line.End && *equals != '=') ++equals;
        if (equals == line.End) continue;
        Span key = Trim(Span{line.Begin, equals});
        Span value = Trim(Span{equals + 1, line.End});
        out.Header = false;
        out.Key = key.Begin;
        out.KeyLength = static_cast<size_t>(key.End - key.Begin);
        out.Value = value.Begin;
        out.ValueLength = static_cast<size_t>(value.End - value.Begin);
        visit(context, &out);
    }
}

namespace {

uint32_t ReadStringThunk(const void* context, const char* section, const char* key, const char* defaultValue,
                         char* buffer, uint32_t size) {
    return IniReadString(static_cast<const IniText*>(context), section, key, defaultValue, buffer, size);
}

int32_t ReadIntThunk(const void* context, const char* section, const char* key, int32_t defaultValue) {
    return IniReadInt(static_cast<const IniText*>(context), section, key, defaultValue);
}

}  // namespace

ProfileReader IniProfileReader(const IniText* ini) { return ProfileReader{ReadStringThunk, ReadIntThunk, ini}; }
