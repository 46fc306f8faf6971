#include "installer/setup_lint.h"

#include "installer/app_manager.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

// Values of the application manager's .ini files (component and cabinet
// lists) are read up to this many characters.
constexpr uint32_t ValueMaxChars = 1024;
// Bounds that keep a hostile file from costing much more than the list
// checks themselves: a list is re-read for every name looked up in it. Past
// them names go unchecked, never reported.
constexpr int MaxNamesPerValue = 8;
constexpr int MaxIniChecks = 32;
constexpr int MaxListLookupReads = 4096;

struct Lint {
    const LintSink* Sink;
    int Findings;
    const char* File;      // the file under check
    const IniText* Ini;    // its text
    const IniText* Setup;  // the setup information file
    int IniChecksLeft;
    int ListReadsLeft;
};

void Emit(Lint* lint, LintSeverity severity, uint32_t line, const char* section, const char* key,
          const char* format, const char* a, const char* b) {
    char message[1025];
    uintptr_t arguments[2] = {reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b)};
    FormatText(message, format, arguments);
    LintFinding finding{severity, lint->File, line, section, key, message};
    lint->Sink->Report(lint->Sink->Context, &finding);
    ++lint->Findings;
}

// The line the installer takes the value from: a file list's key missing
// from a language's section comes from the base section.
uint32_t FindingLine(const Lint* lint, const char* section, const char* key) {
    uint32_t line = *key != 0 ? IniLineOf(lint->Ini, section, key) : 0;
    if (line == 0 && *key != 0 && lint->Ini == lint->Setup && LanguageNumber != 1 &&
        TextCompareNoCase(section, InstallSection) == 0) {
        char base[SectionBufferSize];
        TextCopyMax(base, section, SectionBufferSize - 1);
        size_t length = TextLength(base);
        if (length > 0) base[length - 1] = 0;
        line = IniLineOf(lint->Ini, base, key);
    }
    return line != 0 ? line : IniLineOf(lint->Ini, section, nullptr);
}

void Report(Lint* lint, LintSeverity severity, const char* section, const char* key, const char* format,
            const char* a = nullptr, const char* b = nullptr) {
    Emit(lint, severity, FindingLine(lint, section, key), section, key, format, a, b);
}

// False for a file the host reader cannot take at all.
bool CheckEncoding(Lint* lint) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(lint->Ini->Text);
    size_t length = lint->Ini->Length;
    bool utf16 = length >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF));
    for (size_t i = 0; i < length && !utf16; ++i) utf16 = text[i] == 0;
    if (utf16) {
        Emit(lint, LintError, 1, "", "", "is UTF-16 text, which only some readers take: save it as ANSI", nullptr,
             nullptr);
        return false;
    }
    if (length < 3 || text[0] != 0xEF || text[1] != 0xBB || text[2] != 0xBF) return true;
    // The profile functions read the mark as text of the first line: a
    // section header there is lost, a comment is not.
    size_t i = 3;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < length && text[i] == '[') {
        Emit(lint, LintError, 1, "", "",
             "starts with a UTF-8 byte-order mark, which hides its first section from the profile functions: "
             "save it as ANSI",
             nullptr, nullptr);
    } else {
        Emit(lint, LintWarning, 1, "", "",
             "starts with a UTF-8 byte-order mark, harmless only while the first line is no section header: "
             "save it as ANSI",
             nullptr, nullptr);
    }
    return true;
}

// A name inside the package and the destination: not absolute, no drive,
// no "." or ".." component.
bool IsInsideName(const char* name) {
    if (name[0] == '\\' || name[0] == '/' || ScanChar(name, ':') != nullptr) return false;
    const char* part = name;
    for (;;) {
        const char* end = part;
        while (*end != 0 && *end != '\\' && *end != '/') end = NextCharOf(end);
        size_t length = static_cast<size_t>(end - part);
        if (length == 0) return false;
        if (part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'))) return false;
        if (*end == 0) return true;
        part = end + 1;
    }
}

bool HasSubdirectory(const char* name) { return ScanChar(name, '\\') != nullptr || ScanChar(name, '/') != nullptr; }

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

bool IsPlainAscii(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) return false;
    }
    return true;
}

