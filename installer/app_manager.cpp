#include "installer/app_manager.h"

#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "support/platform.h"
#include "support/text.h"

bool IsIniName(const char* name) {
    const char* dot = ScanCharBack(name, '.');
    return dot != nullptr && TextCompareNoCase(dot, ".ini") == 0;
}

namespace {

// Appends text to line; false when it does not fit.
bool Append(char* line, size_t capacity, const char* text) {
    size_t length = TextLength(line);
    size_t add = TextLength(text);
    if (length + add > capacity - 1) return false;
    TextCopy(line + length, text);
    return true;
}

bool EndsInBackslash(const char* text) {
    if (*text == 0) return false;
    return *PrevCharOf(text, TextEnd(text)) == '\\';
}

bool AppendQuotedIni(char* line, size_t capacity, const char* name) {
    if (!Append(line, capacity, " \"") || !Append(line, capacity, DestinationDir)) return false;
    if (!EndsInBackslash(line) && !Append(line, capacity, "\\")) return false;
    return Append(line, capacity, name) && Append(line, capacity, "\"");
}

}  // namespace

int BuildAppManagerCommandLine(char* line, size_t capacity) {
    if (capacity == 0) return AppManagerLineTooLong;
    line[0] = 0;
    bool fits = Append(line, capacity, "\"") && Append(line, capacity, CeServicesDir) &&
                Append(line, capacity, AppManagerName) && Append(line, capacity, "\"");
    bool foundIni = false;
    char entry[PathBufferSize];
    for (int number = 1; ReadFileListEntry(InstallSection, number, entry); ++number) {
        char name[PathBufferSize];
        EntryName(entry, name, sizeof name);
        if (!IsIniName(name)) continue;
        foundIni = true;
        fits = fits && AppendQuotedIni(line, capacity, name);
    }
    if (!foundIni) return AppManagerNoIniFile;
    return fits ? 0 : AppManagerLineTooLong;
}
