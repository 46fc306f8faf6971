#include "installer/setup_file.h"

#include "installer/install_state.h"

ProfileReader SetupFile = {};

uint32_t ReadSetupText(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size) {
    if (SetupFile.ReadString == nullptr) {
        if (size == 0) return 0;
        TextCopyMax(buffer, defaultValue, size - 1);
        return static_cast<uint32_t>(TextLength(buffer));
    }
    return SetupFile.ReadString(SetupFile.Context, section, key, defaultValue, buffer, size);
}

int32_t ReadSetupInt(const char* section, const char* key, int32_t defaultValue) {
    if (SetupFile.ReadInt == nullptr) return defaultValue;
    return SetupFile.ReadInt(SetupFile.Context, section, key, defaultValue);
}

void ReadInstallEntry(const char* section, const char* key, const char* defaultValue, char* buffer,
                      uint32_t size) {
    ReadSetupText(section, key, MissingEntryMarker, buffer, size);
    if (TextCompare(buffer, MissingEntryMarker) != 0) return;
    if (LanguageNumber == 1) {
        TextCopyMax(buffer, defaultValue, size);
        return;
    }
    char base[SectionBufferSize];
    TextCopyMax(base, section, SectionBufferSize - 1);
    size_t length = TextLength(base);
    if (length > 0) base[length - 1] = 0;
    ReadSetupText(base, key, defaultValue, buffer, size);
}

void ListKey(int number, char* key) {
    char digits[12];
    int n = 0;
    unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    int i = 0;
    while (n > 0) key[i++] = digits[--n];
    key[i] = 0;
}

bool ReadFileListEntry(const char* section, int number, char* buffer) {
    char key[12];
    ListKey(number, key);
    ReadInstallEntry(section, key, "", buffer, PathMaxChars);
    return buffer[0] != 0;
}

bool ReadPlainListEntry(const char* section, int number, char* buffer) {
    char key[12];
    ListKey(number, key);
    ReadSetupText(section, key, "", buffer, PathMaxChars);
    return buffer[0] != 0;
}

void EntryName(const char* entry, char* name, size_t capacity) {
    if (capacity == 0) return;
    const char* comma = ScanChar(entry, ',');
    size_t length = comma ? static_cast<size_t>(comma - entry) : TextLength(entry);
    if (length > capacity - 1) length = capacity - 1;
    for (size_t i = 0; i < length; ++i) name[i] = entry[i];
    name[length] = 0;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

}  // namespace

// Authors write "English, e" as readily as "English,e": a blank is never
// the letter.
char LanguageLetter(const char* entry) {
    const char* comma = ScanChar(entry, ',');
    return comma ? *SkipBlanks(comma + 1) : 0;
}

void MakeInstallSection(char letter, char* section) {
    TextCopy(section, "install");
    if (letter != 0) {
        char tail[2] = {letter, 0};
        TextAppend(section, tail);
    }
}

char SelectLanguageSection() {
    constexpr uint32_t LanguageEntrySize = 512;
    char key[12];
    char entry[LanguageEntrySize];
    ListKey(LanguageNumber, key);
    ReadSetupText("languages", key, "", entry, LanguageEntrySize);
    char letter = LanguageLetter(entry);
    MakeInstallSection(letter, InstallSection);
    return letter;
}

void EntryFlags(const char* entry, char* flags, size_t capacity) {
    if (capacity < 2) return;
    const char* comma = ScanChar(entry, ',');
    if (comma == nullptr) {
        TextCopy(flags, " ");
    } else {
        // Blanks around the flag are the author's layout, never the flag.
        const char* start = SkipBlanks(comma + 1);
        const char* end = ScanChar(start, ',');
        if (end == nullptr) end = TextEnd(start);
        while (end > start && IsBlank(end[-1])) --end;
        size_t length = static_cast<size_t>(end - start);
        if (length > capacity - 1) length = capacity - 1;
        for (size_t i = 0; i < length; ++i) flags[i] = start[i];
        flags[length] = 0;
    }
    if (flags[0] >= 'a' && flags[0] <= 'z') flags[0] = static_cast<char>(flags[0] - ('a' - 'A'));
}