// Item index of a comma-separated value into item (PathBufferSize bytes,
// cut to fit), untrimmed; false past the last item.
bool ListItem(const char* value, int index, char* item) {
    const char* start = value;
    for (int i = 0; i < index; ++i) {
        start = ScanChar(start, ',');
        if (start == nullptr) return false;
        ++start;
    }
    EntryName(start, item, PathBufferSize);
    return true;
}

void CheckInstallation(Lint* lint) {
    char value[PathBufferSize];
    ReadSetupText("Installation", "Program", "", value, PathMaxChars);
    if (value[0] == 0) {
        Report(lint, LintWarning, "Installation", "Program", "is not set: the backdrop and captions have no title");
    }
}

void CheckDestination(Lint* lint) {
    char value[PathBufferSize];
    ReadSetupText("Destination", "Dir", "", value, PathMaxChars);
    if (value[0] == 0) {
        Report(lint, LintError, "Destination", "Dir",
               "is not set: the installer would append c:\\install to its directory");
    } else if (!IsInsideName(value)) {
        Report(lint, LintError, "Destination", "Dir", "\"%s\" is not a plain directory name", value);
    } else if (HasSubdirectory(value)) {
        Report(lint, LintWarning, "Destination", "Dir",
               "\"%s\" has a subdirectory: only the last level is created, so it installs only where its parent "
               "exists",
               value);
    }
}

// Whether the current language's list (entries 1 to count) names the file;
// true once the lookup budget is spent.
bool InList(Lint* lint, const char* name, int count) {
    char entry[PathBufferSize];
    char listed[PathBufferSize];
    for (int number = 1; number <= count; ++number) {
        if (lint->ListReadsLeft-- <= 0) return true;
        if (!ReadFileListEntry(InstallSection, number, entry)) return false;
        EntryName(entry, listed, sizeof listed);
        if (TextCompareNoCase(listed, name) == 0) return true;
    }
    return false;
}

// A file that the application manager takes from beside the .ini: in the
// package and copied by the same language's list.
// Reports it where it is missing; packaged (PathBufferSize bytes) gets its
// name in the package. True where the folder holds it.
bool CheckBesideIni(Lint* lint, LintSeverity severity, const char* section, const char* key, const char* iniName,
                    const char* name, int listCount, const char* languageKey, char* packaged) {
    TextCopyMax(packaged, iniName, PathMaxChars);
    char* slash = ScanCharBack(packaged, '\\');
    if (slash == nullptr) slash = ScanCharBack(packaged, '/');
    if (slash == nullptr) packaged[0] = 0;
    else slash[1] = 0;
    TextAppendMax(packaged, name, PathMaxChars);
    // A listed file is looked for in the folder by the list's own check.
    bool inside = IsInsideName(packaged);
    if (inside && InList(lint, packaged, listCount)) return lint->Sink->FileExists(lint->Sink->Context, packaged);
    if (!inside || !lint->Sink->FileExists(lint->Sink->Context, packaged)) {
        Report(lint, severity, section, key, "\"%s\" is not in the package folder", packaged);
        return false;
    }
    Report(lint, severity, section, key,
           "\"%s\" is not in the file list of language %s: the installer does not copy it beside the .ini",
           packaged, languageKey);
    return true;
}

void CheckCabFiles(Lint* lint, const char* component, const char* iniName, int listCount, const char* languageKey) {
    char value[ValueMaxChars + 1];
    IniReadString(lint->Ini, component, "CabFiles", "", value, sizeof value);
    if (value[0] == 0) {
        Report(lint, LintError, component, "CabFiles", "is not set: name the application's .cab files");
        return;
    }
    char name[PathBufferSize];
    for (int index = 0; index < MaxNamesPerValue && ListItem(value, index, name); ++index) {
        size_t length = TextLength(name);
        if (length == 0) {
            Report(lint, LintError, component, "CabFiles", "has an empty name between its commas");
        } else if (IsBlankChar(name[0]) || IsBlankChar(name[length - 1])) {
            Report(lint, LintError, component, "CabFiles",
                   "\"%s\": the application manager keeps the spaces around a name and finds no such cabinet; "
                   "separate the names with commas only",
                   name);
        } else {
            char packaged[PathBufferSize];
            if (CheckBesideIni(lint, LintError, component, "CabFiles", iniName, name, listCount, languageKey,
                               packaged) &&
                lint->Sink->CheckCabinet != nullptr) {
                lint->Findings += lint->Sink->CheckCabinet(lint->Sink->Context, packaged);
            }
        }
    }
}

