// Where things are on the PC: the CE services directory from the registry
// and CeAppMgr.exe in it, the destination dialog MYINPUTDIALOG with the
// folder browser, and the preparation of the destination directory.
#include <shlobj.h>

#include "installer/app_manager.h"
#include "installer/destination.h"
#include "installer/install_win32.h"
#include "support/file_layer.h"
#include "support/platform.h"
#include "support/system_win32.h"
#include "support/text.h"

namespace {

const char CeServicesKey[] = "SOFTWARE\\Microsoft\\Windows CE Services";
const char InstalledDirValue[] = "InstalledDir";
// Windows Mobile Device Center 6.1 on Microsoft's download centre, for
// 32-bit and 64-bit Windows; and the vendor's host for ActiveSync.
const char DeviceCenterAddress32[] = "https://www.microsoft.com/en-us/download/details.aspx?id=14";
const char DeviceCenterAddress64[] = "https://www.microsoft.com/en-us/download/details.aspx?id=3182";
const char VendorHost[] = "www.microsoft.com";

constexpr int PromptId = 100;
constexpr int InputId = 101;
constexpr int BrowseId = 102;
constexpr UINT AddressClipboardFlags = GMEM_MOVEABLE | GMEM_DDESHARE;

// A device center may have registered itself in either view of the
// registry; its application path is Microsoft's advice for finding it.
const char AppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";
constexpr REGSAM RegistryViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// A registry text value (nullptr names the key's default value), whatever its
// type; empty when missing or too long for a path.
void ReadRegistryText(const char* keyName, const char* valueName, REGSAM view, char* value) {
    value[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return;
    DWORD size = PathBufferSize;
    DWORD type = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
        // The stored data need not end in a NUL.
        value[size < PathBufferSize ? size : PathMaxChars] = 0;
    } else {
        value[0] = 0;
    }
    RegCloseKey(key);
}

// CeServicesDir := directory (references expanded, with a backslash); true
// when CeAppMgr.exe is in it. A program path that does not fit is not looked
// for: cut, it would name some other file.
bool TakeServicesDir(char* directory) {
    ExpandPercentVars(directory, PathMaxChars);
    TextCopyMax(CeServicesDir, directory, PathMaxChars);
    AppendBackslashInPath(CeServicesDir);
    char program[PathBufferSize + 16];
    TextCopy(program, CeServicesDir);
    TextAppend(program, AppManagerName);
    return TextLength(program) <= PathMaxChars && IsExistingFile(program);
}

// An application path names the program itself, perhaps quoted.
bool TakeProgramPath(char* path) {
    StripQuotes(path);
    ExpandPercentVars(path, PathMaxChars);
    char* name = ScanCharBack(path, '\\');
    if (name == nullptr) return false;
    name[1] = 0;
    return TakeServicesDir(path);
}

// The InstalledDir of the CE services in the 32-bit view first (an empty one
// means c:\); only where that has no CeAppMgr.exe, the 64-bit view, then the
// application path in both views.
bool FindAppManager() {
    char value[PathBufferSize];
    ReadRegistryText(CeServicesKey, InstalledDirValue, KEY_WOW64_32KEY, value);
    if (value[0] == 0) TextCopy(value, "c:\\");
    if (TakeServicesDir(value)) return true;
    ReadRegistryText(CeServicesKey, InstalledDirValue, KEY_WOW64_64KEY, value);
    if (value[0] != 0 && TakeServicesDir(value)) return true;
    for (REGSAM view : RegistryViews) {
        ReadRegistryText(AppPathsKey, nullptr, view, value);
        if (value[0] != 0 && TakeProgramPath(value)) return true;
    }
    return false;
}

bool IsWindows64() {
#ifdef _WIN64
    return true;
#else
    auto isWow64 = LookUpKernelFunction<BOOL(WINAPI*)(HANDLE, PBOOL)>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
#endif
}

const char* DeviceCenterAddress() { return IsWindows64() ? DeviceCenterAddress64 : DeviceCenterAddress32; }

void CopyAddressToClipboard(const char* address) {
    size_t size = TextLength(address) + 1;
    HGLOBAL memory = GlobalAlloc(AddressClipboardFlags, size);
    if (memory == nullptr) return;
    char* text = static_cast<char*>(GlobalLock(memory));
    if (text == nullptr) {
        GlobalFree(memory);
        return;
    }
    TextCopy(text, address);
    GlobalUnlock(memory);
    if (!OpenClipboard(MainWindowHandle())) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory) == nullptr) GlobalFree(memory);
    CloseClipboard();
}

void ShowDeviceManagerMissing(const char* address) {
    if (VistaOrLater) {
        ShowInstallerMessage(MainWindowHandle(), DeviceCenterMissingText, address, MB_OKCANCEL | MB_ICONINFORMATION);
    } else {
        ShowInstallerMessage(MainWindowHandle(), ActiveSyncMissingText, VendorHost, MB_ICONWARNING);
    }
}

// The desktop of the account the installer runs as (elevated under another
// account, that account's), in the exact ANSI form the copy can open.
bool FindDesktop(char* path) {
    LPITEMIDLIST item = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &item)) || item == nullptr) return false;
    WCHAR wide[MAX_PATH];
    bool found = SHGetPathFromIDListW(item, wide) && ExactAnsiPath(wide, path, PathBufferSize);
    ILFree(item);
    return found;
}

