// The launcher's entry point and its fixed order of stages: working
// directory, unpacking, installer, clean-up.
#include <windows.h>

#include "launcher/extract_entry.h"
#include "launcher/work_directory.h"
#include "launcher/zipstub.h"
#include "support/file_layer.h"
#include "support/progress_dialog.h"
#include "support/system_win32.h"

char OwnPath[PathBufferSize];
char TempDir[PathBufferSize];
void* ButtonFaceBrush = nullptr;
SetDllDirectoryFunction InheritedDllDirectory = nullptr;

namespace {

constexpr UINT QuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
constexpr DWORD SearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// The launcher runs elevated from a download folder: a DLL planted beside it
// must never be loaded. Where SetDefaultDllDirectories exists, only the
// system directory is searched; elsewhere the current directory is dropped
// (XP SP1 on); Windows before that has neither and goes on as it is.
void RestrictDllSearch() {
    auto setDefault = LookUpKernelFunction<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
    if (setDefault && setDefault(SearchSystem32)) return;
    auto setDirectory = LookUpKernelFunction<SetDllDirectoryFunction>("SetDllDirectoryA");
    if (setDirectory && setDirectory("")) InheritedDllDirectory = setDirectory;
}

void ReadOwnPath() {
    DWORD n = GetModuleFileNameA(nullptr, OwnPath, PathMaxChars);
    // A cut path would name another file; an empty one opens nothing.
    if (n >= static_cast<DWORD>(PathMaxChars)) OwnPath[0] = 0;
}

void StartUp() {
    InitDbcsFlag();
    BuildCrcTable();
    SetUseLongNames(true);
    SetErrorMode(QuietErrorMode);
    InitCommonControlsByName();
    ReadOwnPath();
    ButtonFaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    ProgressFaceBrush = ButtonFaceBrush;
    ProgressCancelHook = RequestCancel;
}

// Whatever was unpacked goes again, also after a failure or a cancel; a file
// still in use or a subdirectory keeps the directory.
void RemoveWorkingDirectory() {
    StripTrailingBackslash(TempDir);
    ChangeCurrentDirectory(TempDir);
    ChangeCurrentDirectory("..");
    DeleteTempFiles(TempDir);
    RemoveDirectoryPath(TempDir);
}

}  // namespace

namespace {

int RunLauncher() {
    RestrictDllSearch();
    StartUp();
    if (FindTempDirectory(TempDir)) {
        AppendBackslash(TempDir);
        if (ExtractPayload()) StartInstaller(TempDir);
        RemoveWorkingDirectory();
    }
    DeleteObject(ButtonFaceBrush);
    return 0;
}

}  // namespace

// The C runtime's start-up code is not linked in: the launcher reads no
// command line and needs none of it, and leaving it out keeps several KB off
// a file that is downloaded with every package.
extern "C" void WINAPI ZipstubStart() {
    RunStaticConstructors();
    ExitProcess(static_cast<UINT>(RunLauncher()));
}
