// Checks of a package's setup information file and of the application
// manager's .ini files it lists, before the package ships, read with the
// installer's own rules (profile semantics, base-section fallback).
#pragma once

#include <cstdint>

#include "installer/ini_text.h"

// An error makes the installation fail or go wrong; a warning is something
// the installer copes with that is probably not what the author meant.
enum LintSeverity : int { LintWarning, LintError };

struct LintFinding {
    LintSeverity Severity;
    const char* File;     // the setup file's name, or an .ini's name as listed
    uint32_t Line;        // of the key, else of the section header; 0 for none
    const char* Section;  // empty for a finding about the whole file
    const char* Key;      // empty for a finding about a whole section
    const char* Message;
};

struct LintSink {
    void (*Report)(void* context, const LintFinding* finding);
    // Whether the package folder holds a file of this relative name.
    bool (*FileExists)(void* context, const char* name);
    // The bytes of a package file (the listed .ini files), valid until the
    // lint returns; false when it cannot be read. Null: .ini files unchecked.
    bool (*ReadFile)(void* context, const char* name, IniText* text);
    void* Context;
    // Checks a cabinet that a CabFiles value names and the folder holds,
    // reporting through Report; returns how many findings. Null: unchecked.
    int (*CheckCabinet)(void* context, const char* name);
};

// Reports every problem found and returns how many there were.
int LintSetupFile(const IniText* ini, const char* fileName, const LintSink* sink);
