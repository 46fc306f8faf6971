// An INI reader over a text in memory with the semantics of the system's
// profile functions, so that the host (tests, cepack lint) reads a setup
// information file as the installer will: names match without regard to
// case, the first section of a name counts and in it the first key,
// surrounding blanks and one pair of matching quotes are dropped, a line
// without "=" is no value, and a missing key yields the default.
#pragma once

#include <cstddef>
#include <cstdint>

#include "installer/setup_file.h"

struct IniText {
    const char* Text;
    size_t Length;
};

// GetPrivateProfileStringA: copies at most size - 1 characters and returns
// the number copied.
uint32_t IniReadString(const IniText* ini, const char* section, const char* key, const char* defaultValue,
                       char* buffer, uint32_t size);
// GetPrivateProfileIntA: the default for a missing or empty value, else the
// leading decimal number (0 when there is none).
int32_t IniReadInt(const IniText* ini, const char* section, const char* key, int32_t defaultValue);
// Whether the section exists (with any keys or none).
bool IniHasSection(const IniText* ini, const char* section);
// The 1-based line of the key that a read of section and key takes (or of
// the section's header for a null key); 0 when there is none.
uint32_t IniLineOf(const IniText* ini, const char* section, const char* key);

// One line of the text as the profile functions split it. Spans are not
// terminated; Key is null on a header line.
struct IniLine {
    uint32_t Number;          // 1-based, counted as IniLineOf counts
    const char* Section;      // the name of the section the line is in (empty before the first header)
    size_t SectionLength;
    bool Header;
    bool FirstOfName;         // the section is the first of its name, the one the reads take
    const char* Key;
    size_t KeyLength;
    const char* Value;        // after "=", blanks around it dropped, quotes kept
    size_t ValueLength;
};

// Calls visit for every section header and every key line with "=", in file
// order; comment lines (";") are passed over.
void IniWalk(const IniText* ini, void (*visit)(void* context, const IniLine* line), void* context);

ProfileReader IniProfileReader(const IniText* ini);
