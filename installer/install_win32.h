// What the installer's Win32 files share: the program's module, the private
// message, the close request and the steps of the two stages.
#pragma once

#include <windows.h>

#include "installer/install_state.h"
#include "installer/texts.h"

constexpr UINT WM_STARTINSTALL = WM_USER + 1;

extern HINSTANCE ProgramInstance;

inline HWND MainWindowHandle() { return static_cast<HWND>(MainWindow); }

// Posts WM_SYSCOMMAND SC_CLOSE to the main window; the default window
// procedure closes it.
void PostCloseRequest();

// The setup information file and the language (setup_win32.cpp).
void LocateSetupFile();
void ReadSetupTexts();
bool SetupFileExists();
void ShowSetupFileMissing();
bool ChooseLanguage();

// Set where no device manager is found and the user chose to save the
// device's files to a folder (on the desktop) instead.
extern bool SavingForDevice;

// The device manager and the destination (destination_win32.cpp). False:
// no device manager, and the user did not choose the folder instead.
bool CheckDeviceManager();
INT_PTR AskDestination();
bool PrepareDestination();

// The copy under the progress dialog (copy_win32.cpp).
int InstallWithBackup();

// The hand-over and the final message (app_manager_win32.cpp).
int StartAppManager();
void ShowFinalMessage(int result);
// Instead of the hand-over: the folder and its cabinets named, then opened.
void ShowSavedToFolder();

// The backdrop (backdrop_win32.cpp). Title and copyright are the author's
// text, drawn as such: "Field & Forest" keeps its "&".
constexpr UINT BackdropTitleFormat = DT_WORDBREAK | DT_NOPREFIX;
constexpr UINT BackdropCopyrightFormat = DT_SINGLELINE | DT_BOTTOM | DT_NOPREFIX;
void EraseBackdrop(HWND window, HDC hdc);
void PaintBackground(HDC hdc);

// The message box of text id with argument in place of its "%s" (nullptr:
// none), captioned MainCaption (messages_win32.cpp).
// lines (of the system's ANSI code page) are added after the text.
int ShowInstallerMessage(HWND owner, int id, const char* argument, UINT style, const char* lines = nullptr);

// Gives a dialog's OK and Cancel buttons the loaded texts.
void SetButtonTexts(HWND dialog);
// Centres a dialog over its owner, both rectangles in screen coordinates.
void CentreOverOwner(HWND dialog);
// A bounded AppendBackslash for a PathBufferSize buffer: false when it does not fit.
bool AppendBackslashInPath(char* path);
