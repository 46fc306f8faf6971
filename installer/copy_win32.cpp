// The copy with backup under the two-bar progress dialog, which owns every
// message box of the copy while the main window is disabled.
#include "installer/copy_files.h"
#include "installer/install_win32.h"
#include "support/platform.h"
#include "support/progress.h"
#include "support/progress_dialog.h"

namespace {

HWND DialogHandle() { return static_cast<HWND>(ProgressDialog); }

void SetDialogLine(int controlId, const char* text) { SetDlgItemTextA(DialogHandle(), controlId, text); }

void ShowCopyWarning(int text, const char* path) { ShowInstallerMessage(DialogHandle(), text, path, MB_ICONWARNING); }

}  // namespace

int InstallWithBackup() {
    TheCopyUi = CopyUi{SetDialogLine, ShowCopyWarning};
    int32_t total = SumSourceSizes();
    EnableWindow(MainWindowHandle(), FALSE);
    ProgressDialog = CreateProgressDialog(ProgramInstance, MainWindow);
    PumpDialogWindow = ProgressDialog;
    // The caption last: whoever finds the dialog by it finds it complete.
    SetDialogLine(PhaseLineId, InstallerText(BackupLineText));
    SetDialogLine(IDCANCEL, InstallerText(CopyCancelButtonText));
    SetWindowTextA(DialogHandle(), InstallerText(CopyCaptionText));
    SetProgressTotal(total);

    BackupExistingFiles();
    SetDialogLine(PhaseLineId, InstallerText(InstallLineText));
    int result = InstallFiles();

    ShowOverallPercent(100);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    // Enabled first: the system then hands activation back to the main window
    // when the dialog goes, not to another program's, which would keep the
    // final message behind it.
    EnableWindow(MainWindowHandle(), TRUE);
    DestroyProgressDialog();
    ProgressDialog = nullptr;
    PumpDialogWindow = nullptr;
    PumpMessages();
    return result;
}
