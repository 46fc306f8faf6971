// Message boxes shown in UTF-16, so that a system of any code page shows the
// letters meant. Their texts are joined from pieces of two code pages: the
// programs' own texts are Windows-1252 (German letters beyond ASCII), while
// paths, names and what a package's author wrote are in the system's ANSI
// code page; each piece is turned from its own.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr UINT BuiltInCodePage = 1252;

// Room for a message: the installer's longest (MessageBufferSize bytes)
// and a caption (a path or "Installation " and a title), in UTF-16 units.
// A byte of any ANSI code page gives at most one unit, so what fits a byte
// buffer fits these.
constexpr size_t MessageCapacity = 1025;
constexpr size_t CaptionCapacity = 288;

// A UTF-16 text in a fixed buffer (capacity units, NUL included, at least
// 1), always terminated; what does not fit is cut at a character boundary.
class WideText {
public:
    WideText(WCHAR* buffer, size_t capacity);
    // Appends length bytes of codePage; false when not all of them fitted.
    bool Append(const char* bytes, size_t length, UINT codePage);
    const WCHAR* Text() const { return buffer_; }

private:
    WCHAR* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

// MessageBoxW of a text put together, under a caption of captionCodePage.
int ShowWideMessage(HWND owner, const WCHAR* text, const char* caption, UINT captionCodePage, UINT style);
// The same for one of the programs' own texts (BuiltInCodePage).
int ShowBuiltInMessage(HWND owner, const char* text, const char* caption, UINT captionCodePage, UINT style);
