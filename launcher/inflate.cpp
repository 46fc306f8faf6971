// Deflate decoder (RFC 1951) over TheExtractState.
//
// Two paths decode the same symbols. The slow path is the plain algorithm:
// EnsureBits asks for exactly the bits each step needs, and takes input bytes
// one at a time, refilling the 2048-byte buffer (with a pump and a progress
// report) the moment a step needs a byte that isn't there. Because those
// moments are visible to the user (progress, cancel), every observable event
// follows from the sequence of bit requests alone: refill k happens at the
// first request that reaches into byte 2048k of the input. The fast loop
// (inflate_fast.cpp) decodes the same symbols with the same requests.
#include <cstring>

#include "launcher/extract_state.h"
#include "launcher/fast_bits.h"
#include "launcher/inflate.h"
#include "launcher/inflate_fast.h"
#include "support/platform.h"

namespace {

constexpr uint32_t MaxLiteralCodes = 288;
constexpr uint32_t MaxDistanceCodes = 32;
constexpr uint32_t CodeLengthCodes = 19;
constexpr uint32_t CodeLengthLookupBits = 7;
constexpr uint32_t FixedLiteralLookupBits = 7;
constexpr uint32_t FixedDistanceLookupBits = 5;

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
    s.HistoryReady = true;
    return true;
}

// Copies a match in runs that stop where the window fills: as one block
// where source and destination are apart, else byte by byte in ascending
// order, which repeats bytes when the copy overlaps itself.
bool CopyMatchSlow(uint32_t length, uint32_t distance) {
    ExtractState& s = TheExtractState;
    if (distance > s.WindowPos && !s.HistoryReady) ZeroHistory();
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

int32_t DecodeCompressedData(const BlockTables& t) {
    ExtractState& s = TheExtractState;
    for (;;) {
        if (s.CancelRequested) return InflateCancelled;
        if (s.InputExhausted) return InflateInputExhausted;
        // The fast loop stops at a symbol it leaves to the plain path (near
        // the end of the input buffer or of the window), which takes it next:
        // no read or pump came between, so no check either.
        int32_t r = t.Fast && FastLoopFits() ? DecodeSymbolsFast(t) : SymbolDecoded;
        if (r == SymbolDecoded) r = DecodeSymbolSlow(t);
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
    uint16_t distanceLengths[30];
    for (uint32_t i = 0; i < 30; ++i) distanceLengths[i] = 5;
    t.DistanceBits = FixedDistanceLookupBits;
    r = BuildDecodeTable(distanceLengths, 30, 0, DistanceBases, DistanceExtras, &t.Distance, &t.DistanceBits);
    if (r > TableIncomplete) return InflateCorrupt;  // 30 of 32 patterns used is fine
    if (!TheExtractState.SlowPathOnly) BuildFastTables(&t, lengths, MaxLiteralCodes, distanceLengths, 30);
    return DecodeCompressedData(t);
}

// A repeat symbol of the code length code (16-18) takes this many extra bits.
inline uint32_t RepeatExtraBits(uint32_t symbol) { return symbol == 16 ? 2 : symbol == 17 ? 3 : 7; }

// Stores a repeat symbol's copies at lengths[*i..] (16: 3-6 of the previous
// length, 17: 3-10 zeros, 18: 11-138 zeros), extra: its extra bits' value.
// InflateOk, or the block's failure when the copies run past total.
inline int32_t StoreRepeat(uint32_t symbol, uint32_t extra, uint16_t* lengths, uint32_t* i, uint32_t total,
                           uint32_t* previous) {
    uint32_t repeat = (symbol == 18 ? 11 : 3) + extra;
    if (*i + repeat > total) return symbol == 18 ? InflateCorrupt : InflateBadHeader;
    uint32_t value = symbol == 16 ? *previous : 0;
    while (repeat--) lengths[(*i)++] = static_cast<uint16_t>(value);
    *previous = value;
    return InflateOk;
}

// 64-bit builds only: in the 32-bit programs its 500 bytes would buy about
// 1.5% on the mixed benchmark corpus (measured on the host), too little for
// a download kept within 32 KB.
#if UINTPTR_MAX > 0xFFFFFFFFu
#define CE_FAST_CODE_LENGTHS 1
// Reads code length symbols into lengths[*next..total) with a word-sized
// bit buffer while FastInputFits, with the plain reader's results; *next and
// *previous (the last length) carry on from where it stops. A symbol takes
// at most 7 + 7 bits, so the room a literal/length symbol needs keeps every
// request of the plain reader inside the buffer, as in the fast loop.
int32_t ReadCodeLengthsFast(const DecodeEntry* table, uint32_t tableBits, uint16_t* lengths, uint32_t total,
                            uint32_t* next, uint32_t* previous) {
    ExtractState& s = TheExtractState;
    const uint8_t* in = s.InputBuffer + s.InputPos;
    const uint8_t* const inLimit = s.InputBuffer + (s.InputLast + 1 - FastInputBytes);
    FastWord bitBuffer = static_cast<FastWord>(s.BitBuffer);
    uint32_t bitCount = s.BitCount;
    uint32_t i = *next;
    uint32_t last = *previous;
    int32_t result = InflateOk;
    while (i < total && in <= inLimit) {
        Refill(in, bitBuffer, bitCount);
        const DecodeEntry* e = table + LowBits(static_cast<uint32_t>(bitBuffer), tableBits);
        if (e->Op == OpInvalid) return InflateCorrupt;  // the unused pattern of a one-code code
        bitBuffer >>= e->Bits;
        bitCount -= e->Bits;
        uint32_t symbol = e->Value;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint16_t>(symbol);
            last = symbol;
            continue;
        }
        uint32_t extraBits = RepeatExtraBits(symbol);
        uint32_t extra = LowBits(static_cast<uint32_t>(bitBuffer), extraBits);
        bitBuffer >>= extraBits;
        bitCount -= extraBits;
        result = StoreRepeat(symbol, extra, lengths, &i, total, &last);
        if (result != InflateOk) break;
    }
    GiveBack(in, bitBuffer, bitCount);
    *next = i;
    *previous = last;
    return result;
}
#endif

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
#ifdef CE_FAST_CODE_LENGTHS
        if (!TheExtractState.SlowPathOnly && FastInputFits()) {
            r = ReadCodeLengthsFast(table, bits, lengths, total, &i, &previous);
            if (r != InflateOk) return r;
            continue;
        }
#endif
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
        r = StoreRepeat(symbol, TakeBits(RepeatExtraBits(symbol)), lengths, &i, total, &previous);
        if (r != InflateOk) return r;
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
        BuildFastTables(&t, lengths, literalCount, lengths + literalCount, distanceCount);
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
