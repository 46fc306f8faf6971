// Deflate decoder's fast loop over TheExtractState (see inflate.cpp for
// the plain algorithm and why its bit requests decide every observable event).
//
// The fast loop keeps that sequence intact without walking it. It decodes a
// symbol only when the bits it holds, taken from the current buffer, cover any
// whole symbol (at most 15+5 bits of length and 15+13 of distance, 48 bits),
// so no request the slow path would make could reach the next buffer; and
// only while the output stays short of the window's end, so that no flush
// falls inside it. Bytes it pulls early never cross the buffer's end, so the
// next refill still happens at the same request. On leaving, it gives whole
// unread bytes back to the buffer, and the plain path takes the next symbol.
//
// Its bit buffer is a machine word: on a 64-bit processor one refill holds a
// whole symbol, on a 32-bit one a symbol takes up to three refills, which is
// still cheaper there than carrying 64 bits in two registers.
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "launcher/extract_state.h"
#include "launcher/fast_bits.h"
#include "launcher/inflate_fast.h"

namespace {

// Literals per refill: each takes at most FastLiteralBits, and the lookup
// after the last still sees FastLiteralBits real bits (4 or 1).
constexpr uint32_t LiteralsPerRefill = (RefillBits - FastLiteralBits) / FastLiteralBits;
// The fast loop's window limit: the output stays short of the window's end, so
// that the symbol which fills it, and with it the flush, is the plain path's.
// A match that would reach the end is left undecoded to it; literals come in
// groups, checked before each.
constexpr uint32_t FastWindowLimit = WindowSize - 1 - LiteralsPerRefill;
static_assert(WindowSlack >= 40, "copies run up to 39 bytes over");
// Copies a match that ends inside the window, in eight-byte steps. It may
// write up to 39 bytes past the match's end (into bytes
// not produced yet, or the slack), which later output overwrites.
inline void CopyMatchFast(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        // Eight-byte steps never read what they write (the source ends where
        // the step starts). The first five go unconditionally: most matches
        // are that short, and the branch that remains is nearly always right.
        std::memcpy(out, from, 8);
        std::memcpy(out + 8, from + 8, 8);
        std::memcpy(out + 16, from + 16, 8);
        std::memcpy(out + 24, from + 24, 8);
        std::memcpy(out + 32, from + 32, 8);
        out += 40;
        from += 40;
        while (out < end) {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
        }
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

// A FastLong pattern: the code through the plain tables. Returns its fast
// entry as if the fast table had held it (code bits counted from the
// symbol's start), or FastInvalid. bits: at least the longest code's.
__attribute__((noinline)) uint32_t WalkPlainTables(const DecodeEntry* table, uint32_t tableBits, uint32_t bits) {
    const DecodeEntry* e = table + LowBits(bits, tableBits);
    uint32_t taken = 0;
    while (e->Op > OpSubTable) {
        if (e->Op == OpInvalid) return FastInvalid;
        taken += e->Bits;
        e = e->Next + LowBits(bits >> taken, e->Op - OpSubTable);
    }
    uint32_t entry = FastEntry(e->Op, e->Value, taken + e->Bits);
    return entry == FastLong ? FastInvalid : entry;
}

// The loop, compiled twice on x86 (see DecodeSymbolsFast).
__attribute__((always_inline)) inline int32_t DecodeFast(const BlockTables& t) {
    ExtractState& s = TheExtractState;
    const uint8_t* const buffer = s.InputBuffer;
    const uint8_t* in = buffer + s.InputPos;
    const uint8_t* const inLimit = buffer + (s.InputLast + 1 - FastInputBytes);
    FastWord bitBuffer = static_cast<FastWord>(s.BitBuffer);  // the plain path leaves at most 23 bits
    uint32_t bitCount = s.BitCount;
    uint8_t* const window = s.Window;
    uint8_t* out = window + s.WindowPos;
    uint8_t* const outLimit = window + FastWindowLimit;
    // A match from below this address reads history not yet zeroed.
    uintptr_t unready = s.HistoryReady ? 0 : reinterpret_cast<uintptr_t>(window);
    constexpr uint32_t literalMask = (1u << FastLiteralBits) - 1;
    constexpr uint32_t distanceMask = (1u << FastDistanceBits) - 1;
    int32_t result = SymbolDecoded;

    auto refill = [&] { Refill(in, bitBuffer, bitCount); };
    // bits: an entry (its low byte the count) or a count; the shift takes
    // only the bits a count below the word's width has.
    auto drop = [&](uint32_t bits) {
        bitBuffer >>= bits & (FastWordBits - 1);
        bitCount -= bits;
    };
    // A length's or distance's base plus its extra bits, which follow the
    // code. Such an entry has no flags, so the code's length may be taken with
    // bit 12 (0x1F is the mask a 32-bit shift applies anyway).
    auto lengthOf = [&](uint32_t entry) {
        return (entry >> 16) + (LowBits(static_cast<uint32_t>(bitBuffer), entry & 0xFF) >> (entry >> 8 & 0x1F));
    };
    // Room for the next symbol and its bits; false to stop. Near the input
    // buffer's end a 64-bit word still takes the last bytes one at a time
    // while they make up RefillBits, which leaves the plain path at most
    // seven bytes instead of fifteen.
    auto more = [&] {
        if (out > outLimit) return false;
        if (in <= inLimit) {
            refill();
            return true;
        }
        if constexpr (FastWordBits == 32) return false;
        const uint8_t* const inEnd = inLimit + FastInputBytes;
        bitCount &= 0xFF;
        while (bitCount < RefillBits && in < inEnd) {
            bitBuffer |= FastWord{*in++} << bitCount;  // its bits below any still held are those
            bitCount += 8;
        }
        return bitCount >= RefillBits;
    };

    refill();
    // The next symbol's entry, looked up with at least FastLiteralBits bits.
    uint32_t e = FastLiterals[bitBuffer & literalMask];
    for (;;) {
        if (e & FastLiteral) {
            drop(e);
            *out++ = static_cast<uint8_t>(e >> 16);
            e = FastLiterals[bitBuffer & literalMask];
            for (uint32_t k = 1; k < LiteralsPerRefill && (e & FastLiteral); ++k) {
                drop(e);
                *out++ = static_cast<uint8_t>(e >> 16);
                e = FastLiterals[bitBuffer & literalMask];
            }
            if (!more()) break;  // adds bits above the ones e was looked up with
            continue;
        }
        if (e & (FastLong | FastEnd)) {
            if (e & FastLong) {
                // Found through the plain tables, the entry may leave fewer
                // bits than a following lookup needs: it is finished here.
                e = WalkPlainTables(t.Literal, t.LiteralBits, static_cast<uint32_t>(bitBuffer));
                if (e & FastInvalid) return InflateCorrupt;
                if (e & FastLiteral) {
                    drop(e);
                    *out++ = static_cast<uint8_t>(e >> 16);
                    if (!more()) break;
                    e = FastLiterals[bitBuffer & literalMask];
                    continue;
                }
            }
            if (e & FastEnd) {
                drop(e);
                result = InflateOk;
                break;
            }
        }
        // A length: its code and extra bits leave together, unless the match
        // would reach the window's end (the plain path takes it from here).
        uint32_t length = lengthOf(e);
        if (out + length > outLimit + LiteralsPerRefill) break;
        drop(e);
        if constexpr (FastWordBits == 32) refill();
        uint32_t d = FastDistances[bitBuffer & distanceMask];
        if (d & FastLong) {
            d = WalkPlainTables(t.Distance, t.DistanceBits, static_cast<uint32_t>(bitBuffer));
            if (d & FastInvalid) return InflateCorrupt;
        }
        if (FastWordBits == 32 && (d & 0xFF) > (bitCount & 0xFF)) {
            // Up to 28 bits: the code first, then a refill for the extra bits.
            uint32_t codeBits = d >> 8 & 0xF;
            drop(codeBits);
            refill();
            d = (d & 0xFFFF0000u) | ((d & 0xFF) - codeBits);
        }
        uint32_t distance = lengthOf(d);
        drop(d);
        if (reinterpret_cast<uintptr_t>(out - distance) < unready) {
            ZeroHistory();
            unready = 0;
        }
        uint8_t* const match = out;
        out += length;
        if (!more()) {
            CopyMatchFast(match, distance, length);
            break;
        }
        // The next symbol's lookup goes ahead of the copy it does not depend on.
        e = FastLiterals[bitBuffer & literalMask];
        CopyMatchFast(match, distance, length);
    }

    GiveBack(in, bitBuffer, bitCount);
    s.WindowPos = static_cast<uint16_t>(out - window);
    return result;
}

#if defined(__x86_64__)
// With BMI2 the variable shifts and masks of the loop take one instruction
// each and no count register. Not in the 32-bit programs: the second copy of
// the loop would cost them 1.5 KB of a download that is kept small.
__attribute__((target("bmi2"))) int32_t DecodeFastBmi2(const BlockTables& t) { return DecodeFast(t); }

enum : int8_t { CpuUnknown = -1, CpuPlain = 0, CpuBmi2 = 1 };
int8_t CpuLevel = CpuUnknown;

int8_t DetectCpuLevel() {
    unsigned a, b, c, d;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_BMI2) ? CpuBmi2 : CpuPlain;
}
#endif

}  // namespace

bool FastLoopFits() { return FastInputFits() && TheExtractState.WindowPos <= FastWindowLimit; }

bool FastLoopMayUseBmi2 = true;

int32_t DecodeSymbolsFast(const BlockTables& t) {
#if defined(__x86_64__)
    if (CpuLevel == CpuUnknown) CpuLevel = DetectCpuLevel();
    if (CpuLevel == CpuBmi2 && FastLoopMayUseBmi2) return DecodeFastBmi2(t);
#endif
    return DecodeFast(t);
}
