#include "installer/setup_lint.h"

#include "installer/app_manager.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "support/platform.h"
#include "support/text.h"

namespace {

struct Lint {
    const LintSink* Sink;
    int Findings;
};

void Report(Lint* lint, const char* section, const char* key, const char* format, const char* a = nullptr,
            const char* b = nullptr) {
    char message[1025];
    uintptr_t arguments[2] = {reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b)};
    FormatText(message, format, arguments);
    lint->Sink->Report(lint->Sink->Context, section, key, message);
    ++lint->Findings;
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

void CheckInstallation(Lint* lint) {
    char value[PathBufferSize];
    ReadSetupText("Installation", "Program", "", value, PathMaxChars);
    if (value[0] == 0) Report(lint, "Installation", "Program", "is not set: the backdrop and captions have no title");
}

void CheckDestination(Lint* lint) {
    char value[PathBufferSize];
    ReadSetupText("Destination", "Dir", "", value, PathMaxChars);
    if (value[0] == 0) {
        Report(lint, "Destination", "Dir", "is not set: the installer would append c:\\install to its directory");
    } else if (!IsInsideName(value) || HasSubdirectory(value)) {
        Report(lint, "Destination", "Dir", "\"%s\" is not a plain directory name", value);
    }
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
            Report(lint, InstallSection, key, "\"%s\" is not a file name inside the package", name);
            continue;
        }
        if (HasSubdirectory(name)) {
            Report(lint, InstallSection, key, "\"%s\" names a subdirectory, which the installer does not create",
                   name);
        }
        if (!lint->Sink->FileExists(lint->Sink->Context, name)) {
            Report(lint, InstallSection, key, "\"%s\" is not in the package folder", name);
        }
        ini = ini || IsIniName(name);
    }
    if (number == 1) {
        Report(lint, InstallSection, "1", "language %s has no files to install", languageKey);
    } else if (!ini) {
        Report(lint, InstallSection, "", "language %s lists no .ini file for the application manager",
               languageKey);
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
        Report(lint, "languages", key, "is missing or empty");
        return;
    }
    char letter = LanguageLetter(entry);
    if (LetterSeen(letters, *letterCount, letter)) {
        char shown[2] = {letter, 0};
        if (letter != 0) {
            Report(lint, "languages", key, "letter %s is used by an earlier language", shown);
        } else {
            Report(lint, "languages", key, "has no letter, like an earlier language: both use the section install");
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
        Report(lint, "languages", "Count", "is larger than 255");
        count = 255;
    }
    for (int number = 1; number <= count; ++number) CheckLanguage(lint, number, letters, &letterCount);
    char key[12];
    char entry[PathBufferSize];
    ListKey(count + 1, key);
    ReadSetupText("languages", key, "", entry, PathMaxChars);
    if (entry[0] != 0) Report(lint, "languages", "Count", "is smaller than the number of language entries");
    int32_t chosen = ReadSetupInt("languages", "Default", 1);
    if (chosen < 1 || chosen > count) {
        Report(lint, "languages", "Default", "selects no language: OK without a choice would end the installer");
    }
}

void CheckBackupList(Lint* lint) {
    char entry[PathBufferSize];
    for (int number = 1; ReadPlainListEntry("Backup data", number, entry); ++number) {
        if (IsInsideName(entry)) continue;
        char key[12];
        ListKey(number, key);
        Report(lint, "Backup data", key, "\"%s\" is not a file name inside the destination", entry);
    }
}

}  // namespace

int LintSetupFile(const IniText* ini, const LintSink* sink) {
    // The checks read through the installer's own state; it is put back after.
    ProfileReader savedReader = SetupFile;
    uint16_t savedLanguage = LanguageNumber;
    char savedSection[SectionBufferSize];
    TextCopy(savedSection, InstallSection);
    SetupFile = IniProfileReader(ini);

    Lint lint{sink, 0};
    CheckInstallation(&lint);
    CheckDestination(&lint);
    CheckLanguages(&lint);
    CheckBackupList(&lint);

    SetupFile = savedReader;
    LanguageNumber = savedLanguage;
    TextCopy(InstallSection, savedSection);
    return lint.Findings;
}
