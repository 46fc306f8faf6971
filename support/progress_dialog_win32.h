// The progress dialog's procedure, for Windows code that drives it directly.
#pragma once

#include <windows.h>

#include "support/progress_dialog.h"

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
