// Multi-level lookup tables for canonical Huffman codes (RFC 1951 3.2.2).
//
// The first-level table is indexed by the next lookupBits bits of input (codes
// are stored bit-reversed, the order they arrive in); a longer code continues
// in a sub-table reached through a link slot. The table widths decide how many
// bits the decoder asks for at each step, and so when it refills its input;
// they are therefore part of the contract, not a tuning detail.
#include <cstdlib>
#include <cstring>

#include "launcher/inflate.h"
#include "launcher/inflate_fast.h"

uint32_t LiteralLookupBits = 9;
uint32_t DistanceLookupBits = 6;

const uint16_t LengthBases[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint8_t LengthExtras[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                  3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, OpInvalid, OpInvalid};
const uint16_t DistanceBases[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,  33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769, 1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0,   0};
const uint8_t DistanceExtras[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,         6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, OpInvalid, OpInvalid};

uint32_t FastLiterals[1u << FastLiteralBits];
uint32_t FastDistances[1u << FastDistanceBits];

namespace {

constexpr uint32_t MaxCodeLength = 16;
constexpr uint32_t MaxSymbols = 320;

// One table on the way down to the current code.
struct TableLevel {
    DecodeEntry* Slots;
    uint32_t Base;    // input bits consumed before this table's index
    uint32_t Width;   // index bits
    uint32_t Prefix;  // the Base code bits that lead here
};

// The tables of one code under construction: their chain and the way down.
struct TableBuilder {
    DecodeEntry* Head;  // handle: slot 1 of the first table
    DecodeEntry* Tail;  // slot 0 of the last table, to chain the next one
    TableLevel Levels[MaxCodeLength];
    int Depth;          // index of the current level; -1 before the first
};

DecodeEntry* AllocateTable(TableBuilder* builder, uint32_t width) {
    uint32_t size = 1u << width;
    auto* block = static_cast<DecodeEntry*>(std::malloc((size + 1) * sizeof(DecodeEntry)));
    if (!block) return nullptr;
    block[0] = DecodeEntry{0, 0, static_cast<uint16_t>(size), nullptr};
    // No slot needs a default: the patterns a code leaves over become codes
    // without a symbol, so every slot of every table is written.
    if (builder->Tail) builder->Tail->Next = block;
    else builder->Head = block + 1;
    builder->Tail = block;
    return block + 1;
}

// Width of a sub-table whose index starts at bit `base`, opened for a code of
// `length` bits with `left` codes of that length still to place (this one
// included): wide enough for the codes that follow to fill it, never wider than
// the longest code needs or than the first level, and cut so that a table never
// straddles the end-of-block code's length.
uint32_t SubTableWidth(const uint32_t* count, uint32_t length, uint32_t left, uint32_t base, uint32_t longest,
                       uint32_t lookupBits, uint32_t endLength) {
    uint32_t limit = longest - base < lookupBits ? longest - base : lookupBits;
    uint32_t width = length - base < limit ? length - base : limit;
    if ((1u << width) > left) {
        uint32_t unfilled = (1u << width) - left;
        uint32_t next = length;
        while (width < limit) {
            ++width;
            unfilled <<= 1;
            if (unfilled <= count[++next]) break;
            unfilled -= count[next];
        }
    }
    if (base + width > endLength && base < endLength) width = endLength - base;
    return width;
}

DecodeEntry CodeEntry(uint32_t symbol, uint32_t n, uint32_t s, const uint16_t* bases, const uint8_t* extras,
                      uint32_t bits) {
    DecodeEntry entry{OpInvalid, static_cast<uint8_t>(bits), 0, nullptr};
    if (symbol >= n) return entry;  // a pattern left over in an incomplete code
    if (symbol < s) {
        entry.Op = symbol < 256 ? OpLiteral : OpEndOfBlock;
        entry.Value = static_cast<uint16_t>(symbol);
    } else {
        entry.Op = extras[symbol - s];
        entry.Value = bases[symbol - s];
    }
    return entry;
}

// Fills a fast table for a code the plain builder accepted (lengths up to 16,
// not over-subscribed); symbols as for BuildDecodeTable. Codes are placed in
// canonical order while the table is only as wide as the current length, and
// the table doubles (a copy) when the length grows, so each slot is written
// about once. The slots left at full width lead to longer codes or to none.
void BuildFastTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases, const uint8_t* extras,
                    uint32_t width, uint32_t* table) {
    uint32_t count[18];
    CountCodeLengths(lengths, n, count);
    uint16_t offset[17];
    offset[1] = 0;
    for (uint32_t length = 1; length < width; ++length) offset[length + 1] = offset[length] + count[length];
    uint16_t sorted[MaxSymbols];  // the symbols of codes up to width bits, by length, then value
    for (uint32_t symbol = 0; symbol < n; ++symbol) {
        if (lengths[symbol] != 0 && lengths[symbol] <= width) sorted[offset[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
    }

    table[0] = FastLong;
    uint32_t filled = 0;  // the table's current width
    uint32_t code = 0;    // next canonical code, bit-reversed, at the current width
    uint32_t placed = 0;
    for (uint32_t length = 1; length <= width; ++length) {
        std::memcpy(table + (1u << filled), table, sizeof(uint32_t) << filled);
        filled = length;
        for (uint32_t k = 0; k < count[length]; ++k) {
            uint32_t symbol = sorted[placed++];
            table[code] = symbol < s ? FastEntry(symbol < 256 ? OpLiteral : OpEndOfBlock, symbol, length)
                                     : FastEntry(extras[symbol - s], bases[symbol - s], length);
            code = NextReversedCode(code, length);
        }
    }
    // Codes of every length up to width are placed, so the rest of the code
    // space starts at `code`; a reversed code of 0 means it wrapped: full.
    uint32_t left = 1u << width;
    for (uint32_t length = 1; length <= width; ++length) left -= count[length] << (width - length);
    for (; left > 0; --left) {
        table[code] = FastLong;
        code = NextReversedCode(code, width);
    }
}

}  // namespace

bool CountCodeLengths(const uint16_t* lengths, uint32_t n, uint32_t* count) {
    for (uint32_t length = 0; length <= MaxCodeLength + 1; ++length) count[length] = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (lengths[i] > MaxCodeLength) return false;
        ++count[lengths[i]];
    }
    return true;
}

void ReleaseDecodeTables(DecodeEntry* table) {
    DecodeEntry* block = table ? table - 1 : nullptr;
    while (block) {
        DecodeEntry* next = block->Next;
        std::free(block);
        block = next;
    }
}

int32_t BuildDecodeTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases,
                         const uint8_t* extras, DecodeEntry** table, uint32_t* lookupBits) {
    *table = nullptr;
    if (n > MaxSymbols) return TableInvalid;
    uint32_t endLength = n > 256 ? lengths[256] : MaxCodeLength;

    // 32 bits: the patterns an incomplete code of 16-bit codes leaves reach 65536.
    uint32_t count[MaxCodeLength + 2] = {};
    if (!CountCodeLengths(lengths, n, count)) {
        *lookupBits = 0;
        return TableInvalid;
    }
    if (count[0] == n) {  // no codes at all: no table
        *lookupBits = 0;
        return TableComplete;
    }

    uint32_t shortest = 1;
    while (count[shortest] == 0) ++shortest;
    uint32_t longest = MaxCodeLength;
    while (count[longest] == 0) --longest;
    uint32_t rootBits = *lookupBits;
    if (rootBits < shortest) rootBits = shortest;
    if (rootBits > longest) rootBits = longest;
    *lookupBits = rootBits;

    // Patterns left at each length; what remains at the longest length
    // becomes codes without a symbol.
    int32_t left = 1 << shortest;
    for (uint32_t length = shortest; length < longest; ++length) {
        left -= count[length];
        if (left < 0) return TableInvalid;
        left <<= 1;
    }
    left -= count[longest];
    if (left < 0) return TableInvalid;
    count[longest] += static_cast<uint32_t>(left);

    // Symbols by length, then by value.
    uint16_t offset[MaxCodeLength + 2] = {};
    for (uint32_t length = 1; length < MaxCodeLength; ++length) offset[length + 1] = offset[length] + count[length];
    uint16_t sorted[MaxSymbols];
    uint32_t symbolCount = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (lengths[i] != 0) {
            sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);
            ++symbolCount;
        }
    }
    // offset[] now points past each length; the order within sorted[] is what counts.

    TableBuilder builder{};
    DecodeEntry* root = AllocateTable(&builder, rootBits);
    if (!root) return TableNoMemory;
    builder.Levels[0] = TableLevel{root, 0, rootBits, 0};
    builder.Depth = 0;
    // Codes that end in the first-level table are written once, while the
    // table is only as wide as their length; it doubles (a copy) as the
    // length grows, which replicates each into every slot it owns.
    root[0] = DecodeEntry{OpInvalid, 0, 0, nullptr};
    uint32_t rootFilled = 0;
    uint32_t code = 0;  // current code, bit-reversed
    uint32_t placed = 0;
    for (uint32_t length = shortest; length <= longest; ++length) {
        for (uint32_t width = length < rootBits ? length : rootBits; rootFilled < width; ++rootFilled) {
            std::memcpy(root + (1u << rootFilled), root, sizeof(DecodeEntry) << rootFilled);
        }
        for (uint32_t remaining = count[length]; remaining > 0; --remaining) {
            // Open sub-tables until the code ends inside the current table.
            while (length > builder.Levels[builder.Depth].Base + builder.Levels[builder.Depth].Width) {
                const TableLevel& parent = builder.Levels[builder.Depth];
                uint32_t base = parent.Base + parent.Width;
                uint32_t width = SubTableWidth(count, length, remaining, base, longest, rootBits, endLength);
                DecodeEntry* slots = AllocateTable(&builder, width);
                if (!slots) {
                    ReleaseDecodeTables(builder.Head);
                    return TableNoMemory;
                }
                uint32_t index = code >> parent.Base;
                if (index >= (1u << parent.Width)) {
                    ReleaseDecodeTables(builder.Head);
                    return TableInvalid;
                }
                parent.Slots[index] = DecodeEntry{static_cast<uint8_t>(OpSubTable + width),
                                                  static_cast<uint8_t>(parent.Width), 0, slots};
                ++builder.Depth;
                builder.Levels[builder.Depth] = TableLevel{slots, base, width, code & ((1u << base) - 1)};
            }

            const TableLevel& level = builder.Levels[builder.Depth];
            uint32_t bits = length - level.Base;
            uint32_t symbol = placed < symbolCount ? sorted[placed] : n;
            ++placed;
            DecodeEntry entry = CodeEntry(symbol, n, s, bases, extras, bits);
            if (builder.Depth == 0) {
                root[code] = entry;
            } else {
                for (uint32_t slot = code >> level.Base; slot < (1u << level.Width); slot += 1u << bits) {
                    level.Slots[slot] = entry;
                }
            }

            code = NextReversedCode(code, length);
            while (builder.Depth > 0 &&
                   (code & ((1u << builder.Levels[builder.Depth].Base) - 1)) != builder.Levels[builder.Depth].Prefix) {
                --builder.Depth;
            }
        }
    }

    *table = builder.Head;
    return (left != 0 && longest != 1) ? TableIncomplete : TableComplete;
}

void BuildFastTables(BlockTables* t, const uint16_t* literalLengths, uint32_t literalCount,
                     const uint16_t* distanceLengths, uint32_t distanceCount) {
    BuildFastTable(literalLengths, literalCount, 257, LengthBases, LengthExtras, FastLiteralBits, FastLiterals);
    BuildFastTable(distanceLengths, distanceCount, 0, DistanceBases, DistanceExtras, FastDistanceBits, FastDistances);
    t->Fast = true;
}
