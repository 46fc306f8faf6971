// The texts the installer shows, each under a key of the setup file's text
// sections: "[Texts]" followed by the chosen language's letter, then the
// base "[Texts]", then the built-in English text, key by key.
#pragma once

#include <cstddef>

enum TextId : int {
    // Shown before a language is chosen: read from [Texts] only.
    LanguagePromptText,
    DeviceCenterMissingText,
    ActiveSyncMissingText,
    SaveToFolderText,
    // Both before and after the choice.
    OkButtonText,
    CancelButtonText,
    // Shown after the choice.
    DestinationPromptText,
    DestinationExampleText,
    BrowseTitleText,
    DirectoryExistsText,
    CopyCaptionText,
    BackupLineText,
    InstallLineText,
    CopyCancelButtonText,
    ReadErrorText,
    WriteErrorText,
    AbortedText,
    DiskFullText,
    SuccessText,
    FailureText,
    SavedToFolderText,
    TextCount
};

// The texts that are always shown before the language choice.
constexpr bool IsShownBeforeChoice(int id) { return id <= SaveToFolderText; }

// The key of a text in the setup file, and its built-in English form.
const char* TextKeyName(int id);
const char* BuiltInText(int id);

// A text from the file holds at most this many bytes, NUL included; a longer
// one is cut at a character boundary.
constexpr int TextBufferSize = 512;

// A message: a text and a path in it, with room to spare.
constexpr int MessageBufferSize = 1025;

// "Texts" followed by the letter (just "Texts" for letter 0), into section
// (at least 8 bytes).
void MakeTextsSection(char letter, char* section);

// Looks every text up for the language of this letter (0: before a choice,
// or a language without one). Texts that fail the placeholder check keep
// their built-in form.
void LoadTexts(char letter);

// The text of id as shown ("%n" and "%%" made what they stand for); the
// built-in one before any LoadTexts. Texts with a value go through
// FormatInstallerText.
const char* InstallerText(int id);

// Whether a text from the file may stand for builtIn: every "%" begins
// "%s" (a value), "%n" (a line break) or "%%" (a percent sign), and its
// "%s" are as many as builtIn's.
bool SamePlaceholders(const char* text, const char* builtIn);

// Cuts text in place to at most capacity - 1 bytes, at a character boundary.
void CutText(char* text, size_t capacity);

// Whose bytes a piece of a message is: the built-in English text's (code
// page 1252), or the setup file's text or the value put in (both in the
// system's ANSI code page).
enum TextOrigin : int { BuiltInOrigin, AuthorOrigin, ValueOrigin };
// Takes the pieces of a message in order; false stops (no room left).
using TextPieceSink = bool (*)(void* context, const char* bytes, size_t length, TextOrigin origin);

// The text of id with argument in place of its "%s", piece by piece: the
// text before the value, the value, the rest. The text is never used as a
// format.
void ForEachTextPiece(int id, const char* argument, TextPieceSink sink, void* context);

// Those pieces into message (capacity bytes, at least 1); what does not fit
// is cut at a character boundary.
void FormatInstallerText(char* message, size_t capacity, int id, const char* argument);
