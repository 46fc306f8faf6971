// Deflate decoder (RFC 1951) over TheExtractState.
//
// Two paths decode the same symbols. The slow path is the plain algorithm:
// EnsureBits asks for exactly the bits each step needs, and takes input bytes
// one at a time, refilling the 2048-byte buffer (with a pump and a progress
// report) the moment a step needs a byte that isn't there. Because those
// moments are visible to the user (progress, cancel), every observable event
// follows from the sequence of bit requests alone: refill k happens at the
// first request that reaches into byte 2048k of the input.
//
// The fast loop keeps that sequence intact without walking it. It runs only
// while enough unread bytes are left in the current buffer that a whole symbol
// (at most 15+5 bits of length and 15+13 of distance, 48 bits) decodes from
// them, so no request the slow path would make could reach the next buffer;
// and only while the window has room for the longest match, so that no flush
// falls inside it. Bytes it pulls early never cross the buffer's end, so the
// next refill still happens at the same request. On leaving, it gives whole
// unread bytes back to the buffer.
//
// Its bit buffer is a machine word: on a 64-bit processor one refill holds a
// whole symbol, on a 32-bit one a symbol takes up to three refills, which is
// still cheaper there than carrying 64 bits in two registers.
#include <cstring>

#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "support/platform.h"

