// The installer's start-up, its window and the two stages, each started by
// a window message: PrepareInstallation on WM_CREATE, RunInstallation on
// the posted WM_STARTINSTALL.
#include "installer/install_win32.h"

#include "installer/copy_files.h"
#include "installer/destination.h"
#include "support/message_box_win32.h"
#include "support/progress.h"
#include "support/system_win32.h"
#include "support/text.h"

HINSTANCE ProgramInstance = nullptr;
bool SavingForDevice = false;

namespace {

const char ClassName[] = "kvinstallclass32";
constexpr int StartFailedExitCode = 255;

void PrepareInstallation() {
    UserCancelled = false;
    LocateSetupFile();
    ReadSetupTexts();
    LoadTexts(0);
    MakeMainCaption();
    SetWindowTextA(MainWindowHandle(), MainCaption);
    if (!SetupFileExists()) {
        ShowSetupFileMissing();
        PostCloseRequest();
        return;
    }
    ShowWindow(MainWindowHandle(), SW_SHOWMAXIMIZED);
    // Started from the launcher, which allowed it, the installer would
    // otherwise open behind the window the user last clicked.
    SetForegroundWindow(MainWindowHandle());
    // A dialog that could not be made (-1) counts as Cancel: nothing is
    // installed without the user's answer.
    if (!CheckDeviceManager() || !ChooseLanguage() || AskDestination() != IDOK) {
        PostCloseRequest();
        return;
    }
    PostMessageA(MainWindowHandle(), WM_STARTINSTALL, 0, 0);
}

void RunInstallation() {
    if (!PrepareDestination()) {
        PostCloseRequest();
        return;
    }
    // The destination dialog leaves at most 258 characters, so the
    // backslash fits; should it not, nothing is copied into a wrong place.
    int result = AppendBackslashInPath(DestinationDir) ? InstallWithBackup() : CopyCreateFailed;
    if (result == CopyDone && SavingForDevice) {
        ShowSavedToFolder();
        PostCloseRequest();
        return;
    }
    if (result == CopyDone) result = StartAppManager();
    ShowFinalMessage(result);
    PostCloseRequest();
}

LRESULT OnCreate(HWND window) {
    MainWindow = window;
    PrepareInstallation();
    return 0;
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(window, &ps);
    PaintBackground(hdc);
    EndPaint(window, &ps);
    return 0;
}

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            return OnPaint(window);
        case WM_ERASEBKGND:
            EraseBackdrop(window, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_STARTINSTALL:
            RunInstallation();
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool RegisterInstallerClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = InstallerWindowProc;
    windowClass.hInstance = instance;
    // The only icon group is MAINICON, so the class keeps the default icon.
    windowClass.hIcon = LoadIconA(instance, "QUILLONAPP");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = ClassName;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

void PostCloseRequest() { PostMessageA(MainWindowHandle(), WM_SYSCOMMAND, SC_CLOSE, 0); }

void CentreOverOwner(HWND dialog) {
    RECT owner;
    RECT own;
    GetWindowRect(GetWindow(dialog, GW_OWNER), &owner);
    GetWindowRect(dialog, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int x = owner.left + ((owner.right - owner.left) - width) / 2;
    int y = owner.top + ((owner.bottom - owner.top) - height) / 2;
    MoveWindow(dialog, x, y, width, height, TRUE);
}

void SetButtonTexts(HWND dialog) {
    SetDlgItemTextA(dialog, IDOK, InstallerText(OkButtonText));
    SetDlgItemTextA(dialog, IDCANCEL, InstallerText(CancelButtonText));
}

bool AppendBackslashInPath(char* path) {
    if (TextLength(path) >= PathMaxChars) return false;
    AppendBackslash(path);
    return true;
}

namespace {

int RunInstaller(HINSTANCE instance) {
    InitDbcsFlag();
    SetVersionFlags(WindowsVersionWord(GetVersion()));
    InitCommonControlsByName();
    ProgramInstance = instance;
    if (!RegisterInstallerClass(instance)) {
        ShowBuiltInMessage(nullptr, "Error starting program!", "install", BuiltInCodePage, MB_ICONERROR);
        return StartFailedExitCode;
    }
    HWND window = CreateWindowExA(0, ClassName, "install", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) return 0;
    ShowWindow(window, SW_SHOWMAXIMIZED);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

}  // namespace

// Like the launcher, the installer leaves out the C runtime's start-up: it
// reads no command line and needs none of it (several KB of code and the
// .CRT and .tls sections).
extern "C" void WINAPI InstallStart() {
    RunStaticConstructors();
    ExitProcess(static_cast<UINT>(RunInstaller(GetModuleHandleA(nullptr))));
}
