// The installer's message boxes, shown in UTF-16: the built-in texts turned
// from code page 1252, the setup file's texts, the values put into them and
// the caption (the author's title) from the system's ANSI code page, as
// MessageBoxA would.
#include "installer/install_win32.h"
#include "support/message_box_win32.h"
#include "support/text.h"

namespace {

bool PutWide(void* context, const char* bytes, size_t length, TextOrigin origin) {
    UINT codePage = origin == BuiltInOrigin ? BuiltInCodePage : CP_ACP;
    return static_cast<WideText*>(context)->Append(bytes, length, codePage);
}

}  // namespace

int ShowInstallerMessage(HWND owner, int id, const char* argument, UINT style, const char* lines) {
    WCHAR buffer[MessageCapacity];
    WideText text(buffer, MessageCapacity);
    ForEachTextPiece(id, argument, PutWide, &text);
    if (lines != nullptr) text.Append(lines, TextLength(lines), CP_ACP);
    return ShowWideMessage(owner, text.Text(), MainCaption, CP_ACP, style);
}