void CheckComponent(Lint* lint, const char* component, const char* iniName, int listCount, const char* languageKey) {
    CheckCabFiles(lint, component, iniName, listCount, languageKey);
    char value[PathBufferSize];
    IniReadString(lint->Ini, component, "Uninstall", "", value, sizeof value);
    if (value[0] == 0) {
        Report(lint, LintWarning, component, "Uninstall",
               "is not set: the application manager cannot remove the application; give its uninstall name");
    }
    // Without an icon file the manager shows its own icon. DeviceFile names a
    // file on the device, not in the package.
    IniReadString(lint->Ini, component, "IconFile", "", value, sizeof value);
    char packaged[PathBufferSize];
    if (value[0] != 0) {
        CheckBesideIni(lint, LintWarning, component, "IconFile", iniName, value, listCount, languageKey, packaged);
    }
}

// The .ini as the application manager reads it.
void CheckAppManagerIni(Lint* lint, const char* iniName, int listCount, const char* languageKey) {
    IniText text{nullptr, 0};
    if (lint->Sink->ReadFile == nullptr || !lint->Sink->ReadFile(lint->Sink->Context, iniName, &text)) return;
    const char* savedFile = lint->File;
    const IniText* savedIni = lint->Ini;
    lint->File = iniName;
    lint->Ini = &text;
    char value[ValueMaxChars + 1];
    if (!CheckEncoding(lint)) {
        // unreadable here: nothing more to check
    } else if (!IniHasSection(&text, "CEAppManager")) {
        Report(lint, LintError, "CEAppManager", "", "is missing: the application manager does not take this file");
    } else {
        if (IniReadString(&text, "CEAppManager", "Version", "", value, sizeof value) == 0) {
            Report(lint, LintError, "CEAppManager", "Version", "is not set: write Version = 1.0");
        }
        IniReadString(&text, "CEAppManager", "Component", "", value, sizeof value);
        if (value[0] == 0) {
            Report(lint, LintError, "CEAppManager", "Component", "is not set: name the application's section");
        }
        char component[PathBufferSize];
        for (int index = 0; value[0] != 0 && index < MaxNamesPerValue && ListItem(value, index, component);
             ++index) {
            if (!IniHasSection(&text, component)) {
                Report(lint, LintError, "CEAppManager", "Component",
                       "\"%s\" has no section of that name: add [%s] or correct the name", component, component);
            } else {
                CheckComponent(lint, component, iniName, listCount, languageKey);
            }
        }
    }
    lint->File = savedFile;
    lint->Ini = savedIni;
}

// Checks one language's file list as the installer reads it for LanguageNumber.
void CheckFileList(Lint* lint, const char* languageKey) {
    char entry[PathBufferSize];
    bool ini = false;
    int number = 1;
    for (; ReadFileListEntry(InstallSection, number, entry); ++number) {
        char key[12];
        char name[PathBufferSize];
        ListKey(number, key);
        EntryName(entry, name, sizeof name);
        if (!IsInsideName(name)) {
            Report(lint, LintError, InstallSection, key, "\"%s\" is not a file name inside the package", name);
            continue;
        }
        if (HasSubdirectory(name)) {
            Report(lint, LintWarning, InstallSection, key,
                   "\"%s\" is in a subdirectory: it installs, but the launcher leaves the subdirectory behind in "
                   "TEMP",
                   name);
        }
        // The installer reads these bytes in the system's ANSI code page, and
        // the launcher unpacks such a name only where that code page holds it.
        if (!IsPlainAscii(name)) {
            Report(lint, LintWarning, InstallSection, key,
                   "\"%s\" is not plain ASCII: it installs only where the system's ANSI code page holds it", name);
        }
        if (!lint->Sink->FileExists(lint->Sink->Context, name)) {
            Report(lint, LintError, InstallSection, key, "\"%s\" is not in the package folder", name);
        }
        ini = ini || IsIniName(name);
    }
    int count = number - 1;
    if (count == 0) {
        Report(lint, LintError, InstallSection, "1", "language %s has no files to install", languageKey);
    } else if (!ini) {
        Report(lint, LintError, InstallSection, "", "language %s lists no .ini file for the application manager",
               languageKey);
    }
    for (number = 1; number <= count && lint->IniChecksLeft > 0; ++number) {
        char name[PathBufferSize];
        ReadFileListEntry(InstallSection, number, entry);
        EntryName(entry, name, sizeof name);
        if (!IsIniName(name) || !IsInsideName(name) || !lint->Sink->FileExists(lint->Sink->Context, name)) continue;
        --lint->IniChecksLeft;
        CheckAppManagerIni(lint, name, count, languageKey);
    }
}

