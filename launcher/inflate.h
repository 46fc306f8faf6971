// Deflate (RFC 1951) decoder for one archive entry: reads the archive through
// a 2048-byte input buffer in TheExtractState, writes through the window and
// FlushWindow, and lets the message pump run before every read.
#pragma once

#include <cstdint>

#include "support/platform.h"

enum : int32_t {
    InflateOk = 0,
    InflateBadHeader = 1,      // dynamic header: too many codes, repeat past the end
    InflateWriteFailed = 2,
    InflateInputExhausted = 3, // also memory exhausted
    InflateCorrupt = 4,
    InflateCancelled = 5,
};

// BuildDecodeTable results.
enum : int32_t {
    TableComplete = 0,    // or acceptable: a single code of length 1
    TableIncomplete = 1,
    TableInvalid = 2,     // over-subscribed, a length above 16
    TableNoMemory = 3,
};

// DecodeEntry::Op values besides 0-13 (extra bits of a length or distance).
enum : uint8_t {
    OpEndOfBlock = 15,
    OpLiteral = 16,      // also a code length symbol
    OpSubTable = 16,     // 17-32: a sub-table with Op - 16 index bits
    OpInvalid = 99,
};

// One slot of a lookup table. Slot 0 of every table is a link: Value holds
// the table's entry count and Next the table built after it for the same
// code; a code's handle points at slot 1 of its first table.
struct DecodeEntry {
    uint8_t Op;
    uint8_t Bits;    // bits this entry consumes
    uint16_t Value;  // literal, symbol, base length or base distance
    DecodeEntry* Next;
};

// First-level lookup widths of dynamic blocks.
extern uint32_t LiteralLookupBits;
extern uint32_t DistanceLookupBits;

// Lengths 257-287 and distances 0-31 (the last two of each invalid).
extern const uint16_t LengthBases[31];
extern const uint8_t LengthExtras[31];
extern const uint16_t DistanceBases[32];
extern const uint8_t DistanceExtras[32];

// Decodes the entry's data. Expects the archive at the data, CompressedSize
// set, CompressedRead 0, Window allocated and zeroed, both flags cleared and
// RunningCrc initialised.
int32_t InflateEntry();

// Afterwards at least n bits (0-16) are in BitBuffer.
void EnsureBits(uint32_t n);
void DropBits(uint32_t n);

// lengths: n code lengths; symbols below s are literal (256 ends the block),
// symbols from s up take Value and Op from bases and extras (which cover
// every symbol up to n - 1). lookupBits: requested first-level width on
// entry, the width used on return.
int32_t BuildDecodeTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases,
                         const uint8_t* extras, DecodeEntry** table, uint32_t* lookupBits);
// Counts the codes of each length 0-16 into count[0..16] (count has 18
// slots; the last is left 0); false when a length is above 16.
bool CountCodeLengths(const uint16_t* lengths, uint32_t n, uint32_t* count);
// Frees a code's tables; null is allowed.
void ReleaseDecodeTables(DecodeEntry* table);

// Steps a bit-reversed code of `length` bits to the next canonical code.
inline uint32_t NextReversedCode(uint32_t code, uint32_t length) {
    uint32_t bit = 1u << (length - 1);
    while (code & bit) {
        code ^= bit;
        bit >>= 1;
    }
    return code ^ bit;
}

struct MemoryInput;
struct OutputSink;

// Decodes a raw deflate stream held in memory into sink, with the engine set
// up as for an entry of compressedSize bytes (the input limit) and reporting
// to progressWindow. For tests, fuzzers and benchmarks.
int32_t InflateFromMemory(MemoryInput* input, OutputSink* sink, int32_t compressedSize,
                          WindowHandle progressWindow, int16_t progressId);
