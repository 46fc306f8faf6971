// Host stand-ins for the Win32 services the portable core uses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/platform.h"
#include "support/progress.h"
#include "support/text.h"

HostUi TheHostUi;
WindowHandle PumpDialogWindow = nullptr;

void PumpMessages() {
    ++TheHostUi.pumps;
    if (PumpDialogWindow) static_cast<HostProgressSink*>(PumpDialogWindow)->OnPump();
}

void SendProgressMessage(WindowHandle window, int16_t id, int32_t percent) {
    if (window) static_cast<HostProgressSink*>(window)->OnProgress(id, percent);
}

bool IsKeyDown(int virtualKey) { return TheHostUi.keyDown ? TheHostUi.keyDown(virtualKey) : false; }

void SoundBeep() { ++TheHostUi.beeps; }

bool SystemDbcsEnabled() { return TheHostUi.dbcs; }

namespace {

// Shift-JIS (code page 932) lead bytes.
bool IsShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool IsLead(unsigned char b) {
    if (!TheHostUi.dbcs) return false;
    return TheHostUi.isLeadByte ? TheHostUi.isLeadByte(b) : IsShiftJisLeadByte(b);
}

}  // namespace

// Same contract as CharNextA: never steps over the terminator, and a lead
// byte directly in front of the terminator counts as one character.
char* NextCharOf(const char* p) {
    if (*p == 0) return const_cast<char*>(p);
    if (IsLead(static_cast<unsigned char>(*p)) && p[1] != 0) return const_cast<char*>(p + 2);
    return const_cast<char*>(p + 1);
}

// Same contract as CharPrevA: walks forward from start to find the character
// in front of p; at start it stays at start.
char* PrevCharOf(const char* start, const char* p) {
    if (p <= start) return const_cast<char*>(start);
    const char* q = start;
    for (;;) {
        const char* next = NextCharOf(q);
        if (next >= p || next == q) return const_cast<char*>(q);
        q = next;
    }
}

namespace {

// Code page 437, bytes 0x80-0xFF, as Unicode code points.
const uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

size_t EncodeUtf8(uint16_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
}

}  // namespace

namespace {

// Length of the well-formed UTF-8 sequence at text (at most n bytes), 0 for
// a malformed one: overlong forms, surrogates and values past U+10FFFF too.
size_t Utf8SequenceLength(const unsigned char* text, size_t n) {
    unsigned char lead = text[0];
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || length > n) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
    }
    unsigned char second = text[1];
    if (lead == 0xE0 && second < 0xA0) return 0;  // overlong
    if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
    if (lead == 0xF0 && second < 0x90) return 0;  // overlong
    if (lead == 0xF4 && second >= 0x90) return 0;  // past U+10FFFF
    return length;
}

}  // namespace

bool Utf8ToAnsi(const char* utf8, size_t length, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = 0;
    if (length > capacity - 1) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8);
    for (size_t i = 0; i < length;) {
        size_t step = Utf8SequenceLength(bytes + i, length - i);
        if (step == 0) return false;
        i += step;
    }
    std::memcpy(out, utf8, length);
    out[length] = 0;
    return true;
}

void OemToAnsiInPlace(char* text, size_t capacity) {
    if (capacity == 0) return;
    size_t length = TextLength(text);
    bool ascii = true;
    for (size_t i = 0; i < length; ++i) ascii = ascii && static_cast<unsigned char>(text[i]) < 0x80;
    if (ascii) return;
    char* source = static_cast<char*>(std::malloc(length + 1));
    if (!source) return;
    std::memcpy(source, text, length + 1);
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = static_cast<unsigned char>(source[i]);
        char encoded[3];
        size_t n = EncodeUtf8(b < 0x80 ? b : Cp437High[b - 0x80], encoded);
        if (out + n > capacity - 1) break;  // whole characters only
        std::memcpy(text + out, encoded, n);
        out += n;
    }
    text[out] = 0;
    std::free(source);
}

uint32_t ReadEnvironmentVariable(const char* name, char* buffer, uint32_t size) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) return 0;
    size_t length = std::strlen(value);
    if (length + 1 > size) return static_cast<uint32_t>(length + 1);
    std::memcpy(buffer, value, length + 1);
    return static_cast<uint32_t>(length);
}

// Host paths are UTF-8 already, which holds every name.
uint32_t ReadEnvironmentPath(const char* name, char* buffer, uint32_t size) {
    uint32_t n = ReadEnvironmentVariable(name, buffer, size);
    return n < size ? n : 0;
}

// wvsprintfA's subset: flags "-", "0", "#", a width, a precision, "l"/"h",
// and the types c, d, i, u, x, X, s, %. Each item takes one argument slot.
int FormatText(char* destination, const char* format, const uintptr_t* arguments) {
    constexpr size_t Limit = 1024;
    size_t out = 0;
    auto put = [&](const char* s, size_t n) {
        for (size_t i = 0; i < n && out < Limit - 1; ++i) destination[out++] = s[i];
    };
    for (const char* f = format; *f && out < Limit - 1;) {
        if (*f != '%') {
            put(f++, 1);
            continue;
        }
        const char* start = f++;
        if (*f == '%') {
            put(f++, 1);
            continue;
        }
        while (*f == '-' || *f == '0' || *f == '#') ++f;
        while (*f >= '0' && *f <= '9') ++f;
        if (*f == '.') {
            ++f;
            while (*f >= '0' && *f <= '9') ++f;
        }
        while (*f == 'l' || *f == 'h') ++f;
        char type = *f;
        if (type == 0) break;
        ++f;
        char item[32];
        size_t item_length = static_cast<size_t>(f - start);
        if (item_length >= sizeof item - 2) {
            ++arguments;  // the item still takes its slot: later items keep theirs
            continue;
        }
        std::string_view flags(start, item_length - 1);
        size_t k = 0;
        for (char c : flags) {
            if (c != 'l' && c != 'h') item[k++] = c;
        }
        char piece[Limit];
        int n = 0;
        uintptr_t arg = *arguments++;
        switch (type) {
            case 'd':
            case 'i':
                item[k++] = 'd';
                item[k] = 0;
                n = std::snprintf(piece, sizeof piece, item, static_cast<int32_t>(arg));
                break;
            case 'u':
            case 'x':
            case 'X':
                item[k++] = type;
                item[k] = 0;
                n = std::snprintf(piece, sizeof piece, item, static_cast<uint32_t>(arg));
                break;
            case 'c':
                item[k++] = 'c';
                item[k] = 0;
                n = std::snprintf(piece, sizeof piece, item, static_cast<int>(static_cast<unsigned char>(arg)));
                break;
            case 's':
                item[k++] = 's';
                item[k] = 0;
                n = std::snprintf(piece, sizeof piece, item, arg ? reinterpret_cast<const char*>(arg) : "(null)");
                break;
            default:
                --arguments;
                continue;
        }
        if (n > 0) put(piece, static_cast<size_t>(n) < sizeof piece ? static_cast<size_t>(n) : sizeof piece - 1);
    }
    destination[out] = 0;
    return static_cast<int>(out);
}

void PaintPercentBar(WindowHandle bar, int32_t percent) {
    static_cast<HostProgressSink*>(bar)->OnPaintBar(percent);
}
