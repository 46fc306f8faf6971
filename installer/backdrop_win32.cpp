// The full-screen backdrop: a dark blue fill, the product title in large
// letters at the top left and the copyright line at the bottom left, each
// over a black shadow.
#include "installer/backdrop_layout.h"
#include "installer/install_win32.h"

namespace {

const COLORREF BackdropColour = RGB(0, 0, 128);
const COLORREF TextColour = RGB(255, 255, 255);
const COLORREF ShadowColour = RGB(0, 0, 0);

constexpr int TitleShadowOffset = 5;
constexpr int CopyrightShadowOffset = 3;
constexpr int TitleMargin = BackdropTitleMargin;

// The title is in the ANSI code page, so the font takes the system's
// character set: ANSI_CHARSET would draw a Cyrillic or Greek title in
// Latin-1 glyphs.
HFONT CreateBackdropFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, VARIABLE_PITCH | FF_SWISS, "Arial");
}

class FontGuard {
public:
    explicit FontGuard(HFONT font) : font_(font) {}
    ~FontGuard() {
        if (font_) DeleteObject(font_);
    }
    FontGuard(const FontGuard&) = delete;
    FontGuard& operator=(const FontGuard&) = delete;
    HFONT Get() const { return font_; }

private:
    HFONT font_;
};

}  // namespace

void EraseBackdrop(HWND window, HDC hdc) {
    RECT client;
    GetClientRect(window, &client);
    HBRUSH brush = CreateSolidBrush(BackdropColour);
    FillRect(hdc, &client, brush);
    DeleteObject(brush);
}

void PaintBackground(HDC hdc) {
    FontGuard titleFont(CreateBackdropFont(BackdropFontHeightsFor(GetSystemMetrics(SM_CXSCREEN)).Title));
    FontGuard copyrightFont(CreateBackdropFont(BackdropFontHeightsFor(GetSystemMetrics(SM_CXSCREEN)).Copyright));
    SetBkMode(hdc, TRANSPARENT);
    RECT r;
    GetClientRect(MainWindowHandle(), &r);

    // Title: the shadow 5 to the right and below the text, both wrapped in
    // the client rectangle shrunk by 10 on every side.
    RECT title = {r.left + TitleMargin + TitleShadowOffset, r.top + TitleMargin + TitleShadowOffset,
                  r.right - TitleMargin + TitleShadowOffset, r.bottom - TitleMargin + TitleShadowOffset};
    HGDIOBJ previous = SelectObject(hdc, titleFont.Get());
    SetTextColor(hdc, ShadowColour);
    DrawTextA(hdc, ProgramTitle, -1, &title, BackdropTitleFormat);
    OffsetRect(&title, -TitleShadowOffset, -TitleShadowOffset);
    SetTextColor(hdc, TextColour);
    DrawTextA(hdc, ProgramTitle, -1, &title, BackdropTitleFormat);

    // Copyright: on the bottom edge, the shadow 3 to the right and below.
    SelectObject(hdc, copyrightFont.Get());
    RECT copyright = {title.left + CopyrightShadowOffset, title.top, title.right, title.bottom};
    SetTextColor(hdc, ShadowColour);
    DrawTextA(hdc, CopyrightText, -1, &copyright, BackdropCopyrightFormat);
    copyright.left -= CopyrightShadowOffset;
    copyright.bottom -= CopyrightShadowOffset;
    SetTextColor(hdc, TextColour);
    DrawTextA(hdc, CopyrightText, -1, &copyright, BackdropCopyrightFormat);

    SelectObject(hdc, previous);
}
