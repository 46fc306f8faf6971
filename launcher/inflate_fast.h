// The decoder's fast loop (inflate_fast.cpp), kept apart from the plain
// algorithm so that the programs compile it alone for speed and the rest
// for size.
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
// True while the input buffer leaves the fast readers room for a symbol.
bool FastInputFits();
// True while the input buffer and the window leave the fast loop room for a symbol.
bool FastLoopFits();
// Reads code length symbols into lengths[*next..total) while FastInputFits,
// with the plain reader's results; *next and *previous (the last length)
// carry on from where it stops.
int32_t ReadCodeLengthsFast(const DecodeEntry* table, uint32_t tableBits, uint16_t* lengths, uint32_t total,
                            uint32_t* next, uint32_t* previous);
// Decodes symbols while FastLoopFits; SymbolDecoded when it stops for lack
// of room, else the block's result.
int32_t DecodeSymbolsFast(const BlockTables& t);
