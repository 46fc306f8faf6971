// Test helpers for the decoder: zlib as the encoder and oracle, a bit writer
// for streams zlib would never make, and a runner that records everything
// the decoder does that a user could see.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "support/platform.h"

namespace inflatetest {

// Raw deflate (no header) of data by zlib.
inline std::string ZlibDeflate(const std::string& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                               int memLevel = 8) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK) return {};
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::string();
}

struct ZlibResult {
    bool ok = false;         // reached the end of the stream
    std::string output;
    std::string message;     // zlib's reason when it refused
};

inline ZlibResult ZlibInflate(const std::string& stream) {
    ZlibResult result;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return result;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    char chunk[65536];
    int r;
    do {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        result.output.append(chunk, sizeof chunk - z.avail_out);
    } while (r == Z_OK);
    result.ok = r == Z_STREAM_END;
    if (z.msg) result.message = z.msg;
    else if (!result.ok) result.message = "truncated";
    inflateEnd(&z);
    return result;
}

// LSB-first bit writer with Huffman codes written most significant bit first.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) PutBit((value >> i) & 1);
    }
    void PutCode(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) PutBit((code >> i) & 1);
    }
    void Align() {
        while (count_ != 0) PutBit(0);
    }
    void PutBytes(const std::string& bytes) {
        Align();
        out_ += bytes;
    }
    std::string Finish() {
        Align();
        return out_;
    }

private:
    void PutBit(uint32_t bit) {
        acc_ |= bit << count_;
        if (++count_ == 8) {
            out_.push_back(static_cast<char>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
    std::string out_;
    uint32_t acc_ = 0;
    int count_ = 0;
};

// Canonical codes of RFC 1951 3.2.2 for a list of lengths.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    int counts[17] = {};
    for (int l : lengths) counts[l]++;
    counts[0] = 0;
    uint32_t next[17] = {};
    uint32_t code = 0;
    for (int bits = 1; bits <= 16; ++bits) {
        code = (code + counts[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    }
    return codes;
}

struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& w, int symbol) const { w.PutCode(codes[symbol], lengths[symbol]); }
};

inline Code FixedLiteralCode() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return Code(l);
}
inline Code FixedDistanceCode() { return Code(std::vector<int>(30, 5)); }

// Length and distance to symbol plus extra bits.
inline void PutLength(BitWriter& w, const Code& literal, int length) {
    int symbol = 28;
    while (symbol > 0 && (LengthBases[symbol] > length || LengthBases[symbol] == 0)) --symbol;
    if (length == 258) symbol = 28;
    literal.Put(w, 257 + symbol);
    w.Put(static_cast<uint32_t>(length - LengthBases[symbol]), LengthExtras[symbol]);
}
inline void PutDistance(BitWriter& w, const Code& distance, int value) {
    int symbol = 29;
    while (DistanceBases[symbol] > value) --symbol;
    distance.Put(w, symbol);
    w.Put(static_cast<uint32_t>(value - DistanceBases[symbol]), DistanceExtras[symbol]);
}

// A dynamic block header that sends every length as itself with a 4-bit
// code length code (symbols 0-15, all of length 4).
inline void PutDynamicHeader(BitWriter& w, bool last, const std::vector<int>& literal,
                             const std::vector<int>& distance) {
    w.Put(last ? 1 : 0, 1);
    w.Put(2, 2);
    w.Put(static_cast<uint32_t>(literal.size() - 257), 5);
    w.Put(static_cast<uint32_t>(distance.size() - 1), 5);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.Put(19 - 4, 4);
    std::vector<int> clLengths(19, 0);
    for (int i = 0; i < 16; ++i) clLengths[i] = 4;
    for (int j = 0; j < 19; ++j) w.Put(static_cast<uint32_t>(clLengths[order[j]]), 3);
    Code cl(clLengths);
    for (int l : literal) cl.Put(w, l);
    for (int l : distance) cl.Put(w, l);
}

// Everything observable about one decode.
struct DecodeRun {
    int32_t result = -1;
    std::string output;
    std::vector<uint32_t> flushes;  // sizes, in order
    // The whole sequence: "p<reads>" pump, "%<n>" progress, "w<size>@<reads>" flush.
    std::vector<std::string> events;
    uint32_t reads = 0;
    int pumps = 0;
    uint32_t crc = 0;
    int beeps = 0;
};

struct RecordingSink : HostProgressSink {
    DecodeRun* run = nullptr;
    MemoryInput* input = nullptr;
    int cancelAtPump = -1;      // RequestCancel at this pump (0-based)
    int cancelAtProgress = -1;  // or when this percent is reported
    int pumps = 0;
    void OnPump() override {
        run->events.push_back("p" + std::to_string(input->Reads));
        if (pumps++ == cancelAtPump) RequestCancel();
    }
    void OnProgress(int16_t, int32_t percent) override {
        run->events.push_back("%" + std::to_string(percent));
        if (percent == cancelAtProgress) RequestCancel();
    }
};

struct DecodeOptions {
    bool slowOnly = false;
    int32_t compressedSize = -1;  // -1: the stream's length
    uint32_t inputSize = UINT32_MAX;  // bytes available to read (cut the input)
    int cancelAtPump = -1;
    int cancelAtProgress = -1;
    uint32_t failWriteAt = 0;     // 1-based flush that stores nothing
    uint32_t failRead = 0;
};

struct SinkState {
    DecodeRun* run;
    MemoryInput* input;
    uint32_t failWriteAt;
    uint32_t writes = 0;
};

inline uint32_t RecordWrite(void* context, const uint8_t* bytes, uint32_t count) {
    auto* st = static_cast<SinkState*>(context);
    ++st->writes;
    st->run->flushes.push_back(count);
    st->run->events.push_back("w" + std::to_string(count) + "@" + std::to_string(st->input->Reads));
    if (st->writes == st->failWriteAt) return 0;
    st->run->output.append(reinterpret_cast<const char*>(bytes), count);
    return count;
}

inline DecodeRun Decode(const std::string& stream, const DecodeOptions& o = {}) {
    DecodeRun run;
    MemoryInput input{reinterpret_cast<const uint8_t*>(stream.data()),
                      static_cast<uint32_t>(o.inputSize < stream.size() ? o.inputSize : stream.size()), 0, 0,
                      o.failRead};
    SinkState state{&run, &input, o.failWriteAt};
    OutputSink sink{RecordWrite, &state, false};
    RecordingSink progress;
    progress.run = &run;
    progress.input = &input;
    progress.cancelAtPump = o.cancelAtPump;
    progress.cancelAtProgress = o.cancelAtProgress;
    int pumpsBefore = TheHostUi.pumps;
    int beepsBefore = TheHostUi.beeps;
    TheExtractState.SlowPathOnly = o.slowOnly;
    int32_t size = o.compressedSize >= 0 ? o.compressedSize : static_cast<int32_t>(stream.size());
    run.result = InflateFromMemory(&input, &sink, size, &progress, 120);
    TheExtractState.SlowPathOnly = false;
    run.reads = input.Reads;
    run.pumps = TheHostUi.pumps - pumpsBefore;
    run.beeps = TheHostUi.beeps - beepsBefore;
    run.crc = ~TheExtractState.RunningCrc;
    return run;
}

}  // namespace inflatetest