// The desktop followed by the name of "Dir"; c:\ where there is no desktop.
void ProposeDeviceFolder() {
    char setting[PathBufferSize];
    ReadDestinationSetting(setting);
    if (!FindDesktop(DestinationDir)) TextCopy(DestinationDir, "c:\\");
    AppendBackslashInPath(DestinationDir);
    TextAppendMax(DestinationDir, DestinationDirName(setting), PathMaxChars);
}

// AskText's parameters, for its dialog procedure.
struct AskTextRequest {
    const char* Caption;
    const char* Prompt;
    char* Buffer;
    uint16_t Capacity;
    bool (*Accept)(const char* text);
};
AskTextRequest TheAskText = {};

void BrowseForDestination(HWND dialog) {
    if (!Win95ShellOrLater) return;
    ComApartment com;  // the shell's item lists and browser need COM on this thread
    LPITEMIDLIST root = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(dialog, CSIDL_DRIVES, &root)) || root == nullptr) return;
    char setting[PathBufferSize];
    ReadDestinationSetting(setting);
    const char* dirName = DestinationDirName(setting);
    char title[MessageBufferSize];
    FormatInstallerText(title, sizeof title, BrowseTitleText, dirName);
    char displayName[MAX_PATH];
    BROWSEINFOA info = {};
    info.hwndOwner = dialog;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    char path[MAX_PATH];
    bool havePath = chosen != nullptr && SHGetPathFromIDListA(chosen, path);
    if (chosen) ILFree(chosen);
    ILFree(root);
    if (!havePath) return;
    AppendBrowsedDirName(path, dirName);
    SetDlgItemTextA(dialog, InputId, path);
}

void TakeInput(HWND dialog) { GetDlgItemTextA(dialog, InputId, TheAskText.Buffer, TheAskText.Capacity); }

INT_PTR OnAskTextInit(HWND dialog) {
    if (!Win95ShellOrLater) ShowWindow(GetDlgItem(dialog, BrowseId), SW_HIDE);
    SetWindowTextA(dialog, TheAskText.Caption);
    SetDlgItemTextA(dialog, PromptId, TheAskText.Prompt);
    SetButtonTexts(dialog);
    SetDlgItemTextA(dialog, InputId, TheAskText.Buffer);
    SendDlgItemMessageA(dialog, InputId, EM_LIMITTEXT, TheAskText.Capacity - 1u, 0);
    CentreOverOwner(dialog);
    return TRUE;
}

// Refused input keeps the dialog open with the text selected for retyping.
INT_PTR OnAskTextOk(HWND dialog) {
    TakeInput(dialog);
    if (TheAskText.Accept && !TheAskText.Accept(TheAskText.Buffer)) {
        ShowInstallerMessage(dialog, DestinationExampleText, nullptr, MB_ICONWARNING);
        HWND input = GetDlgItem(dialog, InputId);
        SetFocus(input);
        SendMessageA(input, EM_SETSEL, 0, -1);
        return TRUE;
    }
    EndDialog(dialog, IDOK);
    return TRUE;
}

INT_PTR CALLBACK AskTextDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return OnAskTextInit(dialog);
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK:
            return OnAskTextOk(dialog);
        case IDCANCEL:
            TakeInput(dialog);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case BrowseId:
            BrowseForDestination(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR AskText(const char* caption, const char* prompt, char* buffer, uint16_t capacity,
                bool (*accept)(const char* text)) {
    TheAskText = AskTextRequest{caption, prompt, buffer, capacity, accept};
    return DialogBoxParamA(ProgramInstance, "MYINPUTDIALOG", MainWindowHandle(), AskTextDialogProc, 0);
}

bool AskExistingDirectory() {
    int answer = ShowInstallerMessage(MainWindowHandle(), DirectoryExistsText, nullptr, MB_YESNO | MB_ICONQUESTION);
    return answer == IDYES;
}

}  // namespace

bool CheckDeviceManager() {
    if (FindAppManager()) return true;
    const char* address = DeviceCenterAddress();
    CopyAddressToClipboard(address);
    ShowDeviceManagerMissing(address);
    // The package holds the cabinet, which the device installs by itself.
    SavingForDevice =
        ShowInstallerMessage(MainWindowHandle(), SaveToFolderText, nullptr, MB_YESNO | MB_ICONQUESTION) == IDYES;
    return SavingForDevice;
}

INT_PTR AskDestination() {
    if (SavingForDevice) {
        ProposeDeviceFolder();
    } else {
        ProposeDestination();
    }
    return AskText(MainCaption, InstallerText(DestinationPromptText), DestinationDir, PathMaxChars,
                   IsUsableDestination);
}

bool PrepareDestination() {
    char program[PathBufferSize];
    DWORD length = GetModuleFileNameA(nullptr, program, PathBufferSize);
    program[length < PathBufferSize ? length : 0] = 0;
    SetSourceDirFromProgramPath(program);
    TrimDestination(DestinationDir);
    int kind = ExamineDestination(DestinationDir);
    if (kind == DestinationIsDirectory) {
        if (!IsInstallerDirectory(DestinationDir) && !AskExistingDirectory()) return false;
    } else {
        MakeDirectory(DestinationDir);
    }
    return true;
}
