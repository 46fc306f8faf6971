// Checks of a package's setup information file and of the application
// manager's .ini files it lists, before the package ships, read with the
// installer's own rules (profile semantics, base-section fallback).
#pragma once

#include <cstddef>
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
    // The size of a package file, -1 when it cannot be read. Null: listed
    // files are judged by name only, not by content.
    int64_t (*FileSize)(void* context, const char* name);
    // Called for a file lint could not read as text (UTF-16): what it would
    // name is unknown, so findings about unnamed files would be guesses.
    // May be null.
    void (*Unreadable)(void* context, const char* name);
};

// Reports every problem found and returns how many there were.
int LintSetupFile(const IniText* ini, const char* fileName, const LintSink* sink);

// Files that hold private keys or credentials, which no customer should get:
// lint warns when a list names one, build leaves them out unless one does.
// Larger files are judged by name only.
constexpr uint32_t SecretScanMaxBytes = 1024 * 1024;
// *.pfx, *.p12, *.snk, *.key, id_rsa*, id_ed25519*, .env, .npmrc, .netrc, in
// any case; name may carry directories ("\\" or "/").
bool IsSecretName(const char* name);
// Whether the bytes hold a PEM private key block ("-----BEGIN ... PRIVATE KEY-----").
bool HoldsPrivateKey(const char* bytes, size_t length);

// Why Windows refuses a name of length characters as a file or directory name
// (a character it does not allow, a trailing dot or blank, a device name), as a
// phrase for a message ("ends in a dot or blank"); null when it takes it.
const char* NameComponentProblem(const char* name, size_t length);