namespace {

constexpr uint32_t MaxMatch = 258;
// The fast loop's window limit: a maximal match still ends before the flush,
// and its last eight-byte step stays inside the slack.
constexpr uint32_t FastWindowLimit = WindowSize - MaxMatch - 1;
static_assert(WindowSlack >= 16, "copies run up to fifteen bytes over");
// CE_FAST_WORD_32: the sanitizer and fuzz builds run the 32-bit programs'
// loop on the host.
#if UINTPTR_MAX > 0xFFFFFFFFu && !defined(CE_FAST_WORD_32)
using FastWord = uint64_t;
#else
using FastWord = uint32_t;
#endif
constexpr uint32_t FastWordBits = 8 * sizeof(FastWord);
// Bits a refill leaves at least: all but the last, partial byte.
constexpr uint32_t RefillBits = FastWordBits - 8;
// Unread bytes the fast loop needs in the buffer at a symbol's start: one
// 8-byte refill, or three 4-byte ones each starting at most 3 bytes further on.
constexpr int32_t FastInputBytes = sizeof(FastWord) == 8 ? 8 : 12;
constexpr uint32_t MaxLiteralCodes = 288;
constexpr uint32_t MaxDistanceCodes = 32;
constexpr uint32_t CodeLengthCodes = 19;
constexpr uint32_t CodeLengthLookupBits = 7;
constexpr uint32_t FixedLiteralLookupBits = 7;
constexpr uint32_t FixedDistanceLookupBits = 5;

constexpr int32_t SymbolDecoded = -1;  // beside the Inflate* results

enum : uint32_t { BlockStored = 0, BlockFixed = 1, BlockDynamic = 2 };

const uint16_t BitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                              0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

const uint8_t CodeLengthOrder[CodeLengthCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline uint32_t PeekBits(uint32_t n) { return static_cast<uint32_t>(TheExtractState.BitBuffer) & BitMask[n]; }

// Takes n bits (after EnsureBits).
inline uint32_t TakeBits(uint32_t n) {
    EnsureBits(n);
    uint32_t v = PeekBits(n);
    DropBits(n);
    return v;
}

inline FastWord LoadWord(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    FastWord v = 0;
    for (int i = sizeof(FastWord) - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
#else
    FastWord v;
    std::memcpy(&v, p, sizeof v);
    return v;
#endif
}

// Frees both tables of a block on every way out.
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

void RefillInput() {
    ExtractState& s = TheExtractState;
    s.InputPos = 0;
    if (s.CompressedRead > int64_t{s.CompressedSize} + 2) {
        // Everything read so far is consumed, and that is more than the entry
        // plus two bytes of look-ahead: offer the stale bytes again so the
        // current symbol can finish; the next check stops the entry.
        s.InputExhausted = true;
        s.InputLast = InputBufferSize - 1;
        return;
    }
    PumpMessages();
    ReportProgress();
    uint16_t count = 0;
    if (!ReadArchive(s.InputBuffer, InputBufferSize, &count) || count == 0) {
        CloseArchive();
        s.InputExhausted = true;
        count = InputBufferSize;
    }
    s.CompressedRead += count;
    s.InputLast = static_cast<int16_t>(count - 1);
}

// Output -----------------------------------------------------------------

// Advances the window after bytes were stored. A full window is flushed and
// becomes the history in front of the next one.
inline bool AdvanceWindow(uint32_t count) {
    ExtractState& s = TheExtractState;
    s.WindowPos = static_cast<uint16_t>(s.WindowPos + count);
    if (s.WindowPos < WindowSize) return true;
    s.WindowPos = 0;
    if (!FlushWindow(WindowSize)) return false;
    std::memcpy(s.Window - WindowSize, s.Window, WindowSize);
    return true;
}

// Copies a match in runs that stop where the window fills: as one block
// where source and destination are apart, else byte by byte in ascending
// order, which repeats bytes when the copy overlaps itself.
bool CopyMatchSlow(uint32_t length, uint32_t distance) {
    ExtractState& s = TheExtractState;
    while (length > 0) {
        uint32_t run = WindowSize - s.WindowPos;
        if (run > length) run = length;
        uint8_t* out = s.Window + s.WindowPos;
        const uint8_t* from = out - distance;
        if (distance >= run) std::memcpy(out, from, run);
        else for (uint32_t i = 0; i < run; ++i) out[i] = from[i];
        length -= run;
        if (!AdvanceWindow(run)) return false;
    }
    return true;
}

// Copies a match that ends inside the window, in steps of up to sixteen
// bytes. It may write up to fifteen bytes past the match's end (into bytes
// not produced yet, or the slack), which later output overwrites.
inline void CopyMatchFast(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 16) {
        // A step never reads what it writes: its source ends where it starts.
        do {
            std::memcpy(out, from, 16);
            out += 16;
            from += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        uint64_t pattern = 0x0101010101010101ull * *from;
        do {
            std::memcpy(out, &pattern, 8);
            out += 8;
        } while (out < end);
    } else {
        // Short periods: the first eight bytes one by one, then steps of the
        // period's multiple that reaches eight bytes back.
        for (int i = 0; i < 8; ++i) out[i] = from[i];
        uint32_t step = distance;
        while (step < 8) step += distance;
        for (out += 8; out < end; out += 8) std::memcpy(out, out - step, 8);
    }
}

// Symbols ------------------------------------------------------------------

// Looks a code up the plain way; null for an invalid code.
const DecodeEntry* LookUpSlow(const DecodeEntry* table, uint32_t bits) {
    EnsureBits(bits);
    const DecodeEntry* e = table + PeekBits(bits);
    while (e->Op > OpSubTable) {
        if (e->Op == OpInvalid) return nullptr;
        DropBits(e->Bits);
        uint32_t subBits = e->Op - OpSubTable;
        EnsureBits(subBits);
        e = e->Next + PeekBits(subBits);
    }
    DropBits(e->Bits);
    return e;
}

int32_t DecodeSymbolSlow(const BlockTables& t) {
    ExtractState& s = TheExtractState;
    if (!t.Literal) return InflateCorrupt;  // a code without codes
    const DecodeEntry* e = LookUpSlow(t.Literal, t.LiteralBits);
    if (!e) return InflateCorrupt;
    if (e->Op == OpLiteral) {
        s.Window[s.WindowPos] = static_cast<uint8_t>(e->Value);
        return AdvanceWindow(1) ? SymbolDecoded : InflateWriteFailed;
    }
    if (e->Op == OpEndOfBlock) return InflateOk;
    uint32_t length = e->Value + TakeBits(e->Op);
    if (!t.Distance) return InflateCorrupt;
    const DecodeEntry* d = LookUpSlow(t.Distance, t.DistanceBits);
    if (!d) return InflateCorrupt;
    uint32_t distance = d->Value + TakeBits(d->Op);
    return CopyMatchSlow(length, distance) ? SymbolDecoded : InflateWriteFailed;
}

// Fast tables ---------------------------------------------------------------
//
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

// Only one block is decoded at a time.
uint32_t FastLiterals[1u << FastLiteralBits];
uint32_t FastDistances[1u << FastDistanceBits];

// The fast form of a plain entry (Op 0-16); bits: the code bits it consumes.
inline uint32_t FastEntry(uint32_t op, uint32_t value, uint32_t bits) {
    if (op == OpLiteral) return value << 16 | FastLiteral | bits;
    if (op == OpEndOfBlock) return FastEnd | bits;
    if (op > 13) return FastLong;  // reserved symbols: the plain tables refuse them
    return value << 16 | bits << 8 | (bits + op);
}

// The low n bits of v, n below 32.
inline uint32_t LowBits(uint32_t v, uint32_t n) { return v & ((1u << n) - 1); }

// Steps a bit-reversed code of `length` bits to the next canonical code.
inline uint32_t NextReversed(uint32_t code, uint32_t length) {
    uint32_t bit = 1u << (length - 1);
    while (code & bit) {
        code ^= bit;
        bit >>= 1;
    }
    return code ^ bit;
}

// Fills a fast table for a code the plain builder accepted (lengths up to 16,
// not over-subscribed); symbols as for BuildDecodeTable. Codes are placed in
// canonical order while the table is only as wide as the current length, and
// the table doubles (a copy) when the length grows, so each slot is written
// about once. The slots left at full width lead to longer codes or to none.
void BuildFastTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases, const uint8_t* extras,
                    uint32_t width, uint32_t* table) {
    uint32_t count[17] = {};
    for (uint32_t i = 0; i < n; ++i) ++count[lengths[i]];
    uint16_t offset[17];
    offset[1] = 0;
    for (uint32_t length = 1; length < width; ++length) offset[length + 1] = offset[length] + count[length];
    uint16_t sorted[MaxLiteralCodes];  // the symbols of codes up to width bits, by length, then value
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
            code = NextReversed(code, length);
        }
    }
    // Codes of every length up to width are placed, so the rest of the code
    // space starts at `code`; a reversed code of 0 means it wrapped: full.
    uint32_t left = 1u << width;
    for (uint32_t length = 1; length <= width; ++length) left -= count[length] << (width - length);
    for (; left > 0; --left) {
        table[code] = FastLong;
        code = NextReversed(code, width);
    }
}

