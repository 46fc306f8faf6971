// The decoder's fast loop (inflate_fast.cpp), kept apart from the plain
// algorithm so that the programs compile it alone for speed and the rest for
// size, and its tables (built with the plain ones in inflate_tables.cpp).
#pragma once

#include <cstdint>

#include "launcher/inflate.h"

// A block's plain tables, freed on every way out.
struct BlockTables {
    DecodeEntry* Literal = nullptr;
    DecodeEntry* Distance = nullptr;
    uint32_t LiteralBits = 0;
    uint32_t DistanceBits = 0;
    bool Fast = false;  // both codes exist and the fast tables hold them
    ~BlockTables() {
        ReleaseDecodeTables(Literal);
        ReleaseDecodeTables(Distance);
    }
};

// The fast loop looks symbols up in tables of its own: one 32-bit word per
// pattern of the next FastLiteralBits (FastDistanceBits) bits, so that nearly
// every symbol takes one lookup and no pointer. Codes longer than that, and
// patterns no code uses, are marked FastLong and decoded through the plain
// tables, which stay the reference. Which table finds a code does not change
// the bits a symbol consumes, so the fast loop's bit requests are those of the
// plain path whatever the widths.
//
// An entry: bits 0-7 the bits to drop (code and extra bits together), bits
// 8-11 the code's own length, bits 12-15 flags, bits 16-31 the literal or base.

constexpr uint32_t FastLiteralBits = 11;
constexpr uint32_t FastDistanceBits = 8;
enum : uint32_t {
    FastLong = 0x1000,     // decode through the plain tables
    FastEnd = 0x2000,      // end of block
    FastLiteral = 0x4000,
    FastInvalid = 0x8000,  // from WalkPlainTables: no code
};

// The tables of the block being decoded (one at a time), filled by BuildFastTables.
extern uint32_t FastLiterals[1u << FastLiteralBits];
extern uint32_t FastDistances[1u << FastDistanceBits];

// The fast form of a plain entry (Op 0-16); bits: the code bits it consumes.
inline uint32_t FastEntry(uint32_t op, uint32_t value, uint32_t bits) {
    if (op == OpLiteral) return value << 16 | FastLiteral | bits;
    if (op == OpEndOfBlock) return FastEnd | bits;
    if (op > 13) return FastLong;  // reserved symbols: the plain tables refuse them
    return value << 16 | bits << 8 | (bits + op);
}

// DecodeSymbolsFast's result when it stops for lack of room (beside the
// Inflate* results).
constexpr int32_t SymbolDecoded = -1;

// Fills the fast tables from the code lengths the block's plain tables were
// built from (and accepted), and marks the block as fast.
void BuildFastTables(BlockTables* t, const uint16_t* literalLengths, uint32_t literalCount,
                     const uint16_t* distanceLengths, uint32_t distanceCount);
// Whether the loop may take its BMI2 variant where the processor has one
// (x86-64 only; set by default). Tests clear it to check the plain variant.
extern bool FastLoopMayUseBmi2;
// True while the input buffer and the window leave the fast loop room for a symbol.
bool FastLoopFits();
// Decodes symbols while FastLoopFits; SymbolDecoded when it stops for lack
// of room, else the block's result.
int32_t DecodeSymbolsFast(const BlockTables& t);
