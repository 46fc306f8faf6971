// Reading the setup information file: the profile-function seam, the file
// lists with their fallback to the base section, and the language entries.
#pragma once

#include <cstdint>

#include "support/text.h"

// Where the values come from: the system's profile functions over InfPath in
// the program, an IniText (ini_text.h) in tests and in cepack.
// ReadString and ReadInt follow GetPrivateProfileStringA / GetPrivateProfileIntA.
struct ProfileReader {
    uint32_t (*ReadString)(const void* context, const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size);
    int32_t (*ReadInt)(const void* context, const char* section, const char* key, int32_t defaultValue);
    const void* Context;
};

// The reader of the running installation.
extern ProfileReader SetupFile;

uint32_t ReadSetupText(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size);
int32_t ReadSetupInt(const char* section, const char* key, int32_t defaultValue);

// The not-found marker of ReadInstallEntry.
inline constexpr const char* MissingEntryMarker = "?!?!?!";

// One value of a file list: a key missing from a language's section is read
// from its base section (the name without its last character), for every
// language but number 1 (LanguageNumber). buffer holds size + 1 bytes
// (a default is copied with up to size characters).
void ReadInstallEntry(const char* section, const char* key, const char* defaultValue, char* buffer,
                      uint32_t size);

// Entry number of a list (keys "1", "2", ...) through ReadInstallEntry with
// size 259; false at the first empty value, which ends the list.
bool ReadFileListEntry(const char* section, int number, char* buffer);
// The same for a plain list without fallback ("Backup data").
bool ReadPlainListEntry(const char* section, int number, char* buffer);

// The text before the first comma of a list or language entry, cut to fit capacity - 1 characters.
void EntryName(const char* entry, char* name, size_t capacity);
// The first character after the first comma of a language entry, blanks
// skipped; 0 without one.
char LanguageLetter(const char* entry);
// "install" followed by the letter (just "install" for letter 0).
void MakeInstallSection(char letter, char* section);
// Steps after the dialog: reads the entry of LanguageNumber and sets
// InstallSection; returns the language's letter (0 for none).
char SelectLanguageSection();

// Key text of a list number ("1", "2", ...).
void ListKey(int number, char* key);

// The flag text of a file-list entry: from the first comma up to a second
// one, blanks around it trimmed, " " without a comma; its first character
// upper-cased.
void EntryFlags(const char* entry, char* flags, size_t capacity);