// A FastLong pattern: the code through the plain tables. Returns its fast
// entry as if the fast table had held it (code bits counted from the
// symbol's start), or FastInvalid. bits: at least the longest code's.
__attribute__((noinline)) uint32_t WalkPlainTables(const DecodeEntry* table, uint32_t tableBits, uint32_t bits) {
    const DecodeEntry* e = table + (bits & BitMask[tableBits]);
    uint32_t taken = 0;
    while (e->Op > OpSubTable) {
        if (e->Op == OpInvalid) return FastInvalid;
        taken += e->Bits;
        e = e->Next + ((bits >> taken) & BitMask[e->Op - OpSubTable]);
    }
    uint32_t entry = FastEntry(e->Op, e->Value, taken + e->Bits);
    return entry == FastLong ? FastInvalid : entry;
}

// Decodes symbols while the input buffer and the window leave room (see the
// top of the file). Returns SymbolDecoded when it stops for lack of room, else
// the block's result.
int32_t DecodeSymbolsFast(const BlockTables& t) {
    ExtractState& s = TheExtractState;
    const uint8_t* const buffer = s.InputBuffer;
    const uint8_t* in = buffer + s.InputPos;
    const uint8_t* const inLimit = buffer + (s.InputLast + 1 - FastInputBytes);
    FastWord bitBuffer = static_cast<FastWord>(s.BitBuffer);  // the plain path leaves at most 23 bits
    uint32_t bitCount = s.BitCount;
    uint8_t* const window = s.Window;
    uint32_t pos = s.WindowPos;
    constexpr uint32_t literalMask = (1u << FastLiteralBits) - 1;
    constexpr uint32_t distanceMask = (1u << FastDistanceBits) - 1;
    // Literals per refill: each takes at most FastLiteralBits, and the lookup
    // after the last still sees FastLiteralBits real bits (4 or 1).
    constexpr uint32_t literalsPerRefill = (RefillBits - FastLiteralBits) / FastLiteralBits;
    int32_t result = SymbolDecoded;

    // Afterwards at least RefillBits bits, all from this buffer (bitCount's
    // low three bits survive the OR; the bytes counted are the ones now whole).
    auto refill = [&] {
        bitBuffer |= LoadWord(in) << bitCount;
        in += (FastWordBits - 1 - bitCount) >> 3;
        bitCount |= RefillBits;
    };
    auto drop = [&](uint32_t bits) {
        bitBuffer >>= bits;
        bitCount -= bits;
    };
    // A length's or distance's base plus its extra bits, which follow the code.
    auto lengthOf = [&](uint32_t entry) {
        return (entry >> 16) + (LowBits(static_cast<uint32_t>(bitBuffer), entry & 0xFF) >> (entry >> 8 & 0xF));
    };
    auto fits = [&] { return in <= inLimit && pos <= FastWindowLimit; };

    refill();
    // The next symbol's entry, looked up with at least FastLiteralBits bits.
    uint32_t e = FastLiterals[bitBuffer & literalMask];
    for (;;) {
        if (e & FastLiteral) {
            drop(e & 0xFF);
            window[pos++] = static_cast<uint8_t>(e >> 16);
            e = FastLiterals[bitBuffer & literalMask];
            for (uint32_t k = 1; k < literalsPerRefill && (e & FastLiteral); ++k) {
                drop(e & 0xFF);
                window[pos++] = static_cast<uint8_t>(e >> 16);
                e = FastLiterals[bitBuffer & literalMask];
            }
            if (!fits()) break;
            refill();  // adds bits above the ones e was looked up with
            continue;
        }
        if (e & (FastLong | FastEnd)) {
            if (e & FastLong) {
                // Found through the plain tables, the entry may leave fewer
                // bits than a following lookup needs: it is finished here.
                e = WalkPlainTables(t.Literal, t.LiteralBits, static_cast<uint32_t>(bitBuffer));
                if (e & FastInvalid) return InflateCorrupt;
                if (e & FastLiteral) {
                    drop(e & 0xFF);
                    window[pos++] = static_cast<uint8_t>(e >> 16);
                    if (!fits()) break;
                    refill();
                    e = FastLiterals[bitBuffer & literalMask];
                    continue;
                }
            }
            if (e & FastEnd) {
                drop(e & 0xFF);
                result = InflateOk;
                break;
            }
        }
        // A length: its code and extra bits leave together.
        uint32_t length = lengthOf(e);
        drop(e & 0xFF);
        if constexpr (FastWordBits == 32) refill();
        uint32_t d = FastDistances[bitBuffer & distanceMask];
        if (d & FastLong) {
            d = WalkPlainTables(t.Distance, t.DistanceBits, static_cast<uint32_t>(bitBuffer));
            if (d & FastInvalid) return InflateCorrupt;
        }
        if (FastWordBits == 32 && (d & 0xFF) > bitCount) {
            // Up to 28 bits: the code first, then a refill for the extra bits.
            uint32_t codeBits = d >> 8 & 0xF;
            drop(codeBits);
            refill();
            d = (d & 0xFFFF0000u) | ((d & 0xFF) - codeBits);
        }
        uint32_t distance = lengthOf(d);
        drop(d & 0xFF);
        uint8_t* out = window + pos;
        pos += length;
        if (!fits()) {
            CopyMatchFast(out, distance, length);
            break;
        }
        // The next symbol's lookup goes ahead of the copy it does not depend on.
        refill();
        e = FastLiterals[bitBuffer & literalMask];
        CopyMatchFast(out, distance, length);
    }

    // Give back the whole bytes not used, as far as they came from this buffer.
    uint32_t back = bitCount >> 3;
    uint32_t taken = static_cast<uint32_t>(in - buffer);
    if (back > taken) back = taken;
    in -= back;
    bitCount -= back * 8;
    s.BitBuffer = bitBuffer & ((FastWord{1} << bitCount) - 1);
    s.BitCount = static_cast<uint8_t>(bitCount);
    s.InputPos = static_cast<int16_t>(in - buffer);
    s.WindowPos = static_cast<uint16_t>(pos);
    return result;
}

