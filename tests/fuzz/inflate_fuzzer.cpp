// Raw deflate bytes into the decoder, against zlib's raw inflate and against
// the decoder's own plain per-symbol path.
//
// Where zlib decodes the stream to its end, the decoder must give the same
// bytes and result 0. Where zlib refuses, the decoder must fail too, except
// for what it accepts by design:
//   - a distance reaching before the first output byte reads zeros: zlib
//     then decodes the same with 32 KB of zeros as its dictionary;
//   - header forms zlib refuses (287/288 literal and 31/32 distance codes,
//     an incomplete distance code, a code length code of one 1-bit code, a
//     repeat of the initial length 0): zlib's output up to its refusal must
//     be a prefix of the decoder's;
//   - a cut stream whose final end-of-block code is completed by re-offered
//     look-ahead bytes (the entry's CRC refuses that): the decoder must have
//     run out of input and give exactly what zlib gave.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

struct Outcome {
    int32_t result;
    std::string output;
    uint32_t crc;
    uint32_t reads;
    bool exhausted;
};

uint32_t Collect(void* context, const uint8_t* bytes, uint32_t count) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
    return count;
}

// limit: the entry's compressed size; the bytes behind it are read along as
// look-ahead only.
Outcome Decode(const uint8_t* data, size_t size, bool slowOnly, size_t limit) {
    ExtractState& s = TheExtractState;
    // What a refill past the end re-offers is the buffer's old content: make
    // it a function of the input so that every run repeats exactly.
    std::memset(s.InputBuffer, 0, InputBufferSize);
    for (size_t at = 0; size && at < InputBufferSize; at += size) {
        std::memcpy(s.InputBuffer + at, data, std::min<size_t>(size, InputBufferSize - at));
    }
    Outcome run{};
    MemoryInput input{data, static_cast<uint32_t>(size), 0, 0, 0};
    OutputSink sink{Collect, &run.output, slowOnly};  // the CRC once is enough
    s.SlowPathOnly = slowOnly;
    run.result = InflateFromMemory(&input, &sink, static_cast<int32_t>(limit), nullptr, 0);
    s.SlowPathOnly = false;
    run.crc = ~s.RunningCrc;
    run.reads = input.Reads;
    run.exhausted = s.InputExhausted;
    return run;
}

struct ZlibOutcome {
    int status;  // Z_STREAM_END, Z_DATA_ERROR, or Z_BUF_ERROR for a cut stream
    std::string output;
    std::string why;
};

ZlibOutcome ZlibInflate(const uint8_t* data, size_t size, bool zeroDictionary) {
    static const std::string zeros(WindowSize, '\0');
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) fuzz::Fail("inflateInit2");
    if (zeroDictionary) inflateSetDictionary(&z, reinterpret_cast<const Bytef*>(zeros.data()), WindowSize);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    ZlibOutcome out{};
    static char chunk[1 << 16];
    int r;
    do {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out.output.append(chunk, sizeof chunk - z.avail_out);
    } while (r == Z_OK);
    out.status = r;
    out.why = r == Z_STREAM_END ? "" : z.msg ? z.msg : "truncated";
    inflateEnd(&z);
    return out;
}

bool IsPrefix(const std::string& prefix, const std::string& whole) {
    return prefix.size() <= whole.size() && whole.compare(0, prefix.size(), prefix) == 0;
}

// zlib's reasons for refusing what the decoder accepts by design.
const std::set<std::string>& AcceptedHeaderForms() {
    static const std::set<std::string> reasons = {
        "too many length or distance symbols",
        "invalid distances set",
        "invalid code lengths set",
        "invalid bit length repeat",
    };
    return reasons;
}

void CheckAgainstZlib(const uint8_t* data, size_t size, const Outcome& ours) {
    ZlibOutcome z = ZlibInflate(data, size, false);
    if (std::getenv("CE_FUZZ_VERBOSE")) {
        std::fprintf(stderr, "decoder: result %d, %zu bytes%s; zlib: %zu bytes, %s\n", ours.result, ours.output.size(),
                     ours.exhausted ? ", out of input" : "", z.output.size(), z.why.empty() ? "end" : z.why.c_str());
    }
    if (z.why == "invalid distance too far back") {
        // The decoder reads zeros there; so does zlib with a zero dictionary.
        ZlibOutcome again = ZlibInflate(data, size, true);
        fuzz::Check(IsPrefix(z.output, again.output), "zlib with a dictionary disagrees with itself");
        z = again;
    }
    if (z.status == Z_STREAM_END) {
        fuzz::Check(ours.result == InflateOk, "zlib decodes the stream, the decoder refuses",
                    "result " + std::to_string(ours.result));
        fuzz::Check(ours.output == z.output, "output differs from zlib's",
                    std::to_string(ours.output.size()) + " bytes, zlib " + std::to_string(z.output.size()));
        return;
    }
    if (ours.result != InflateOk) return;
    if (z.status == Z_BUF_ERROR) {
        fuzz::Check(ours.exhausted, "a cut stream decoded without running out of input");
        fuzz::Check(ours.output == z.output, "a cut stream gives more or other bytes than zlib's");
        return;
    }
    fuzz::Check(AcceptedHeaderForms().count(z.why) != 0, "accepted what zlib refuses", z.why);
    fuzz::Check(IsPrefix(z.output, ours.output), "output before zlib's refusal differs", z.why);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return -1;
    Outcome fast = Decode(data, size, false, size);
    Outcome slow = Decode(data, size, true, size);
    // The fast loop is the plain path's equal in everything it does.
    fuzz::Check(fast.result == slow.result, "fast and plain paths give different results",
                std::to_string(fast.result) + " vs " + std::to_string(slow.result));
    fuzz::Check(fast.output == slow.output, "fast and plain paths give different bytes");
    fuzz::Check(fast.reads == slow.reads && fast.exhausted == slow.exhausted,
                "fast and plain paths read differently");
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(fast.output.data()), static_cast<uInt>(fast.output.size())));
    // On failure the window's last part is not flushed, so only success is exact.
    if (fast.result == InflateOk) fuzz::Check(fast.crc == crc, "running CRC differs from the output's");
    CheckAgainstZlib(data, size, fast);
    // An entry size short of the stream: what still decodes without running
    // out of input is what decodes with all of it.
    if (size > 0) {
        size_t limit = size - 1 - data[size - 1] % std::min<size_t>(size, 64);
        Outcome cut = Decode(data, size, false, limit);
        if (cut.result == InflateOk && !cut.exhausted) {
            fuzz::Check(fast.result == InflateOk && cut.output == fast.output, "a shorter entry size decodes otherwise");
        }
    }
    return 0;
}
