// Checks of a package's setup information file before it ships, read with
// the installer's own rules (profile semantics, base-section fallback).
#pragma once

#include "installer/ini_text.h"

struct LintSink {
    // One finding; key may be empty when the finding concerns a whole section.
    void (*Report)(void* context, const char* section, const char* key, const char* message);
    // Whether the package folder holds a file of this relative name.
    bool (*FileExists)(void* context, const char* name);
    void* Context;
};

// Reports every problem found and returns how many there were.
int LintSetupFile(const IniText* ini, const LintSink* sink);
