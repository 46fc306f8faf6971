// The progress dialog window (Win32): one implementation for both programs.
// The launcher's single-bar dialog takes its progress from WM_COMMAND
// messages of the extraction engine; the installer's two-bar dialog is fed by
// direct calls (progress.h). Declared with portable types so that the core
// can name it; defined in progress_dialog_win32.cpp.
#pragma once

#include "support/platform.h"

// Called by the single-bar dialog when a progress message arrives after the
// user cancelled. The launcher points it at the engine's RequestCancel; the
// installer, which reads UserCancelled itself, leaves it null.
extern void (*ProgressCancelHook)();
// A solid brush (HBRUSH) the dialog paints its face and label with; null
// leaves the system's default dialog colours.
extern void* ProgressFaceBrush;

// Single-bar variant: template DLG2FILEACTIONMIN of the program's own module,
// no owner, centred on the desktop.
WindowHandle CreateProgressDialog();
// Two-bar variant: the template of the given module (an HINSTANCE), centred on
// and owned by owner.
WindowHandle CreateProgressDialog(void* instance, WindowHandle owner);
// Destroys ProgressDialog; the caller then sets its variable to 0.
void DestroyProgressDialog();
