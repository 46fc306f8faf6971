// The decoder's table builder against the canonical code itself (RFC 1951
// 3.2.2): arbitrary code lengths for a literal/length, distance or code
// length code, at any first-level width. The result must follow the code's
// Kraft sum (over-subscribed refused, incomplete reported, a single 1-bit
// code accepted), and every symbol's code, bit-reversed as it arrives, must
// lead through the tables to that symbol after exactly its length in bits,
// and no pattern of an incomplete code leads past the longest code.
//
// Input: kind (0 literal/length, 1 distance, 2 code length), requested
// first-level width, then one length per symbol (0xFF for 16, else 0-15 by
// the byte modulo 16).
#include <string>
#include <vector>

#include "launcher/inflate.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

using fuzz::Check;

struct Kind {
    uint32_t maxSymbols;
    uint32_t simple;  // symbols below are literal (256 ends a block)
    const uint16_t* bases;
    const uint8_t* extras;
};

const Kind Kinds[3] = {
    {288, 257, LengthBases, LengthExtras},
    {32, 0, DistanceBases, DistanceExtras},
    {19, 19, nullptr, nullptr},
};

uint32_t Reverse(uint32_t code, uint32_t length) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < length; ++i) r |= ((code >> i) & 1) << (length - 1 - i);
    return r;
}

// Follows `bits` (as they arrive, first bit lowest) through the tables; the
// entry reached and the bits it took in all.
const DecodeEntry* Walk(const DecodeEntry* table, uint32_t lookupBits, uint32_t bits, uint32_t* taken) {
    const DecodeEntry* e = table + (bits & ((1u << lookupBits) - 1));
    uint32_t consumed = 0;
    for (int depth = 0; e->Op > OpSubTable && e->Op != OpInvalid; ++depth) {
        Check(depth < 16, "sub-tables deeper than a code is long");
        Check(e->Next != nullptr, "a link without its sub-table");
        consumed += e->Bits;
        uint32_t width = e->Op - OpSubTable;
        Check(consumed + width <= 32, "sub-table reaches past any code");
        e = e->Next + ((bits >> consumed) & ((1u << width) - 1));
    }
    *taken = consumed + e->Bits;
    return e;
}

void CheckSymbol(const Kind& kind, uint32_t symbol, const DecodeEntry* e) {
    if (symbol < kind.simple) {
        uint8_t op = symbol == 256 ? OpEndOfBlock : OpLiteral;
        Check(e->Op == op && e->Value == symbol, "a simple symbol decodes otherwise", std::to_string(symbol));
        return;
    }
    uint8_t extra = kind.extras[symbol - kind.simple];
    Check(e->Op == extra, "a symbol gets other extra bits", std::to_string(symbol));
    if (extra != OpInvalid) Check(e->Value == kind.bases[symbol - kind.simple], "a symbol gets another base");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return -1;
    const Kind& kind = Kinds[data[0] % 3];
    uint32_t requested = 1 + data[1] % 16;
    uint32_t n = static_cast<uint32_t>(size - 2 < kind.maxSymbols ? size - 2 : kind.maxSymbols);
    if (kind.simple == 257 && n < 257) n = 257;  // a literal/length code always has 257 symbols at least
    std::vector<uint16_t> lengths(n, 0);
    // 0-15 as a stream can send them; 16, which only the builder accepts, from 0xFF.
    for (uint32_t i = 0; i < n && i + 2 < size; ++i) lengths[i] = data[i + 2] == 0xFF ? 16 : data[i + 2] % 16;

    // The canonical code (RFC 1951 3.2.2) and its Kraft sum in 1/65536ths.
    uint32_t count[17] = {};
    for (uint16_t l : lengths) count[l]++;
    count[0] = 0;
    uint64_t kraft = 0;
    uint32_t longest = 0, codes = 0;
    for (uint32_t l = 1; l <= 16; ++l) {
        kraft += uint64_t{count[l]} << (16 - l);
        codes += count[l];
        if (count[l]) longest = l;
    }
    uint32_t next[17] = {};
    for (uint32_t l = 1, code = 0; l <= 16; ++l) next[l] = code = (code + count[l - 1]) << 1;

    DecodeEntry* table = nullptr;
    uint32_t lookupBits = requested;
    int32_t r = BuildDecodeTable(lengths.data(), n, kind.simple, kind.bases, kind.extras, &table, &lookupBits);
    struct Release {
        DecodeEntry* t;
        ~Release() { ReleaseDecodeTables(t); }
    } release{table};

    if (codes == 0) {
        Check(r == TableComplete && table == nullptr && lookupBits == 0, "a code without codes builds something");
        return 0;
    }
    int32_t expected = kraft > 65536                       ? TableInvalid
                       : kraft == 65536 || longest == 1   ? TableComplete
                                                           : TableIncomplete;
    Check(r == expected, "build result against the Kraft sum",
          std::to_string(r) + " for " + std::to_string(kraft) + "/65536");
    if (r == TableInvalid) return 0;
    Check(table != nullptr, "a usable code without a table");
    Check(lookupBits >= 1 && lookupBits <= longest, "first-level width outside the code's lengths",
          std::to_string(lookupBits));

    // Every symbol's code leads to it, with any bits behind it.
    for (uint32_t symbol = 0; symbol < n; ++symbol) {
        uint32_t l = lengths[symbol];
        if (l == 0) continue;
        uint32_t arriving = Reverse(next[l]++, l);
        for (uint32_t tail : {0u, ~0u}) {
            uint32_t taken = 0;
            const DecodeEntry* e = Walk(table, lookupBits, arriving | (tail << l), &taken);
            Check(taken == l, "a code takes other than its length", std::to_string(symbol));
            CheckSymbol(kind, symbol, e);
        }
    }
    // Patterns of an incomplete code: an invalid entry or a code, never more.
    if (r == TableIncomplete || kraft < 65536) {
        for (uint32_t pattern = 0; pattern < (1u << longest) && pattern < 4096; ++pattern) {
            uint32_t taken = 0;
            const DecodeEntry* e = Walk(table, lookupBits, pattern, &taken);
            if (e->Op == OpInvalid) continue;
            Check(taken >= 1 && taken <= longest, "a pattern takes more bits than the longest code");
        }
    }
    return 0;
}
