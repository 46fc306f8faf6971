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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether lines has a line that is name (length bytes), in any case.
bool HasLine(const char* lines, const char* name, size_t length) {
    for (const char* p = ScanChar(lines, '\n'); p != nullptr; p = ScanChar(p + 1, '\n')) {
        const char* end = p + 1;
        while (*end != 0 && *end != '\r') ++end;
        if (static_cast<size_t>(end - (p + 1)) == length && TextCompareNoCaseMax(p + 1, name, length) == 0) return true;
    }
    return false;
}

}  // namespace

void AppendCabinetLines(char* lines, size_t capacity, const char* cabFiles) {
    if (capacity == 0) return;
    const char* p = cabFiles;
    while (*p != 0) {
        while (IsBlank(*p) || *p == ',') ++p;
        const char* start = p;
        const char* comma = ScanChar(p, ',');
        p = comma != nullptr ? comma : TextEnd(p);
        const char* end = p;
        while (end > start && IsBlank(end[-1])) --end;
        size_t length = static_cast<size_t>(end - start);
        size_t used = TextLength(lines);
        if (length == 0 || HasLine(lines, start, length) || used + 2 + length > capacity - 1) continue;
        TextCopy(lines + used, "\r\n");
        TextCopyMax(lines + used + 2, start, length);
    }
}

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
