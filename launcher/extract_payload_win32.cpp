// Unpacks the payload archive appended to the launcher into TempDir under the
// progress dialog, and tells the user when that fails.
#include <windows.h>

#include "launcher/extract_driver.h"
#include "launcher/zipstub.h"
#include "support/message_box_win32.h"
#include "support/progress.h"
#include "support/progress_dialog.h"

namespace {

constexpr UINT MessageStyle = MB_OK | MB_ICONEXCLAMATION;
// Offsets in the appended archive are file positions: base 0, whole file.
constexpr uint32_t WholeFileBase = 0;
constexpr int32_t WholeFileSize = 0;
constexpr int32_t UnusableArchive = -1;

const char DefectiveText[] =
    "Error, installation file defective!\r"
    "Your download was probably incomplete!\r\r"
    "Fehler, Installationsdatei defekt!\r"
    "Ihr Download war wahrscheinlich nicht komplett!";
const char CancelledText[] = "Installation aborted!\r\rInstallation abgebrochen!";
const char WriteErrorEnglish[] = "Error writing to temporary directory, disk may be full or write protected!";
const char WriteErrorGerman[] = "Fehler beim Schreiben in tempor\xE4res Verzeichnis!";
// The messages that send the user to an unzip tool share its hint.
const char UnzipHintEnglish[] = "\rTry renaming this file to install.zip and unpack it with an unzip tool!\r\r";
constexpr int UnzipHintMessageSize = 512;  // the longest takes 285
const char UnzipHintGerman[] =
    "\rBenennen Sie die Datei in install.zip um, und entpacken Sie sie mit einem ZIP-Entpacker!";

void ShowOutcome(int32_t result) {
    HWND owner = static_cast<HWND>(ProgressDialog);
    switch (result) {
        case WalkOk: break;
        case WalkCancelled: ShowBuiltInMessage(owner, CancelledText, OwnPath, CP_ACP, MessageStyle); break;
        case WalkWriteError: ShowUnzipHintMessage(owner, WriteErrorEnglish, WriteErrorGerman, TempDir, CP_ACP); break;
        default: ShowBuiltInMessage(owner, DefectiveText, OwnPath, CP_ACP, MessageStyle); break;
    }
}

}  // namespace

void ShowUnzipHintMessage(void* owner, const char* english, const char* german, const char* caption,
                          unsigned captionCodePage) {
    char text[UnzipHintMessageSize] = "";
    const char* pieces[] = {english, UnzipHintEnglish, german, UnzipHintGerman};
    for (const char* piece : pieces) TextAppendMax(text, piece, UnzipHintMessageSize - 1);
    ShowBuiltInMessage(static_cast<HWND>(owner), text, caption, captionCodePage, MessageStyle);
}

bool ExtractPayload() {
    int32_t total = SumUncompressedSizes(OwnPath, WholeFileBase, WholeFileSize);
    if (total == UnusableArchive) {
        ShowBuiltInMessage(nullptr, DefectiveText, OwnPath, CP_ACP, MessageStyle);
        return false;
    }
    ProgressDialog = CreateProgressDialog();
    SetProgressTotal(total);
    int32_t result = ExtractAllEntries(OwnPath, TempDir, WholeFileBase, WholeFileSize);
    ShowOverallPercent(100);
    // The user has turned to another program: the outcome deserves a sound.
    if (GetActiveWindow() != static_cast<HWND>(ProgressDialog)) MessageBeep(0);
    ShowOutcome(result);
    if (result != WalkOk) return false;
    // Only a process that has the foreground may pass it on, and the
    // launcher loses it with its last window: the dialog stays until the
    // installer has started and taken it (StartInstaller). The unpacking is
    // done, so there is nothing left to cancel.
    EnableWindow(GetDlgItem(static_cast<HWND>(ProgressDialog), IDCANCEL), FALSE);
    return true;
}

void CloseProgressDialog() {
    if (!ProgressDialog) return;
    DestroyProgressDialog();
    ProgressDialog = nullptr;
}