bool FastLoopFits() {
    const ExtractState& s = TheExtractState;
    return int32_t{s.InputPos} + FastInputBytes <= int32_t{s.InputLast} + 1 && s.WindowPos <= FastWindowLimit;
}

int32_t DecodeCompressedData(const BlockTables& t) {
    ExtractState& s = TheExtractState;
    for (;;) {
        if (s.CancelRequested) return InflateCancelled;
        if (s.InputExhausted) return InflateInputExhausted;
        int32_t r = t.Fast && FastLoopFits() ? DecodeSymbolsFast(t) : DecodeSymbolSlow(t);
        if (r != SymbolDecoded) return r;
    }
}

// Blocks -------------------------------------------------------------------

int32_t DecodeStoredBlock() {
    ExtractState& s = TheExtractState;
    DropBits(s.BitCount & 7);
    uint32_t length = TakeBits(16);
    EnsureBits(16);
    if (PeekBits(16) != (~length & 0xFFFF)) return InflateCorrupt;
    DropBits(16);
    while (length > 0 && !s.CancelRequested && !s.InputExhausted) {
        uint32_t run = 1;
        if (!s.SlowPathOnly && s.BitCount == 0 && s.InputPos <= s.InputLast) {
            // Straight from the buffer: byte for byte what the loop below does,
            // since no refill and no flush can fall inside the run.
            run = static_cast<uint32_t>(s.InputLast - s.InputPos + 1);
            if (run > length) run = length;
            if (run > WindowSize - s.WindowPos) run = WindowSize - s.WindowPos;
            std::memcpy(s.Window + s.WindowPos, s.InputBuffer + s.InputPos, run);
            s.InputPos = static_cast<int16_t>(s.InputPos + run);
        } else {
            EnsureBits(8);
            s.Window[s.WindowPos] = static_cast<uint8_t>(s.BitBuffer);
            DropBits(8);
        }
        length -= run;
        if (!AdvanceWindow(run)) return InflateWriteFailed;
    }
    if (s.CancelRequested) return InflateCancelled;
    if (s.InputExhausted) return InflateInputExhausted;
    return InflateOk;
}

