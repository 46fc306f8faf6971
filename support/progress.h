// The progress dialog's state and arithmetic: item percents become an overall
// percent from the item sizes. Creating, painting and the dialog procedure
// are Win32 (progress_dialog_win32.cpp); the arithmetic is portable.
#pragma once

#include <cstdint>

#include "support/platform.h"

constexpr int16_t ProgressCommandId = 120;

// Set once the user asked to stop; cleared when a dialog is created.
extern bool UserCancelled;
// The dialog while a long operation runs; 0 before and after.
extern WindowHandle ProgressDialog;
// The bar controls; EntryBar only in the two-bar variant.
extern WindowHandle OverallBar;
extern WindowHandle EntryBar;
extern int32_t LastOverallPercent;
extern int32_t LastEntryPercent;
extern int32_t ProgressTotal;
extern int32_t EntrySize;
extern int32_t EntryBasePercent;

void SetProgressTotal(int32_t total);
void BeginProgressEntry(int32_t done, int32_t size);
void ShowEntryPercent(int32_t percent);
void ShowOverallPercent(int32_t percent);
void DrawPercentBar(int32_t percent, WindowHandle bar);

// Paints a bar at an already clamped percent (platform part of DrawPercentBar).
void PaintPercentBar(WindowHandle bar, int32_t percent);
