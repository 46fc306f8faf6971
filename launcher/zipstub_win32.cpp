// The launcher's entry point and its fixed order of stages: working
// directory, unpacking, installer, clean-up.
#include <windows.h>

#include "launcher/extract_entry.h"
#include "launcher/held_directory.h"
#include "launcher/own_path.h"
#include "launcher/work_directory.h"
#include "launcher/zipstub.h"
#include "support/file_layer.h"
#include "support/platform.h"
#include "support/progress_dialog.h"
#include "support/system_win32.h"

char OwnPath[PathBufferSize];
char TempDir[PathBufferSize];
void* ButtonFaceBrush = nullptr;
SetDllDirectoryFunction InheritedDllDirectory = nullptr;

namespace {

constexpr UINT QuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
constexpr DWORD SearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// DLLs that system code loads by name after start-up (the theme, the
// shell's helpers, the crypto providers, ...): the names of the planting
// reports against other installers, without ".dll".
const char PreloadedDlls[] =
    "uxtheme\0dwmapi\0version\0cryptbase\0cryptsp\0userenv\0apphelp\0propsys\0profapi\0ntmarta\0"
    "oleacc\0clbcatq\0comres\0secur32\0sspicli\0setupapi\0shfolder\0rsaenh\0";

// Loaded once by full path from the system directory, so that a later load
// by name finds them in memory. Their own imports are looked up beside
// them, not beside the launcher; missing ones are skipped.
void PreloadSystemDlls() {
    char path[PathBufferSize];
    UINT n = GetSystemDirectoryA(path, PathMaxChars);
    if (n == 0 || n + 24 > static_cast<UINT>(PathMaxChars)) return;
    AppendBackslash(path);
    char* name = TextEnd(path);
    for (const char* dll = PreloadedDlls; *dll; dll = TextEnd(dll) + 1) {
        TextCopy(name, dll);
        TextAppend(name, ".dll");
        LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

// The launcher runs elevated from a download folder: a DLL planted beside it
// must never be loaded. Where SetDefaultDllDirectories exists, only the
// system directory is searched. Elsewhere (XP, Vista, 7 without its update)
// SetDllDirectoryA("") drops only the current directory, the launcher's own
// is still searched first: the DLLs Windows would look for there later are
// loaded now from the system directory.
void RestrictDllSearch() {
    auto setDefault = LookUpKernelFunction<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
    if (setDefault && setDefault(SearchSystem32)) return;
    auto setDirectory = LookUpKernelFunction<SetDllDirectoryFunction>("SetDllDirectoryA");
    if (setDirectory && setDirectory("")) InheritedDllDirectory = setDirectory;
    PreloadSystemDlls();
}

// The package saved under a folder the code page cannot hold (a Cyrillic
// user name on a Western system) is opened by its short name, not by a
// path with "?" in it; a cut path would name another file. Where there is
// no such name the user learns why, and the launcher ends before it has
// created anything, as when no working directory can be made.
void ReadOwnPath() {
    WCHAR wide[EnvironmentPathSize];
    DWORD n = GetModuleFileNameW(nullptr, wide, EnvironmentPathSize);
    if (TakeOwnPath(wide, n, EnvironmentPathSize, OwnPath)) return;
    ShowCannotOpenFromHere();
    ExitProcess(0);
}

void StartUp() {
    InitDbcsFlag();
    BuildCrcTable();
    SetUseLongNames(true);
    InitCommonControlsByName();
    ReadOwnPath();
    ButtonFaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    ProgressFaceBrush = ButtonFaceBrush;
    ProgressCancelHook = RequestCancel;
}

// Whatever was unpacked goes again, also after a failure or a cancel; a file
// still in use or a subdirectory keeps the directory.
void CleanUp() {
    StripTrailingBackslash(TempDir);
    ChangeCurrentDirectory(TempDir);
    ChangeCurrentDirectory("..");
    RemoveWorkingDirectory(TempDir);
}

}  // namespace

namespace {

int RunLauncher() {
    // First of all: a present but broken system DLL among the preloads would
    // otherwise raise the loader's box from an elevated process.
    SetErrorMode(QuietErrorMode);
    RestrictDllSearch();
    StartUp();
    if (FindTempDirectory(TempDir)) {
        AppendBackslash(TempDir);
        if (ExtractPayload()) StartInstaller(TempDir);
        CloseProgressDialog();
        CleanUp();
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
