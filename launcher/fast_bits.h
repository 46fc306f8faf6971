// The bit reader of the decoder's fast paths: a machine word refilled
// several bytes at a time from the input buffer, never past its end, and
// handed back to ExtractState's byte-wise reader afterwards.
#pragma once

#include <cstdint>
#include <cstring>

#include "launcher/extract_state.h"

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

__attribute__((always_inline)) inline FastWord LoadWord(const uint8_t* p) {
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

// The low n bits of v, n below 32.
__attribute__((always_inline)) inline uint32_t LowBits(uint32_t v, uint32_t n) { return v & ((1u << n) - 1); }

// Leaves the bit reader as the plain path would have it: the whole bytes not
// used go back to the buffer, as far as they came from it.
__attribute__((always_inline)) inline void GiveBack(const uint8_t* in, FastWord bitBuffer, uint32_t bitCount) {
    ExtractState& s = TheExtractState;
    bitCount &= 0xFF;
    uint32_t back = bitCount >> 3;
    uint32_t taken = static_cast<uint32_t>(in - s.InputBuffer);
    if (back > taken) back = taken;
    in -= back;
    bitCount -= back * 8;
    s.BitBuffer = bitBuffer & ((FastWord{1} << bitCount) - 1);
    s.BitCount = static_cast<uint8_t>(bitCount);
    s.InputPos = static_cast<int16_t>(in - s.InputBuffer);
}

// Afterwards at least RefillBits bits, all from the buffer (bitCount's low
// three bits survive the OR; the bytes counted are the ones now whole).
// Only bitCount's low byte counts: the fast loop subtracts whole table
// entries from it, which saves it an instruction per symbol.
__attribute__((always_inline)) inline void Refill(const uint8_t*& in, FastWord& bitBuffer, uint32_t& bitCount) {
    bitBuffer |= LoadWord(in) << (bitCount & (FastWordBits - 1));
    in += sizeof(FastWord) - 1 - (bitCount >> 3 & (sizeof(FastWord) - 1));
    bitCount |= RefillBits;
}

// True while the input buffer has room for the fast paths' next symbol.
inline bool FastInputFits() {
    const ExtractState& s = TheExtractState;
    return int32_t{s.InputPos} + FastInputBytes <= int32_t{s.InputLast} + 1;
}
