#include "installer/destination.h"

#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "support/platform.h"
#include "support/text.h"

void ReadDestinationSetting(char* value) { ReadSetupText("Destination", "Dir", "c:\\install", value, PathMaxChars); }

const char* DestinationDirName(const char* value) { return FileNameOf(value); }

void ProposeDestination() {
    char value[PathBufferSize];
    ReadDestinationSetting(value);
    TextCopyMax(DestinationDir, CeServicesDir, PathMaxChars);
    TextAppendMax(DestinationDir, value, PathMaxChars);
}

void AppendBrowsedDirName(char* path, const char* dirName) {
    const char* slash = ScanCharBack(path, '\\');
    if (slash == nullptr) return;
    if (TextCompareNoCaseMax(slash + 1, dirName, TextLength(dirName)) == 0) return;
    size_t length = TextLength(path);
    if (length < PathMaxChars) AppendBackslash(path);
    TextAppendMax(path, dirName, PathMaxChars);
}

bool IsUsableDestination(const char* text) {
    bool letter = (text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z');
    if (letter && text[1] == ':' && text[2] == '\\') return true;
    if (!IsUncName(text)) return false;
    // "\\server\share": a server name and a share name behind it.
    const char* server = text + 2;
    const char* slash = ScanChar(server, '\\');
    return slash != nullptr && slash != server && slash[1] != 0 && slash[1] != '\\';
}

void TrimDestination(char* path) {
    if (TextLength(path) > 2) {
        char* last = PrevCharOf(path, TextEnd(path));
        if (*last == '\\' && *PrevCharOf(path, last) != ':') *last = 0;
    }
    if (TextLength(path) > 3) StripTrailingBackslash(path);
}

bool IsInstallerDirectory(const char* path) {
    char a[PathBufferSize + 1];
    char b[PathBufferSize];
    TextCopyMax(a, path, PathMaxChars);
    AppendBackslash(a);
    TextCopyMax(b, SourceDir, PathMaxChars);
    return TextCompare(TextToLower(a), TextToLower(b)) == 0;
}

void SetSourceDirFromProgramPath(const char* programPath) {
    TextCopyMax(SourceDir, programPath, PathMaxChars - 1);
    char* slash = ScanCharBack(SourceDir, '\\');
    if (slash) slash[1] = 0;
    AppendBackslash(SourceDir);
}
