// Starting CeAppMgr.exe with the copied .ini files, and the final message.
#include "installer/app_manager.h"
#include "installer/destination.h"
#include "installer/install_state.h"
#include "installer/install_win32.h"
#include "support/heap_array.h"
#include "support/text.h"

namespace {

// What CreateProcess takes, the NUL included. A few .ini files behind a
// device center under "C:\Program Files (x86)\" already overflow a path
// buffer, so the line is not held to one.
constexpr size_t CommandLineCapacity = 32767;

}  // namespace

// Started, not waited for; the application manager goes on after the
// installer has ended.
int StartAppManager() {
    HeapArray<char> line(CommandLineCapacity);
    if (!line.Get()) return AppManagerLineTooLong;
    int built = BuildAppManagerCommandLine(line.Get(), CommandLineCapacity);
    if (built != 0) return built;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    // It waits for the device long after the installer has ended: with the
    // installer's current directory, the launcher's working directory, it
    // would keep Windows from removing that. The destination holds its .ini
    // files; CreateProcess wants no trailing backslash except at a root.
    char directory[PathBufferSize];
    TextCopyMax(directory, DestinationDir, PathMaxChars);
    TrimDestination(directory);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, line.Get(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup, &info)) {
        DWORD error = GetLastError();
        return error == 0 ? 1 : static_cast<int>(error);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

void ShowFinalMessage(int result) {
    ShowInstallerMessage(MainWindowHandle(), result == 0 ? SuccessText : FailureText, nullptr, MB_ICONWARNING);
}
