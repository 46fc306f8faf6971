// The Win32 side of the core's system services.
#include <windows.h>

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

uint32_t ReadEnvironmentVariable(const char* name, char* buffer, uint32_t size) {
    return GetEnvironmentVariableA(name, buffer, size);
}

int FormatText(char* destination, const char* format, const uintptr_t* arguments) {
    return wvsprintfA(destination, format, reinterpret_cast<va_list>(const_cast<uintptr_t*>(arguments)));
}
