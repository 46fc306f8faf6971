// The setup information file beside the program, read through the system's
// profile functions, and the language dialog LANGUAGEDIALOG.
#include "installer/install_win32.h"
#include "installer/setup_file.h"
#include "support/file_layer.h"
#include "support/message_box_win32.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

constexpr int LanguageListId = 100;
constexpr int LanguagePromptId = 110;
constexpr int32_t MaxLanguageCount = 0xFFFF;  // LanguageNumber is 16-bit
constexpr int LanguageEntrySize = 259;
constexpr int NoSelectionExitCode = 1;
constexpr FileOpenMode ReadOnlyMode = 0x00;

uint32_t ProfileString(const void*, const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size) {
    return GetPrivateProfileStringA(section, key, defaultValue, buffer, size, InfPath);
}

int32_t ProfileInt(const void*, const char* section, const char* key, int32_t defaultValue) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, InfPath));
}

int32_t LanguageCount() {
    int32_t count = ReadSetupInt("languages", "Count", 1);
    return count > MaxLanguageCount ? MaxLanguageCount : count;
}

// Each line carries its key, so a skipped empty entry does not shift the
// keys of the lines behind it.
void FillLanguageList(HWND list, int32_t count) {
    int32_t defaultKey = ReadSetupInt("languages", "Default", 1);
    for (int32_t number = 1; number <= count; ++number) {
        char key[12];
        char entry[PathBufferSize];
        char name[PathBufferSize];
        ListKey(number, key);
        ReadSetupText("languages", key, "", entry, LanguageEntrySize);
        if (entry[0] == 0) continue;
        EntryName(entry, name, sizeof name);
        LRESULT line = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        if (line < 0) continue;
        SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(line), number);
        if (number == defaultKey) SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    }
}

INT_PTR OnLanguageOk(HWND dialog) {
    HWND list = GetDlgItem(dialog, LanguageListId);
    LRESULT line = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR) {
        MessageBeep(0);
        ExitProcess(NoSelectionExitCode);
    }
    LanguageNumber = static_cast<uint16_t>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(line), 0));
    EndDialog(dialog, IDOK);
    return TRUE;
}

INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextA(dialog, MainCaption);
            SetDlgItemTextA(dialog, LanguagePromptId, InstallerText(LanguagePromptText));
            SetButtonTexts(dialog);
            FillLanguageList(GetDlgItem(dialog, LanguageListId), static_cast<int32_t>(lParam));
            CentreOverOwner(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) return OnLanguageOk(dialog);
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void LocateSetupFile() {
    // A cut program path would name some other file: then none is read.
    DWORD length = GetModuleFileNameA(nullptr, InfPath, PathBufferSize);
    if (length >= PathBufferSize) length = 0;
    InfPath[length] = 0;
    char* dot = ScanCharBack(InfPath, '.');
    if (dot != nullptr) TextCopyMax(dot + 1, "inf", static_cast<size_t>(InfPath + PathMaxChars - (dot + 1)));
    SetupFile = ProfileReader{ProfileString, ProfileInt, nullptr};
}

void ReadSetupTexts() {
    ReadSetupText("Installation", "Program", "", ProgramTitle, PathMaxChars);
    ReadSetupText("Installation", "Copyright", "", CopyrightText, PathMaxChars);
}

bool SetupFileExists() {
    FileHandle file = OpenExistingFile(InfPath, ReadOnlyMode);
    if (file == InvalidFileHandle) return false;
    CloseFileHandle(file);
    return true;
}

void ShowSetupFileMissing() {
    ShowBuiltInMessage(MainWindowHandle(),
                       "The setup information file was not found!\r"
                       "You need to unpack the whole archive before running install.exe!\r"
                       "Installation aborted!\r\r"
                       "Die Setup-Informationsdatei wurde nicht gefunden!\r"
                       "Sie m\xFCssen das ganze Archiv entpacken, bevor Sie install.exe starten!\r"
                       "Installation abgebrochen!",
                       MainCaption, CP_ACP, MB_ICONWARNING);
}

bool ChooseLanguage() {
    int32_t count = LanguageCount();
    if (count >= 2) {
        INT_PTR result = DialogBoxParamA(ProgramInstance, "LANGUAGEDIALOG", MainWindowHandle(), LanguageDialogProc,
                                         static_cast<LPARAM>(count));
        if (result != IDOK) return false;
    } else {
        LanguageNumber = static_cast<uint16_t>(ReadSetupInt("languages", "Default", 1));
    }
    LoadTexts(SelectLanguageSection());
    return true;
}
