// Starting CeAppMgr.exe with the copied .ini files, and the final message.
#include <windows.h>
#include <shellapi.h>

#include "installer/app_manager.h"
#include "installer/destination.h"
#include "installer/install_state.h"
#include "installer/install_win32.h"
#include "installer/setup_file.h"
#include "support/heap_array.h"
#include "support/system_win32.h"
#include "support/text.h"

namespace {

// What CreateProcess takes, the NUL included. A few .ini files behind a
// device center under "C:\Program Files (x86)\" already overflow a path
// buffer, so the line is not held to one.
constexpr size_t CommandLineCapacity = 32767;

// The cabinets that the copied .ini files name in CabFiles, each as "\r\n"
// and its name.
void ListCopiedCabinets(char* lines, size_t capacity) {
    lines[0] = 0;
    char entry[PathBufferSize];
    for (int number = 1; ReadFileListEntry(InstallSection, number, entry); ++number) {
        char name[PathBufferSize];
        EntryName(entry, name, sizeof name);
        if (!IsIniName(name)) continue;
        // DestinationDir ends in a backslash; a path that does not fit would name another file.
        char path[2 * PathBufferSize];
        TextCopy(path, DestinationDir);
        TextAppend(path, name);
        if (TextLength(path) > PathMaxChars) continue;
        char component[PathBufferSize];
        char cabFiles[TextBufferSize];
        GetPrivateProfileStringA("CEAppManager", "Component", "", component, sizeof component, path);
        if (component[0] == 0) continue;
        GetPrivateProfileStringA(component, "CabFiles", "", cabFiles, sizeof cabFiles, path);
        AppendCabinetLines(lines, capacity, cabFiles);
    }
}

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

void ShowSavedToFolder() {
    char folder[PathBufferSize];
    TextCopyMax(folder, DestinationDir, PathMaxChars);
    TrimDestination(folder);
    char cabinets[MessageBufferSize];
    ListCopiedCabinets(cabinets, sizeof cabinets);
    ShowInstallerMessage(MainWindowHandle(), SavedToFolderText, folder, MB_ICONINFORMATION, cabinets);
    // The shell may hand the folder to an extension that needs COM.
    ComApartment com;
    ShellExecuteA(MainWindowHandle(), "open", folder, nullptr, nullptr, SW_SHOWNORMAL);
}