int32_t DecodeFixedBlock() {
    uint16_t lengths[MaxLiteralCodes];
    for (uint32_t i = 0; i < 144; ++i) lengths[i] = 8;
    for (uint32_t i = 144; i < 256; ++i) lengths[i] = 9;
    for (uint32_t i = 256; i < 280; ++i) lengths[i] = 7;
    for (uint32_t i = 280; i < MaxLiteralCodes; ++i) lengths[i] = 8;
    BlockTables t;
    t.LiteralBits = FixedLiteralLookupBits;
    int32_t r = BuildDecodeTable(lengths, MaxLiteralCodes, 257, LengthBases, LengthExtras, &t.Literal, &t.LiteralBits);
    if (r != TableComplete) return r;
    const bool fast = !TheExtractState.SlowPathOnly;
    if (fast) BuildFastTable(lengths, MaxLiteralCodes, 257, LengthBases, LengthExtras, FastLiteralBits, FastLiterals);
    for (uint32_t i = 0; i < 30; ++i) lengths[i] = 5;
    t.DistanceBits = FixedDistanceLookupBits;
    r = BuildDecodeTable(lengths, 30, 0, DistanceBases, DistanceExtras, &t.Distance, &t.DistanceBits);
    if (r > TableIncomplete) return InflateCorrupt;  // 30 of 32 patterns used is fine
    if (fast) {
        BuildFastTable(lengths, 30, 0, DistanceBases, DistanceExtras, FastDistanceBits, FastDistances);
        t.Fast = true;
    }
    return DecodeCompressedData(t);
}

// Reads the literal/length and distance code lengths with the code length
// code. Returns InflateOk or the block's failure.
int32_t ReadCodeLengths(uint16_t* lengths, uint32_t total) {
    DecodeEntry* table = nullptr;
    uint32_t bits = CodeLengthLookupBits;
    int32_t r = BuildDecodeTable(lengths, CodeLengthCodes, CodeLengthCodes, nullptr, nullptr, &table, &bits);
    if (r != TableComplete) {
        ReleaseDecodeTables(table);
        return InflateCorrupt;
    }
    struct Release {
        DecodeEntry* t;
        ~Release() { ReleaseDecodeTables(t); }
    } release{table};

    uint32_t previous = 0;
    for (uint32_t i = 0; i < total;) {
        if (!table) return InflateCorrupt;  // a code length code without codes
        EnsureBits(bits);
        const DecodeEntry* e = table + PeekBits(bits);
        DropBits(e->Bits);
        if (e->Op == OpInvalid) return InflateCorrupt;  // the unused pattern of a one-code code
        uint32_t symbol = e->Value;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint16_t>(symbol);
            previous = symbol;
            continue;
        }
        uint32_t repeat;
        uint32_t value = 0;
        if (symbol == 16) {
            repeat = 3 + TakeBits(2);
            value = previous;
            if (i + repeat > total) return InflateBadHeader;
        } else if (symbol == 17) {
            repeat = 3 + TakeBits(3);
            if (i + repeat > total) return InflateBadHeader;
        } else {
            repeat = 11 + TakeBits(7);
            if (i + repeat > total) return InflateCorrupt;
        }
        while (repeat--) lengths[i++] = static_cast<uint16_t>(value);
        previous = value;
    }
    return InflateOk;
}