bool LetterSeen(const char* letters, size_t count, char letter) {
    char folded = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter + 32) : letter;
    for (size_t i = 0; i < count; ++i) {
        if (letters[i] == folded) return true;
    }
    return false;
}

void CheckLanguage(Lint* lint, int number, char* letters, size_t* letterCount) {
    char key[12];
    char entry[PathBufferSize];
    ListKey(number, key);
    ReadSetupText("languages", key, "", entry, PathMaxChars);
    if (entry[0] == 0) {
        Report(lint, LintError, "languages", key, "is missing or empty");
        return;
    }
    char letter = LanguageLetter(entry);
    if (LetterSeen(letters, *letterCount, letter)) {
        char shown[2] = {letter, 0};
        if (letter != 0) {
            Report(lint, LintError, "languages", key, "letter %s is used by an earlier language", shown);
        } else {
            Report(lint, LintWarning, "languages", key,
                   "has no letter, like an earlier language: both install the section install");
        }
        return;  // its list is the earlier language's, checked already
    }
    letters[(*letterCount)++] = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter + 32) : letter;
    LanguageNumber = static_cast<uint16_t>(number);
    MakeInstallSection(letter, InstallSection);
    CheckFileList(lint, key);
}

void CheckLanguages(Lint* lint) {
    int32_t count = ReadSetupInt("languages", "Count", 1);
    char letters[256];
    size_t letterCount = 0;
    if (count < 2) {
        int32_t chosen = ReadSetupInt("languages", "Default", 1);
        LanguageNumber = static_cast<uint16_t>(chosen);
        SelectLanguageSection();
        char key[12];
        ListKey(chosen, key);
        CheckFileList(lint, key);
        return;
    }
    if (count > 255) {
        Report(lint, LintError, "languages", "Count", "is larger than 255");
        count = 255;
    }
    for (int number = 1; number <= count; ++number) CheckLanguage(lint, number, letters, &letterCount);
    char key[12];
    char entry[PathBufferSize];
    ListKey(count + 1, key);
    ReadSetupText("languages", key, "", entry, PathMaxChars);
    if (entry[0] != 0) {
        Report(lint, LintWarning, "languages", "Count",
               "is smaller than the number of language entries: the later ones are not offered");
    }
    int32_t chosen = ReadSetupInt("languages", "Default", 1);
    if (chosen < 1 || chosen > count) {
        Report(lint, LintError, "languages", "Default",
               "selects no language: OK without a choice would end the installer");
    }
}

void CheckBackupList(Lint* lint) {
    char entry[PathBufferSize];
    for (int number = 1; ReadPlainListEntry("Backup data", number, entry); ++number) {
        if (IsInsideName(entry)) continue;
        char key[12];
        ListKey(number, key);
        Report(lint, LintError, "Backup data", key, "\"%s\" is not a file name inside the destination", entry);
    }
}

}  // namespace

int LintSetupFile(const IniText* ini, const char* fileName, const LintSink* sink) {
    Lint lint{sink, 0, fileName, ini, ini, MaxIniChecks, MaxListLookupReads};
    if (!CheckEncoding(&lint)) return lint.Findings;

    // The checks read through the installer's own state; it is put back after.
    ProfileReader savedReader = SetupFile;
    uint16_t savedLanguage = LanguageNumber;
    char savedSection[SectionBufferSize];
    TextCopy(savedSection, InstallSection);
    SetupFile = IniProfileReader(ini);

    CheckInstallation(&lint);
    CheckDestination(&lint);
    CheckLanguages(&lint);
    CheckBackupList(&lint);

    SetupFile = savedReader;
    LanguageNumber = savedLanguage;
    TextCopy(InstallSection, savedSection);
    return lint.Findings;
}
