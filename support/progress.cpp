#include "support/progress.h"

bool UserCancelled = false;
WindowHandle ProgressDialog = nullptr;
WindowHandle OverallBar = nullptr;
WindowHandle EntryBar = nullptr;
int32_t LastOverallPercent = 0;
int32_t LastEntryPercent = 0;
int32_t ProgressTotal = 0;
int32_t EntrySize = 0;
int32_t EntryBasePercent = 0;

void SetProgressTotal(int32_t total) { ProgressTotal = total; }

void BeginProgressEntry(int32_t done, int32_t size) {
    if (ProgressTotal <= 0) {
        EntryBasePercent = 0;
        EntrySize = 0;
        return;
    }
    EntryBasePercent = static_cast<int32_t>(done * 100.0 / ProgressTotal);
    EntrySize = size;
    // The last item makes up for the truncations, so the bar ends at 100.
    if (static_cast<int64_t>(done) + size == ProgressTotal && EntryBasePercent < 100) ++EntryBasePercent;
}

void ShowOverallPercent(int32_t percent) {
    if (percent != LastOverallPercent || percent == 0 || percent == 100) DrawPercentBar(percent, OverallBar);
    LastOverallPercent = percent;
}

void ShowEntryPercent(int32_t percent) {
    if (EntryBar && (percent != LastEntryPercent || percent == 0 || percent == 100)) {
        DrawPercentBar(percent, EntryBar);
    }
    if (OverallBar && EntrySize != 0 && ProgressTotal != 0) {
        int32_t share;
        if (EntrySize <= 10000000) {
            share = percent * EntrySize / ProgressTotal;
        } else {
            share = static_cast<int32_t>(percent * 1.0 * EntrySize / ProgressTotal);
        }
        ShowOverallPercent(EntryBasePercent + share);
    }
}

void DrawPercentBar(int32_t percent, WindowHandle bar) {
    if (bar == nullptr) return;
    if (bar == EntryBar) {
        LastEntryPercent = percent;
    } else {
        LastOverallPercent = percent;
    }
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    PaintPercentBar(bar, percent);
}
