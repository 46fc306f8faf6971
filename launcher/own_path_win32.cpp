#include "launcher/own_path.h"

#include "launcher/zipstub.h"
#include "support/message_box_win32.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

// Where the path has no form in the code page and no 8.3 name (a volume
// without short names: on Windows 8 and later most data volumes, ReFS, Dev
// Drives), or is too long, only another folder helps.
const char CannotOpenText[] =
    "This package cannot be opened from this folder. Move it to a folder whose name has only letters of your "
    "system's language (for example C:\\Temp) and start it again.\r\r"
    "Dieses Paket kann aus diesem Ordner nicht ge\xF6" "ffnet werden. Verschieben Sie es in einen Ordner, dessen "
    "Name nur Buchstaben Ihrer Systemsprache enth\xE4" "lt (zum Beispiel C:\\Temp), und starten Sie es erneut.";

}  // namespace

bool TakeOwnPath(const wchar_t* path, uint32_t length, uint32_t capacity, char* out) {
    if (length > 0 && length < capacity && ExactAnsiPath(path, out, PathBufferSize)) return true;
    out[0] = 0;
    return false;
}

void ShowCannotOpenFromHere() {
    ShowBuiltInMessage(nullptr, CannotOpenText, InstallCaption, BuiltInCodePage, MB_OK | MB_ICONEXCLAMATION);
}
