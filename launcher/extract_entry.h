// Turns one archive entry into a file or directory: local header, stored copy
// or inflate, CRC-32, time stamp and attributes; the output is deleted again
// on every failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/platform.h"

enum : int32_t {
    ExtractOk = 0,
    ExtractCrcMismatch = 1,       // also a malformed dynamic block header
    ExtractWriteFailed = 2,       // output can't be created or written
    ExtractReadFailed = 3,        // archive unreadable, input exhausted, out of memory
    ExtractCorrupt = 4,           // bad local header, corrupt compressed data
    ExtractCancelled = 5,
    ExtractUnsupportedMethod = 6,
    ExtractEncrypted = 7,
};

int32_t ExtractEntry(const char* archiveName, const char* destPath, uint16_t attributes,
                     uint32_t localHeaderOffset, WindowHandle progressWindow, int16_t progressId);
// The local header at localHeaderOffset carries the name the central
// directory gives (compared as the walk keeps names). ZIP protects names by
// nothing but this copy: a damaged name would otherwise unpack as a
// different file.
bool LocalHeaderNameIs(const char* archiveName, uint32_t localHeaderOffset, const char* name);
// Copies a stored entry's data to the output (0, 2, 3 or 5).
int32_t CopyStoredEntry();

// CRC-32 of ZIP (ISO 3309, ITU-T V.42): reflected polynomial 0xEDB88320.
extern uint32_t CrcTable[256];
// Set by BuildCrcTable where the processor has a carry-less multiply; tests
// clear it to check the tables alone.
extern bool CrcCarryless;
// 64-bit hosts: set by BuildCrcTable where the carry-less multiply also
// works on 256-bit registers (and the system saves them); tests clear it.
extern bool CrcWide;
// Must run once before the first extraction.
void BuildCrcTable();
// Folds count bytes into a register held by the caller (start 0xFFFFFFFF,
// complement at the end).
uint32_t UpdateCrc32(const uint8_t* bytes, size_t count, uint32_t crc);
// Asks the running extraction to stop at its next check (from the progress dialog).
void RequestCancel();
