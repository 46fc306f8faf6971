#include "support/message_box_win32.h"

namespace {

// A whole text (NUL-terminated) into out; the capacities above hold every
// text the programs show, and one that did not fit would come out empty.
const WCHAR* Widen(const char* text, UINT codePage, WCHAR* out, int capacity) {
    if (MultiByteToWideChar(codePage, 0, text, -1, out, capacity) == 0) out[0] = 0;
    return out;
}

}  // namespace

WideText::WideText(WCHAR* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = 0; }

bool WideText::Append(const char* bytes, size_t length, UINT codePage) {
    size_t room = capacity_ - 1 - length_;
    // Each byte gives at most one unit, so room bytes always fit; a cut
    // keeps a double-byte character whole.
    size_t fit = length;
    if (length > room) {
        const char* p = bytes;
        for (;;) {
            const char* next = CharNextExA(static_cast<WORD>(codePage), p, 0);
            if (next == p || static_cast<size_t>(next - bytes) > room) break;
            p = next;
        }
        fit = static_cast<size_t>(p - bytes);
    }
    if (fit > 0) {
        int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(fit), buffer_ + length_,
                                    static_cast<int>(room));
        if (n > 0) length_ += static_cast<size_t>(n);
    }
    buffer_[length_] = 0;
    return fit == length;
}

int ShowWideMessage(HWND owner, const WCHAR* text, const char* caption, UINT captionCodePage, UINT style) {
    WCHAR wideCaption[CaptionCapacity];
    return MessageBoxW(owner, text, Widen(caption, captionCodePage, wideCaption, CaptionCapacity), style);
}

int ShowBuiltInMessage(HWND owner, const char* text, const char* caption, UINT captionCodePage, UINT style) {
    WCHAR wideText[MessageCapacity];
    return ShowWideMessage(owner, Widen(text, BuiltInCodePage, wideText, MessageCapacity), caption, captionCodePage,
                           style);
}
