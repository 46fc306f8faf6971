// The Win32 side of the core's system services.
#include <windows.h>

#include <climits>

#include "support/platform.h"
#include "support/text.h"

WindowHandle PumpDialogWindow = nullptr;

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        HWND dialog = static_cast<HWND>(PumpDialogWindow);
        if (dialog && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void SendProgressMessage(WindowHandle window, int16_t id, int32_t percent) {
    SendMessageA(static_cast<HWND>(window), WM_COMMAND, static_cast<WPARAM>(static_cast<uint16_t>(id)),
                 static_cast<LPARAM>(percent));
}

bool IsKeyDown(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

void SoundBeep() { MessageBeep(0); }

bool SystemDbcsEnabled() { return GetSystemMetrics(SM_DBCSENABLED) != 0; }

char* NextCharOf(const char* p) { return CharNextA(p); }

char* PrevCharOf(const char* start, const char* p) { return CharPrevA(start, p); }

void OemToAnsiInPlace(char* text, size_t /*capacity*/) { OemToCharA(text, text); }

namespace {

// The exact ANSI form of count wide characters (-1: up to the NUL) into out
// (capacity bytes, NUL included); false when a character has none (never a substitute or a
// best-fit look-alike) or it does not fit.
bool WideToExactAnsi(const WCHAR* wide, int count, char* out, size_t capacity) {
    out[0] = 0;
    int room = static_cast<int>(capacity - 1);
    // A UTF-8 ANSI code page takes no "default character" test.
    BOOL substituted = FALSE;
    BOOL* check = GetACP() == CP_UTF8 ? nullptr : &substituted;
    int written = WideCharToMultiByte(CP_ACP, check ? WC_NO_BEST_FIT_CHARS : 0, wide, count, out, room, nullptr, check);
    if (written <= 0 || substituted) {
        out[0] = 0;
        return false;
    }
    out[written] = 0;
    return true;
}

}  // namespace

bool Utf8ToAnsi(const char* utf8, size_t length, char* out, size_t capacity) {
    if (capacity == 0 || length > static_cast<size_t>(INT_MAX)) return false;
    out[0] = 0;
    if (length == 0) return true;
    // A name that fits a path holds at most PathMaxChars characters.
    WCHAR wide[PathBufferSize];
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(length), wide, PathMaxChars);
    if (count <= 0) return false;
    return WideToExactAnsi(wide, count, out, capacity);
}

ShortPathFunction ShortPathLookup = GetShortPathNameW;

// An empty path comes out empty, which opens nothing.
bool ExactAnsiPath(const WCHAR* path, char* out, size_t capacity) {
    if (WideToExactAnsi(path, -1, out, capacity)) return true;
    // The 8.3 form is plain ASCII; a volume without short names has none.
    WCHAR shortPath[EnvironmentPathSize];
    DWORD n = ShortPathLookup(path, shortPath, EnvironmentPathSize);
    return n > 0 && n < EnvironmentPathSize && WideToExactAnsi(shortPath, -1, out, capacity);
}

uint32_t ReadEnvironmentVariable(const char* name, char* buffer, uint32_t size) {
    return GetEnvironmentVariableA(name, buffer, size);
}

uint32_t ReadEnvironmentPath(const char* name, char* buffer, uint32_t size) {
    // The programs' variable names are plain ASCII.
    WCHAR wideName[EnvironmentNameSize];
    int i = 0;
    for (; name[i] && i < EnvironmentNameSize - 1; ++i) wideName[i] = static_cast<unsigned char>(name[i]);
    wideName[i] = 0;
    WCHAR value[EnvironmentPathSize];
    DWORD n = GetEnvironmentVariableW(wideName, value, EnvironmentPathSize);
    if (n == 0 || n >= EnvironmentPathSize) return 0;
    return ExactAnsiPath(value, buffer, size) ? static_cast<uint32_t>(TextLength(buffer)) : 0;
}

int FormatText(char* destination, const char* format, const uintptr_t* arguments) {
    return wvsprintfA(destination, format, reinterpret_cast<va_list>(const_cast<uintptr_t*>(arguments)));
}
