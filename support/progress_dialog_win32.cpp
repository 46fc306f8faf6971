// The modeless progress dialog: a label, one or two owner-painted percent
// bars inside black-frame statics, and a Cancel button. The user's wish to
// stop is only recorded here (UserCancelled); the long operation acts on it.
#include <windows.h>

#include "support/progress.h"
#include "support/progress_dialog_win32.h"

void (*ProgressCancelHook)() = nullptr;
void* ProgressFaceBrush = nullptr;

namespace {

constexpr int FirstBarId = 200;   // the only bar, or the entry bar of the two-bar dialog
constexpr int SecondBarId = 210;  // the overall bar of the two-bar dialog
constexpr WPARAM CancelCommand = IDCANCEL;  // notification 0: button, Esc, Enter, close
constexpr UINT MaxPercent = 100;
const char ProgressTemplate[] = "DLG2FILEACTIONMIN";

HWND AsWindow(WindowHandle h) { return static_cast<HWND>(h); }

// The single-bar dialog takes progress messages; the two-bar one has an
// entry bar and is fed by direct calls.
bool IsSingleBarDialog() { return EntryBar == nullptr; }

// Records the wish to stop; true only for the first time.
bool SetUserCancelled() {
    if (UserCancelled) return false;
    UserCancelled = true;
    return true;
}

INT_PTR OnInitDialog(HWND dialog) {
    UserCancelled = false;
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu) {
        // Neither maximising nor resizing makes sense for a fixed layout.
        DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
        DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    }
    return TRUE;
}

// The default painting (which erases the face, bars included) runs first,
// then the bars are drawn over it with their last values.
INT_PTR OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    EndPaint(dialog, &ps);
    if (EntryBar) DrawPercentBar(LastEntryPercent, EntryBar);
    DrawPercentBar(LastOverallPercent, OverallBar);
    return TRUE;
}

INT_PTR OnKeyDown(HWND dialog, WPARAM key) {
    bool cancels = key == VK_ESCAPE || (key == VK_RETURN && !IsIconic(GetParent(dialog)));
    if (!cancels) return FALSE;
    return SetUserCancelled() ? TRUE : FALSE;
}

INT_PTR OnProgressMessage(LPARAM lParam) {
    UINT percent = LOWORD(lParam);
    if (percent <= MaxPercent) ShowEntryPercent(static_cast<int32_t>(percent));
    if (UserCancelled && ProgressCancelHook) ProgressCancelHook();
    return TRUE;
}

INT_PTR OnCommand(WPARAM wParam, LPARAM lParam) {
    if (wParam == CancelCommand) return SetUserCancelled() ? TRUE : FALSE;
    if (wParam == static_cast<WPARAM>(ProgressCommandId) && IsSingleBarDialog()) return OnProgressMessage(lParam);
    return FALSE;
}

// Face and label in the button-face colours, when the program gave a brush.
INT_PTR OnControlColor(WPARAM hdc) {
    if (!ProgressFaceBrush) return FALSE;
    SetBkColor(reinterpret_cast<HDC>(hdc), GetSysColor(COLOR_BTNFACE));
    SetTextColor(reinterpret_cast<HDC>(hdc), GetSysColor(COLOR_BTNTEXT));
    return reinterpret_cast<INT_PTR>(ProgressFaceBrush);
}

// Centres the dialog on the reference window's size; the reference's own
// origin is not added (the desktop and the installer's full-screen owner
// both start at the screen origin).
void CentreOn(HWND dialog, HWND reference) {
    RECT outer, own;
    GetWindowRect(reference, &outer);
    GetWindowRect(dialog, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int x = ((outer.right - outer.left) - width) / 2;
    int y = ((outer.bottom - outer.top) - height) / 2;
    MoveWindow(dialog, x, y, width, height, TRUE);
}

WindowHandle OpenProgressDialog(HINSTANCE instance, HWND owner) {
    LastOverallPercent = 0;
    LastEntryPercent = 0;
    HWND dialog = CreateDialogParamA(instance, ProgressTemplate, owner, ProgressDialogProc, 0);
    if (!dialog) return nullptr;
    HWND second = GetDlgItem(dialog, SecondBarId);
    if (second) {
        EntryBar = GetDlgItem(dialog, FirstBarId);
        OverallBar = second;
    } else {
        EntryBar = nullptr;
        OverallBar = GetDlgItem(dialog, FirstBarId);
    }
    CentreOn(dialog, owner ? owner : GetDesktopWindow());
    ShowWindow(dialog, SW_SHOW);
    ProgressTotal = 0;
    EntryBasePercent = 0;
    EntrySize = 0;
    return dialog;
}

// width * percent / 100 rounded to the nearest pixel, ties to even.
int FilledWidth(int width, int32_t percent) {
    int product = width * percent;
    int whole = product / 100;
    int rest = product % 100;
    if (rest > 50 || (rest == 50 && (whole & 1) != 0)) ++whole;
    return whole;
}

// Decimal digits followed by " %"; out holds at least 8 bytes.
void FormatPercent(int32_t percent, char* out) {
    char digits[4];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + percent % 10);
        percent /= 10;
    } while (percent > 0 && n < 3);
    int k = 0;
    while (n > 0) out[k++] = digits[--n];
    out[k++] = ' ';
    out[k++] = '%';
    out[k] = 0;
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: return OnInitDialog(dialog);
        case WM_PAINT: return OnPaint(dialog);
        case WM_KEYDOWN: return OnKeyDown(dialog, wParam);
        case WM_COMMAND: return OnCommand(wParam, lParam);
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC: return OnControlColor(wParam);
        default: return FALSE;
    }
}

WindowHandle CreateProgressDialog() { return OpenProgressDialog(GetModuleHandleA(nullptr), nullptr); }

WindowHandle CreateProgressDialog(void* instance, WindowHandle owner) {
    return OpenProgressDialog(static_cast<HINSTANCE>(instance), AsWindow(owner));
}

void DestroyProgressDialog() {
    if (PumpDialogWindow == ProgressDialog) PumpDialogWindow = nullptr;
    DestroyWindow(AsWindow(ProgressDialog));
    // The bars die with the dialog; nothing may paint on their handles later.
    OverallBar = nullptr;
    EntryBar = nullptr;
}

// The bar's inside (its black frame stays) in two colours, with the percent
// centred: window text over the empty part, highlight text over the filled one.
void PaintPercentBar(WindowHandle bar, int32_t percent) {
    HWND window = AsWindow(bar);
    HDC hdc = GetDC(window);
    if (!hdc) return;
    RECT r;
    GetClientRect(window, &r);
    InflateRect(&r, -1, -1);
    int filled = FilledWidth(r.right - r.left, percent);
    RECT rest = {r.left + filled, r.top, r.right, r.bottom};
    RECT done = {r.left, r.top, r.left + filled, r.bottom};
    FillRect(hdc, &rest, GetSysColorBrush(COLOR_WINDOW));
    FillRect(hdc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));

    char text[8];
    FormatPercent(percent, text);
    SetBkMode(hdc, TRANSPARENT);
    r.bottom -= 1;
    const UINT format = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextA(hdc, text, -1, &r, format);
    IntersectClipRect(hdc, r.left, r.top, r.left + filled, r.bottom);
    SetTextColor(hdc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    DrawTextA(hdc, text, -1, &r, format);
    ReleaseDC(window, hdc);
}
