// Starts the unpacked installer with TempDir as its current directory and
// waits for it, serving the launcher's own queue, so that its files can be
// deleted afterwards.
#include <windows.h>

#include "launcher/zipstub.h"
#include "support/file_layer.h"
#include "support/system_win32.h"

namespace {

const char* const InstallerNames[] = {"setup.exe", "install.exe", "insstart.exe"};
const char LastInstallerName[] = "install.bat";  // taken without a test

constexpr size_t CommandLineChars = 511;
constexpr DWORD KeptProcessAccess = SYNCHRONIZE | STANDARD_RIGHTS_REQUIRED | PROCESS_QUERY_INFORMATION;
constexpr DWORD StartFlags = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;
constexpr DWORD WaitStep = 10;
constexpr int32_t DeleteTestInterval = 1000;
constexpr uintptr_t NotAHandle = 100;  // "started" marker when the handle is not kept
constexpr int32_t HighestErrorCode = 32;
// How long the progress dialog waits for the installer's first window.
constexpr DWORD InputIdleBound = 5000;

// The process the last successful start made (the program itself, or the
// one associated with its type).
DWORD StartedProcessId = 0;

int32_t StartFailureCode(DWORD error) {
    return error > static_cast<DWORD>(HighestErrorCode) ? static_cast<int32_t>(ERROR_FILE_NOT_FOUND)
                                                        : static_cast<int32_t>(error);
}

// dir followed by name, unless that is too long for a path buffer.
bool JoinPath(char* out, const char* dir, const char* name) {
    if (TextLength(dir) + TextLength(name) > static_cast<size_t>(PathMaxChars)) return false;
    TextCopy(out, dir);
    TextAppend(out, name);
    return true;
}

bool HasEntry(const char* path) {
    DirEntry entry;
    BeginDirSearch(path, 0x3F, &entry);
    bool found = LastFileError == ErrorSuccess;
    EndDirSearch(&entry);
    return found;
}

// Takes every waiting message; WM_QUIT ends the launcher on the spot with its
// code (the clean-up does not run).
void ServeQueue() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) ExitProcess(static_cast<UINT>(message.wParam));
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void WaitForProcessEnd(HANDLE process) {
    while (IsStillRunning(process, false)) {
        ServeQueue();
        Sleep(WaitStep);
    }
}

// The installer may have handed over to another process: wait until its
// file can be deleted, which it cannot while it is in use.
void WaitUntilDeletable(const char* program) {
    DWORD stamp = GetTickCount();
    for (;;) {
        ServeQueue();
        Sleep(WaitStep);
        int32_t elapsed = static_cast<int32_t>(GetTickCount() - stamp);
        if (elapsed < 0) elapsed = -elapsed;
        if (elapsed <= DeleteTestInterval) continue;
        DeleteFileA(program);
        bool stillThere = IsExistingPath(program);
        stamp = GetTickCount();
        if (!stillThere) return;
    }
}

// The working directory as CreateProcessA wants it: without a trailing
// backslash except at a drive root.
void CopyWorkingDirectory(char* out, const char* workdir) {
    TextCopyMax(out, workdir, PathMaxChars);
    if (TextLength(out) > 3) StripTrailingBackslash(out);
}

// The launcher's own restriction of the DLL search is lifted while a program
// starts, so that it gets the system's default search.
class DefaultDllSearchForChild {
public:
    DefaultDllSearchForChild() {
        if (InheritedDllDirectory) InheritedDllDirectory(nullptr);
    }
    ~DefaultDllSearchForChild() {
        if (InheritedDllDirectory) InheritedDllDirectory("");
    }
    DefaultDllSearchForChild(const DefaultDllSearchForChild&) = delete;
    DefaultDllSearchForChild& operator=(const DefaultDllSearchForChild&) = delete;
};

bool CreateWithCommandLine(char* commandLine, const char* workdir, int show, PROCESS_INFORMATION* info) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    *info = {};
    DefaultDllSearchForChild defaultSearch;
    return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, StartFlags, nullptr, workdir, &startup,
                          info) != 0;
}

// The launcher's one function of shell32.dll, looked up when a start fails:
// an import of its own would cost about 70 bytes. shell32 is a known DLL,
// always loaded from the system directory.
HINSTANCE FindAssociatedProgram(const char* document, const char* directory, char* result) {
    using FindExecutableFunction = HINSTANCE(WINAPI*)(LPCSTR, LPCSTR, LPSTR);
    auto find = LookUpFunction<FindExecutableFunction>(LoadLibraryA("shell32.dll"), "FindExecutableA");
    return find ? find(document, directory, result) : nullptr;
}

int32_t Started(PROCESS_INFORMATION* info, bool keep, void** handle) {
    StartedProcessId = info->dwProcessId;
    *handle = KeepProcessHandle(info->hProcess, keep);
    CloseHandle(info->hThread);
    return StartedResult;
}

