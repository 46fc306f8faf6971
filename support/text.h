// Bounded ANSI text and path helpers shared by both programs and the host tool.
// Texts are NUL-terminated byte strings; paths live in PathBufferSize-byte buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// State that is per thread on the host, whose tests and tools may run
// several, and plain in the Windows programs, which have one: MinGW's
// emulated thread-local storage costs them about 3 KB and a semaphore.
#ifdef _WIN32
#define CE_PER_THREAD
#else
#define CE_PER_THREAD thread_local
#endif

constexpr int PathBufferSize = 260;
constexpr int PathMaxChars = 259;

// Set once at start-up; selects the character-wise scans under double-byte code pages.
extern bool DbcsEnabled;
void InitDbcsFlag();

size_t TextLength(const char* text);
char* TextEnd(char* text);
const char* TextEnd(const char* text);
char* TextCopy(char* destination, const char* source);
char* TextCopyMax(char* destination, const char* source, size_t n);
char* TextAppend(char* destination, const char* source);
char* TextAppendMax(char* destination, const char* source, size_t n);
int TextCompare(const char* a, const char* b);
int TextCompareMax(const char* a, const char* b, size_t n);
int TextCompareNoCase(const char* a, const char* b);
int TextCompareNoCaseMax(const char* a, const char* b, size_t n);
char* TextToLower(char* text);

char* ByteScan(const char* text, char c);
char* ByteScanBack(const char* text, char c);
char* ScanChar(const char* text, char c);
char* ScanCharBack(const char* text, char c);

void AppendBackslash(char* path);
void StripTrailingBackslash(char* path);
char* FileNameOf(const char* path);
bool IsUncName(const char* text);
bool IsRootPath(const char* text);
void StripQuotes(char* text);
// Whether a name ("\"-separated) stays below the directory it is joined to:
// no root, drive, UNC or parent components. The launcher's archive entries
// and the installer's list entries both go through it.
bool IsContainedEntryName(const char* name);

// Splits text at separator; a null text continues the previous split (this
// thread's, on the host).
char* NextToken(char* text, char separator);

// Value of an environment variable in a process-wide buffer; empty when unset.
char* GetEnvText(const char* name);
// Replaces %NAME% references in place; the result holds at most n characters.
void ExpandPercentVars(char* text, size_t n);

// wvsprintfA-style formatting: one 32-bit (or pointer) argument per format item.
// The destination must hold 1025 bytes; never more than 1024 bytes are written.
int FormatText(char* destination, const char* format, const uintptr_t* arguments);
