// The few system services the portable core needs beyond files. The Windows
// programs get the real Win32 calls; the host build (cepack, tests, fuzzers)
// gets stand-ins that a test can observe through HostUi.
#pragma once

#include <cstddef>
#include <cstdint>

// A Win32 HWND in the programs; a HostProgressSink* on the host.
using WindowHandle = void*;

// Drains this thread's message queue; messages for PumpDialogWindow go
// through its dialog manager first.
void PumpMessages();
extern WindowHandle PumpDialogWindow;

// WM_COMMAND(id, percent) sent synchronously to a progress window.
void SendProgressMessage(WindowHandle window, int16_t id, int32_t percent);
// GetAsyncKeyState's sign bit: the key is down now.
bool IsKeyDown(int virtualKey);
// MessageBeep(0): the only immediate sign of a failed write.
void SoundBeep();

// GetSystemMetrics(SM_DBCSENABLED) != 0.
bool SystemDbcsEnabled();
// CharNextA / CharPrevA of the ANSI code page.
char* NextCharOf(const char* p);
char* PrevCharOf(const char* start, const char* p);
// OemToCharA in place. On the host OEM (code page 437) names become UTF-8,
// which may need more bytes: the result is cut at a character boundary so
// that it holds at most capacity - 1 bytes.
void OemToAnsiInPlace(char* text, size_t capacity);
// A name stored in UTF-8 (ZIP's general purpose flag bit 11) in the ANSI
// code page, into out (capacity bytes, NUL included). False when the bytes
// are not UTF-8, a character has no exact form in the code page, or the
// result does not fit: such a name is never written under a substitute.
// On the host, where "ANSI" is UTF-8, valid text comes out unchanged.
bool Utf8ToAnsi(const char* utf8, size_t length, char* out, size_t capacity);
// GetEnvironmentVariableA: the length copied, or the size needed when size is
// too small, or 0 when the variable is missing or empty.
uint32_t ReadEnvironmentVariable(const char* name, char* buffer, uint32_t size);
// A variable that names a path, in an ANSI form that opens that very path:
// its own where the code page holds every character, else its short 8.3
// form. The length, or 0 when it is missing, too long for size, or has no
// exact form (a name the code page cannot hold on a volume without short
// names): such a path is never used under substitutes.
constexpr uint32_t EnvironmentPathSize = 520;
constexpr int EnvironmentNameSize = 64;
uint32_t ReadEnvironmentPath(const char* name, char* buffer, uint32_t size);
#ifdef _WIN32
// path in that exact ANSI form, into out (capacity bytes, NUL included).
bool ExactAnsiPath(const wchar_t* path, char* out, size_t capacity);
// GetShortPathNameW, by which ExactAnsiPath finds the 8.3 form; tests
// replace it with one that fails as on a volume without short names.
using ShortPathFunction = unsigned long(__stdcall*)(const wchar_t* path, wchar_t* shortPath, unsigned long capacity);
extern ShortPathFunction ShortPathLookup;
#endif

// cepack on Windows has no windows either: it takes the host's stand-ins (CE_HOST_UI).
#if !defined(_WIN32) || defined(CE_HOST_UI)
// Host stand-ins for the user interface. A test points PumpDialogWindow /
// the progress window at a sink and watches the engine through it.
struct HostProgressSink {
    virtual ~HostProgressSink() = default;
    virtual void OnPump() {}
    virtual void OnProgress(int16_t /*id*/, int32_t /*percent*/) {}
    virtual void OnPaintBar(int32_t /*percent*/) {}  // a progress bar painted
};
struct HostUi {
    int pumps = 0;             // PumpMessages calls, with or without a sink
    int beeps = 0;             // SoundBeep calls
    bool (*keyDown)(int virtualKey) = nullptr;  // GetAsyncKeyState stand-in
    bool dbcs = false;         // what SystemDbcsEnabled reports
    // Lead-byte test used by NextCharOf/PrevCharOf while dbcs is set
    // (defaults to Shift-JIS, code page 932).
    bool (*isLeadByte)(unsigned char byte) = nullptr;
};
extern HostUi TheHostUi;
#endif