int32_t DecodeDynamicBlock() {
    uint32_t literalCount = 257 + TakeBits(5);
    uint32_t distanceCount = 1 + TakeBits(5);
    uint32_t lengthCodeCount = 4 + TakeBits(4);
    if (literalCount > MaxLiteralCodes || distanceCount > MaxDistanceCodes) return InflateBadHeader;

    uint16_t lengths[MaxLiteralCodes + MaxDistanceCodes] = {};
    for (uint32_t j = 0; j < lengthCodeCount; ++j) lengths[CodeLengthOrder[j]] = static_cast<uint16_t>(TakeBits(3));
    int32_t r = ReadCodeLengths(lengths, literalCount + distanceCount);
    if (r != InflateOk) return r;

    BlockTables t;
    t.LiteralBits = LiteralLookupBits;
    r = BuildDecodeTable(lengths, literalCount, 257, LengthBases, LengthExtras, &t.Literal, &t.LiteralBits);
    if (r != TableComplete) return InflateCorrupt;  // an incomplete literal/length code too
    t.DistanceBits = DistanceLookupBits;
    r = BuildDecodeTable(lengths + literalCount, distanceCount, 0, DistanceBases, DistanceExtras, &t.Distance,
                         &t.DistanceBits);
    if (r > TableIncomplete) return InflateCorrupt;
    if (!TheExtractState.SlowPathOnly && t.Literal && t.Distance) {
        BuildFastTable(lengths, literalCount, 257, LengthBases, LengthExtras, FastLiteralBits, FastLiterals);
        BuildFastTable(lengths + literalCount, distanceCount, 0, DistanceBases, DistanceExtras, FastDistanceBits,
                       FastDistances);
        t.Fast = true;
    }
    return DecodeCompressedData(t);
}

int32_t DecodeBlock(bool* last) {
    *last = TakeBits(1) != 0;
    switch (TakeBits(2)) {
        case BlockStored: return DecodeStoredBlock();
        case BlockFixed: return DecodeFixedBlock();
        case BlockDynamic: return DecodeDynamicBlock();
        default: return InflateCorrupt;
    }
}

}  // namespace

void EnsureBits(uint32_t n) {
    ExtractState& s = TheExtractState;
    while (s.BitCount < n) {
        if (s.InputPos > s.InputLast) RefillInput();
        s.BitBuffer |= uint64_t{s.InputBuffer[s.InputPos++]} << s.BitCount;
        s.BitCount = static_cast<uint8_t>(s.BitCount + 8);
    }
}

void DropBits(uint32_t n) {
    ExtractState& s = TheExtractState;
    s.BitBuffer >>= n;
    s.BitCount = static_cast<uint8_t>(s.BitCount - n);
}

int32_t InflateEntry() {
    ExtractState& s = TheExtractState;
    s.InputPos = 0;
    s.InputLast = -1;
    s.WindowPos = 0;
    s.BitBuffer = 0;
    s.BitCount = 0;
    bool last = false;
    do {
        int32_t r = DecodeBlock(&last);
        if (r != InflateOk) return r;
    } while (!last);
    return FlushWindow(s.WindowPos) ? InflateOk : InflateWriteFailed;
}

// The engine set up as for an entry, around a stream held in memory.
int32_t InflateFromMemory(MemoryInput* input, OutputSink* sink, int32_t compressedSize,
                          WindowHandle progressWindow, int16_t progressId) {
    ExtractState& s = TheExtractState;
    uint8_t* window = AllocateWindow();
    if (!window) return InflateInputExhausted;
    s.Window = window;
    s.Input = input;
    s.Output = sink;
    s.CompressedSize = compressedSize;
    s.CompressedRead = 0;
    s.CancelRequested = false;
    s.InputExhausted = false;
    s.ProgressWindow = progressWindow;
    s.ProgressId = progressId;
    s.LastPercent = 0;
    s.RunningCrc = 0xFFFFFFFFu;
    WindowHandle pumpWindow = PumpDialogWindow;
    PumpDialogWindow = progressWindow;
    int32_t result = InflateEntry();
    PumpDialogWindow = pumpWindow;
    s.Input = nullptr;
    s.Output = nullptr;
    s.Window = nullptr;
    ReleaseWindow(window);
    return result;
}