// The launcher still has the foreground through its progress dialog: it
// allows it to the installer by id while it has it, so that no input of the
// user in between can cancel the grant, and closes the dialog once the
// installer waits for input (its window is up), has ended, or the bound is
// reached. A failed start leaves the dialog to the launcher's end.
void HandOverForeground(HANDLE process) {
    AllowSetForegroundWindow(StartedProcessId);
    // A program without a message queue, or no handle, fails the wait at
    // once; anything else is bounded.
    for (DWORD waited = 0; waited < InputIdleBound && WaitForInputIdle(process, WaitStep) == WAIT_TIMEOUT;
         waited += WaitStep) {
        ServeQueue();
    }
    CloseProgressDialog();
}

}  // namespace

void* KeepProcessHandle(void* process, bool keep) {
    if (!keep) {
        CloseHandle(process);
        return reinterpret_cast<void*>(NotAHandle);
    }
    HANDLE self = GetCurrentProcess();
    HANDLE kept = nullptr;
    if (!DuplicateHandle(self, process, self, &kept, KeptProcessAccess, FALSE, 0)) return process;
    CloseHandle(process);
    return kept;
}

bool IsStillRunning(void* handle, bool isWindow) {
    if (isWindow) return IsWindow(static_cast<HWND>(handle)) != 0;
    DWORD r = WaitForSingleObject(handle, 0);
    if (r == WAIT_FAILED) r = GetLastError();
    return r == WAIT_TIMEOUT;
}

int32_t StartProcess(const char* program, const char* parameters, const char* workdir, int show, bool keep,
                     void** handle) {
    char commandLine[CommandLineChars + 1];
    TextCopyMax(commandLine, program, CommandLineChars);
    if (parameters && *parameters) {
        TextAppendMax(commandLine, " ", CommandLineChars);
        TextAppendMax(commandLine, parameters, CommandLineChars);
    }
    char directory[PathBufferSize];
    const char* directoryArgument = nullptr;
    if (workdir) {
        CopyWorkingDirectory(directory, workdir);
        directoryArgument = directory;
    }
    PROCESS_INFORMATION info;
    if (CreateWithCommandLine(commandLine, directoryArgument, show, &info)) return Started(&info, keep, handle);
    int32_t code = StartFailureCode(GetLastError());

    // Not a program of its own (a batch file where those don't run directly,
    // a document): start the program associated with its type.
    char document[CommandLineChars + 1];
    TextCopyMax(document, program, CommandLineChars);
    StripQuotes(document);
    HINSTANCE found = FindAssociatedProgram(document, directoryArgument, commandLine);
    if (reinterpret_cast<uintptr_t>(found) <= static_cast<uintptr_t>(HighestErrorCode)) return code;
    if (ScanChar(FileNameOf(program), '.')) {
        TextAppendMax(commandLine, " ", CommandLineChars);
        TextAppendMax(commandLine, program, CommandLineChars);
    }
    if (parameters) {
        TextAppendMax(commandLine, " ", CommandLineChars);
        TextAppendMax(commandLine, parameters, CommandLineChars);
    }
    if (CreateWithCommandLine(commandLine, directoryArgument, show, &info)) return Started(&info, keep, handle);
    *handle = nullptr;
    return StartFailureCode(GetLastError());
}

int32_t RunCommandLine(char* command, int show, const char* workdir, bool keep, void** handle) {
    char* end = command[0] == '"' ? ScanChar(command + 1, '"') : ScanChar(command, ' ');
    if (end && command[0] == '"') ++end;  // a quoted program keeps its quotes
    char* parameters = nullptr;
    if (end && *end) {
        *end = 0;
        parameters = end + 1;
    }
    return StartProcess(command, parameters, workdir, show, keep, handle);
}

int32_t StartInstaller(const char* dir) {
    char program[PathBufferSize];
    const char* name = LastInstallerName;
    for (const char* candidate : InstallerNames) {
        if (JoinPath(program, dir, candidate) && HasEntry(program)) {
            name = candidate;
            break;
        }
    }
    if (!JoinPath(program, dir, name)) return ERROR_FILE_NOT_FOUND;
    char workdir[PathBufferSize];
    TextCopyMax(workdir, dir, PathMaxChars);
    StripTrailingBackslash(workdir);

    // Quoted, so that a path with spaces is never taken for a shorter program
    // name followed by arguments (C:\Users\John.exe for C:\Users\John Smith\...).
    char command[CommandLineChars + 1] = "\"";
    TextAppendMax(command, program, CommandLineChars - 1);
    TextAppendMax(command, "\"", CommandLineChars);
    void* process = nullptr;
    int32_t r = RunCommandLine(command, SW_SHOWNORMAL, workdir, true, &process);
    // Whether it still runs is judged at once, as before the dialog waits:
    // one that has already ended has handed over to another process.
    bool running = process && IsStillRunning(process, false);
    if (r <= HighestErrorCode) return r;
    HandOverForeground(process);
    if (running) {
        WaitForProcessEnd(process);
    } else {
        WaitUntilDeletable(program);
    }
    if (process) CloseHandle(process);
    return r;
}
