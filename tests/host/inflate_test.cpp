// The decoder against zlib (encoder and oracle), and its fast loop against the
// plain per-symbol path (SlowPathOnly): same output and result, and the same
// reads, pumps, progress reports and flushes in the same order.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "launcher/inflate_fast.h"
#include "tests/common/test_util.h"

namespace {

std::string Deflate(const std::string& data, int level, int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// zlib's raw inflate: the output, and "" or zlib's reason for refusing.
std::pair<std::string, std::string> ZlibInflate(const std::string& stream) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    std::string out;
    char chunk[65536];
    int r;
    do {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
    } while (r == Z_OK);
    std::string why = r == Z_STREAM_END ? "" : z.msg ? z.msg : "truncated";
    inflateEnd(&z);
    return {out, why};
}

// Deflate bits, least significant first; Huffman codes most significant first.
struct BitWriter {
    std::string out;
    uint32_t acc = 0, count = 0;
    BitWriter& Put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) Bit((value >> i) & 1);
        return *this;
    }
    void Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    }
    void Bit(uint32_t b) {
        acc |= b << count;
        if (++count == 8) out.push_back(static_cast<char>(acc)), acc = count = 0;
    }
    std::string Bytes() {
        while (count) Bit(0);
        return out;
    }
};

// A canonical Huffman code (RFC 1951 3.2.2) by its lengths.
struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(std::move(l)), codes(lengths.size()) {
        uint32_t next[17] = {}, code = 0;
        int count[17] = {};
        for (int n : lengths) count[n]++;
        for (int bits = 1; bits <= 16; ++bits) next[bits] = code = (code + (bits > 1 ? count[bits - 1] : 0)) << 1;
        for (size_t i = 0; i < lengths.size(); ++i) codes[i] = lengths[i] ? next[lengths[i]]++ : 0;
    }
    void Put(BitWriter& w, int symbol) const { w.Code(codes[symbol], lengths[symbol]); }
};

const Code& FixedLiterals() {
    static const Code code([] {
        std::vector<int> l(288);
        for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        return l;
    }());
    return code;
}
const Code& FixedDistances() {
    static const Code code(std::vector<int>(30, 5));
    return code;
}

// A match: length and distance symbols with their extra bits.
void PutMatch(BitWriter& w, const Code& lit, const Code& dist, int length, int distance) {
    int l = length == 258 ? 28 : 27;
    while (LengthBases[l] > length) --l;
    lit.Put(w, 257 + l);
    w.Put(length - LengthBases[l], LengthExtras[l]);
    int d = 29;
    while (DistanceBases[d] > distance) --d;
    dist.Put(w, d);
    w.Put(distance - DistanceBases[d], DistanceExtras[d]);
}

// A final dynamic block header sending every length as itself, with a code
// length code of sixteen 4-bit codes for 0-15.
void PutDynamicHeader(BitWriter& w, const std::vector<int>& lit, const std::vector<int>& dist) {
    w.Put(1, 1).Put(2, 2).Put(static_cast<uint32_t>(lit.size() - 257), 5).Put(static_cast<uint32_t>(dist.size() - 1), 5);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.Put(15, 4);
    for (int j = 0; j < 19; ++j) w.Put(order[j] < 16 ? 4 : 0, 3);
    Code cl(std::vector<int>(16, 4));
    for (int l : lit) cl.Put(w, l);
    for (int l : dist) cl.Put(w, l);
}

// A complete literal/length code of n symbols: literals take half of the
// 9-bit patterns, the others a balanced half.
std::vector<int> LiteralLengths(int n) {
    std::vector<int> l(n, 9);
    int k = n - 256, depth = 0;
    while ((2 << depth) <= k) ++depth;
    for (int i = 0; i < k; ++i) l[256 + i] = 1 + depth + (i < 2 * (k - (1 << depth)) ? 1 : 0);
    return l;
}

// "p12", "%50", "w32768": one event of a decode. (Built with += because
// GCC 12 warns falsely on "p" + std::to_string(n).)
std::string Event(char kind, int64_t value) {
    std::string e(1, kind);
    e += std::to_string(value);
    return e;
}

// Everything a user could observe of one decode, in order.
struct Outcome {
    int32_t result = -1;
    std::string output;
    std::vector<std::string> events;  // "p<reads>" pump, "%<n>" progress, "w<size>@<reads>" flush
    uint32_t reads = 0;
    int beeps = 0;
    uint32_t crc = 0;
};

struct Options {
    bool slowOnly = false;
    int32_t size = -1;               // entry size; -1: the stream's
    uint32_t available = UINT32_MAX;  // bytes in the "file"
    int cancelAtPump = -1;           // 0-based
    uint32_t failWrite = 0, failRead = 0;  // 1-based
};

struct Recorder : HostProgressSink {
    Outcome* run;
    MemoryInput* input;
    const Options* o;
    int pumps = 0;
    uint32_t writes = 0;
    void OnPump() override {
        run->events.push_back(Event('p', input->Reads));
        if (pumps++ == o->cancelAtPump) RequestCancel();
    }
    void OnProgress(int16_t, int32_t percent) override { run->events.push_back(Event('%', percent)); }
    static uint32_t Write(void* context, const uint8_t* bytes, uint32_t count) {
        auto* r = static_cast<Recorder*>(context);
        std::string e = Event('w', count);
        e += Event('@', r->input->Reads);
        r->run->events.push_back(e);
        if (++r->writes == r->o->failWrite) return 0;
        r->run->output.append(reinterpret_cast<const char*>(bytes), count);
        return count;
    }
};

Outcome Decode(const std::string& stream, const Options& o = {}) {
    Outcome run;
    MemoryInput input{reinterpret_cast<const uint8_t*>(stream.data()),
                      static_cast<uint32_t>(std::min<size_t>(o.available, stream.size())), 0, 0, o.failRead};
    Recorder recorder;
    recorder.run = &run;
    recorder.input = &input;
    recorder.o = &o;
    OutputSink sink{Recorder::Write, &recorder, false};
    int beeps = TheHostUi.beeps;
    TheExtractState.SlowPathOnly = o.slowOnly;
    run.result = InflateFromMemory(&input, &sink, o.size >= 0 ? o.size : static_cast<int32_t>(stream.size()),
                                   &recorder, 120);
    TheExtractState.SlowPathOnly = false;
    run.reads = input.Reads;
    run.beeps = TheHostUi.beeps - beeps;
    run.crc = ~TheExtractState.RunningCrc;
    return run;
}

// Decodes with both paths; they must agree in everything observable.
Outcome DecodeBoth(const std::string& stream, Options o, const std::string& what) {
    o.slowOnly = true;
    Outcome slow = Decode(stream, o);
    o.slowOnly = false;
    // The fast loop as this processor takes it, then its plain variant.
    Outcome fast = Decode(stream, o);
    FastLoopMayUseBmi2 = false;
    Outcome plain = Decode(stream, o);
    FastLoopMayUseBmi2 = true;
    for (const Outcome* run : {&fast, &plain}) {
        EXPECT_EQ(run->result, slow.result) << what;
        EXPECT_TRUE(run->output == slow.output) << what;
        EXPECT_EQ(run->events, slow.events) << what;
        EXPECT_EQ(run->beeps, slow.beeps) << what;
    }
    return fast;
}

void ExpectDecodes(const std::string& stream, const std::string& data, const std::string& what) {
    Outcome run = DecodeBoth(stream, {}, what);
    ASSERT_EQ(run.result, InflateOk) << what;
    ASSERT_TRUE(run.output == data) << what;
    EXPECT_EQ(run.crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))) << what;
}

std::string Text(size_t size, uint32_t seed) {
    static const char* words[] = {"the ", "installer ", "copies ", "files ", "to ", "CeAppMgr.exe ", "\r\n",
                                  "[Install]\r\n", "Version=1.0 ", "of ", "a "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) s += words[rng() % 11];
    return s.substr(0, size);
}

// Runs, small alphabets, repeated records and noise: something like a binary.
std::string Binary(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        uint32_t kind = rng() % 4, n = rng() % 300;
        if (kind == 0) s.append(n, static_cast<char>(rng()));
        if (kind == 1) for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng() % 7));
        if (kind == 2) for (std::string r = testutil::RandomBytes(8 + n % 40, rng()); n % 20; --n) s += r;
        if (kind == 3) s += testutil::RandomBytes(n, rng());
    }
    return s.substr(0, size);
}

// Fixed blocks of random literals and matches at every reachable distance up
// to 32768, lengths up to 258 (zlib never goes past 32506; it decodes them).
std::string RandomMatches(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    const Code& lit = FixedLiterals();
    BitWriter w;
    w.Put(0, 1).Put(1, 2);
    for (size_t done = 0, block = 0; done < size;) {
        if (block > 20000) lit.Put(w, 256), w.Put(0, 1).Put(1, 2), block = 0;
        if (done < 3 || rng() % 3 == 0) {
            lit.Put(w, static_cast<int>(rng() % 256)), ++done, ++block;
            continue;
        }
        int reach = static_cast<int>(std::min<size_t>(done, 32768));
        int pick = static_cast<int>(rng() % 4);
        int distance = pick == 3 ? std::max(1, reach - static_cast<int>(rng() % 4))
                                 : 1 + static_cast<int>(rng() % std::min(reach, pick == 0 ? 8 : pick == 1 ? 300 : reach));
        int length = rng() % 4 == 0 ? 258 : 3 + static_cast<int>(rng() % 256);
        PutMatch(w, lit, FixedDistances(), length, distance);
        done += length, block += length;
    }
    lit.Put(w, 256);
    w.Put(1, 1).Put(0, 2);  // an empty final stored block
    w.Bytes();
    return w.Put(0, 16).Put(0xFFFF, 16).Bytes();
}

class InflateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BuildCrcTable(); }
};

TEST_F(InflateTest, ZlibStreamsOfEveryLevelAndStrategy) {
    const std::string sets[] = {Text(150000, 1), Binary(120000, 2), testutil::RandomBytes(50000, 3), Text(700, 4),
                                Text(30000, 5) + testutil::RandomBytes(40000, 6) + std::string(50000, '\0')};
    for (const std::string& data : sets) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
                ExpectDecodes(Deflate(data, level, strategy), data,
                              std::to_string(data.size()) + " bytes, level " + std::to_string(level) + "/" +
                                  std::to_string(strategy));
            }
        }
        ExpectDecodes(Deflate(data, 6, Z_DEFAULT_STRATEGY, 1), data, "small blocks");
    }
    std::string large;
    for (uint32_t i = 0; large.size() < 6'000'000; ++i) large += Text(200000, i) + Binary(150000, i);
    ExpectDecodes(Deflate(large, 6), large, "6 MB");
}

TEST_F(InflateTest, FarMatchesLongLengthsShortPeriods) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        std::string stream = RandomMatches(200000 + seed * 5000, seed);
        auto [output, why] = ZlibInflate(stream);
        ASSERT_EQ(why, "");
        ExpectDecodes(stream, output, "seed " + std::to_string(seed));
    }
    BitWriter w;
    w.Put(1, 1).Put(1, 2);
    FixedLiterals().Put(w, 'x');
    PutMatch(w, FixedLiterals(), FixedDistances(), 258, 1);
    FixedLiterals().Put(w, 256);
    ExpectDecodes(w.Bytes(), std::string(259, 'x'), "258 at distance 1");
}

TEST_F(InflateTest, LongestSymbolsAcrossBufferEnds) {
    // 15-bit codes for length 284 (5 extra bits) and distance 29 (13 extra):
    // 48-bit symbols, the most a symbol can take, so that buffer ends keep
    // falling inside them. Other symbols get the short codes.
    std::vector<int> l(286, 0), d(30, 0);
    int literals[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 256, 284};
    for (int i = 0; i < 15; ++i) l[literals[i]] = i + 1;
    l[285] = 15;  // completes the code
    for (int i = 0; i < 15; ++i) d[i] = i + 1;
    d[29] = 15;
    Code lit(l), dist(d);
    BitWriter w;
    PutDynamicHeader(w, l, d);
    std::mt19937 rng(3);
    for (int i = 0; i < 33000; ++i) lit.Put(w, 'a' + static_cast<int>(rng() % 3));
    for (int i = 0; i < 3000; ++i) {
        lit.Put(w, 284), w.Put(rng() % 31, 5);
        dist.Put(w, 29), w.Put(rng() % 8192, 13);
    }
    lit.Put(w, 256);
    std::string stream = w.Bytes();
    auto [output, why] = ZlibInflate(stream);
    ASSERT_EQ(why, "");
    ExpectDecodes(stream, output, "48-bit symbols");
}

TEST_F(InflateTest, WindowFlushesAndReadsPerBuffer) {
    for (size_t size : {0, 1, 258, 32767, 32768, 32769, 65536, 98311}) {
        std::string data = Binary(size, static_cast<uint32_t>(size));
        std::string stream = Deflate(data, 6);
        Outcome run = Decode(stream);
        ASSERT_EQ(run.result, InflateOk);
        // Full windows, then the rest (possibly nothing) once at the end.
        std::vector<std::string> flushes, expected(size / WindowSize, "w32768");
        expected.push_back(Event('w', size % WindowSize));
        for (auto& e : run.events) {
            if (e[0] == 'w') flushes.push_back(e.substr(0, e.find('@')));
        }
        EXPECT_EQ(flushes, expected) << size;
        // One pump and read per 2048 bytes; the last look-ahead may read once more.
        uint32_t buffers = static_cast<uint32_t>((stream.size() + 2047) / 2048);
        EXPECT_TRUE(run.reads == buffers || run.reads == buffers + 1) << size;
        EXPECT_EQ(std::count_if(run.events.begin(), run.events.end(), [](auto& e) { return e[0] == 'p'; }),
                  static_cast<long>(run.reads));
    }
}

TEST_F(InflateTest, ProgressIsExactPastThe32BitProduct) {
    // Beyond 21,474,836 bytes read, read * 100 no longer fits 32 bits.
    std::string stream = Deflate(testutil::RandomBytes(24'000'000, 8), 0);
    Outcome run = Decode(stream);
    ASSERT_EQ(run.result, InflateOk);
    std::vector<std::string> expected, percents;
    for (int64_t k = 0, last = 0; k < run.reads; ++k) {
        int64_t percent = std::min<int64_t>(k * 2048, stream.size()) * 100 / static_cast<int64_t>(stream.size());
        if (percent != last) expected.push_back(Event('%', percent));
        last = percent;
    }
    for (auto& e : run.events) {
        if (e[0] == '%') percents.push_back(e);
    }
    EXPECT_EQ(percents, expected);
}

TEST_F(InflateTest, CutStreamsFailOrStopEarly) {
    for (const std::string& stream : {Deflate(Text(60000, 11), 6), Deflate(Binary(40000, 12), 1, Z_FIXED),
                                      Deflate(testutil::RandomBytes(20000, 13), 0)}) {
        std::string full = ZlibInflate(stream).first;
        for (uint32_t cut = 0; cut < stream.size(); cut += 1 + static_cast<uint32_t>(stream.size() / 150)) {
            for (bool endOfFile : {true, false}) {  // the file ends there, or only the entry's size does
                Options o;
                o.size = static_cast<int32_t>(cut);
                if (endOfFile) o.available = cut;
                std::string what = "cut at " + std::to_string(cut) + (endOfFile ? " (file)" : " (size)");
                Outcome run = DecodeBoth(stream, o, what);
                // Past the end only the symbol in progress completes, from re-offered
                // bytes; if that is the final end-of-block code the stream "ends" with
                // a prefix of the output, which the entry's CRC then refuses.
                if (run.result == InflateOk) {
                    EXPECT_EQ(full.compare(0, run.output.size(), run.output), 0) << what;
                } else {
                    EXPECT_TRUE(run.result == InflateInputExhausted || run.result == InflateCorrupt) << what;
                }
            }
        }
    }
}

TEST_F(InflateTest, FlippedBitsAgreeWithZlib) {
    // What zlib refuses and this decoder accepts by design; all else must agree.
    const std::set<std::string> accepted = {
        "invalid distance too far back",          // reads the zero-filled window
        "invalid bit length repeat",              // repeats the initial length 0
        "invalid distances set",                  // incomplete distance codes are fine
        "invalid code lengths set",               // a code length code of one 1-bit code
        "too many length or distance symbols",    // 287/288 and 31/32 are accepted
        "invalid code -- missing end-of-block",   // not needed until the block ends
        "truncated",  // the last end-of-block code completed by re-offered bytes
    };
    std::mt19937 rng(77);
    for (const std::string& original : {Deflate(Text(20000, 21), 6), Deflate(Binary(20000, 22), 9),
                                        Deflate(Text(8000, 23), 6, Z_FIXED), Deflate(Binary(9000, 24), 0),
                                        RandomMatches(20000, 25)}) {
        for (int trial = 0; trial < 400; ++trial) {
            std::string stream = original;
            size_t bit = rng() % (stream.size() * 8);
            stream[bit / 8] = static_cast<char>(stream[bit / 8] ^ (1 << bit % 8));
            Outcome run = DecodeBoth(stream, {}, "bit " + std::to_string(bit));
            auto [output, why] = ZlibInflate(stream);
            if (why.empty()) {
                EXPECT_EQ(run.result, InflateOk) << bit;
                EXPECT_TRUE(run.output == output) << bit;
            } else if (run.result == InflateOk) {
                EXPECT_TRUE(accepted.count(why)) << bit << ": zlib says " << why;
            }
        }
    }
}

// Hand-made streams, one per rule.
TEST_F(InflateTest, CraftedStreams) {
    const Code& lit = FixedLiterals();
    const Code& dist = FixedDistances();
    struct Case {
        std::string what;
        std::string stream;
        int32_t result;
        std::string output;
    };
    std::vector<Case> cases;
    auto add = [&](std::string what, BitWriter& w, int32_t result, std::string output = "") {
        cases.push_back({std::move(what), w.Put(0, 32).Bytes(), result, std::move(output)});
    };
    {
        BitWriter w;  // LEN and NLEN not complements
        w.Put(1, 1).Put(0, 2).Put(0, 5).Put(5, 16).Put(0xFFFF ^ 4, 16);
        add("stored length check", w, InflateCorrupt);
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(3, 2);
        add("block type 3", w, InflateCorrupt);
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        lit.Put(w, 'a'), lit.Put(w, 286);
        add("reserved length symbol", w, InflateCorrupt);
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        lit.Put(w, 'a'), lit.Put(w, 257), w.Code(30, 5);
        add("distance symbol 30", w, InflateCorrupt);
    }
    {
        BitWriter w;  // reaches before the first byte: zeros
        w.Put(1, 1).Put(1, 2);
        lit.Put(w, 'a'), PutMatch(w, lit, dist, 4, 3), lit.Put(w, 256);
        add("too far back", w, InflateOk, std::string("a\0\0a\0", 5));
    }
    {
        std::vector<int> l = LiteralLengths(288), d(32, 5);  // the most codes a header can declare
        BitWriter w;
        PutDynamicHeader(w, l, d);
        Code c(l), cd(d);
        c.Put(w, 'a'), c.Put(w, 'b'), PutMatch(w, c, cd, 10, 2), c.Put(w, 256);
        add("288 and 32 codes", w, InflateOk, "abababababab");
    }
    {
        std::vector<int> l = LiteralLengths(286), d(1, 1);
        BitWriter w;
        PutDynamicHeader(w, l, d);
        Code c(l);
        c.Put(w, 'z'), PutMatch(w, c, Code(d), 3, 1), c.Put(w, 256);
        add("one distance code of length 1", w, InflateOk, "zzzz");
    }
    for (int first : {10, 8}) {
        std::vector<int> l = LiteralLengths(286);
        l[0] = first;
        BitWriter w;
        PutDynamicHeader(w, l, std::vector<int>(30, 5));
        add(first == 10 ? "incomplete literal code" : "over-subscribed literal code", w, InflateCorrupt);
    }
    {
        BitWriter w;  // no literal/length codes at all: the first symbol needs one
        PutDynamicHeader(w, std::vector<int>(257, 0), std::vector<int>(1, 1));
        add("literal code without codes", w, InflateCorrupt);
    }
    for (bool withLength : {false, true}) {
        std::vector<int> l = LiteralLengths(286);
        Code c(l);
        BitWriter w;
        PutDynamicHeader(w, l, std::vector<int>(1, 0));  // no distance codes
        c.Put(w, 'q');
        if (withLength) c.Put(w, 257);
        c.Put(w, 256);
        add(withLength ? "a length without distance codes" : "literals only", w,
            withLength ? InflateCorrupt : InflateOk, withLength ? "" : "q");
    }
    for (uint32_t single : {0, 1}) {
        BitWriter w;  // a code length code of nothing, or of one 1-bit code whose other pattern is invalid
        w.Put(1, 1).Put(2, 2).Put(0, 5).Put(0, 5).Put(0, 4).Put(0, 9).Put(single, 3).Put(0, 1).Put(1, 1);
        add("code length code " + std::to_string(single), w, InflateCorrupt);
    }
    for (auto [symbol, bits, result] : {std::tuple{16, 2, InflateBadHeader}, std::tuple{17, 3, InflateBadHeader},
                                        std::tuple{18, 7, InflateCorrupt}}) {
        BitWriter w;  // 255 lengths of 8, then the longest repeat runs past 257 + 1
        w.Put(1, 1).Put(2, 2).Put(0, 5).Put(0, 5).Put(15, 4);
        std::vector<int> cl(19, 4);
        for (int i = 13; i < 19; ++i) cl[i] = 5;  // 13 x 4 bits + 6 x 5 bits: complete
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (int j = 0; j < 19; ++j) w.Put(cl[order[j]], 3);
        Code c(cl);
        for (int i = 0; i < 255; ++i) c.Put(w, 8);
        c.Put(w, symbol), w.Put((1u << bits) - 1, bits);
        add("repeat " + std::to_string(symbol) + " past the count", w, result);
    }
    for (const Case& c : cases) {
        Outcome run = DecodeBoth(c.stream, {}, c.what);
        EXPECT_EQ(run.result, c.result) << c.what;
        if (c.result == InflateOk) {
            EXPECT_EQ(run.output, c.output) << c.what;
        }
    }
}

TEST_F(InflateTest, TooFarBackReadsZerosAfterAnotherEntry) {
    // The window's memory comes back from an entry whose history was full:
    // a match before the first byte must still read zeros, in either path.
    BitWriter w;
    w.Put(1, 1).Put(1, 2);
    for (int i = 0; i < 200; ++i) FixedLiterals().Put(w, 'b');
    PutMatch(w, FixedLiterals(), FixedDistances(), 10, 1000);
    for (int i = 0; i < 100; ++i) FixedLiterals().Put(w, 'c');  // so that the fast loop takes the match
    FixedLiterals().Put(w, 256);
    const std::string stream = w.Bytes();
    for (bool slowOnly : {false, true}) {
        std::string before = Text(70000, 5);
        ASSERT_EQ(Decode(Deflate(before, 6)).output, before);
        Options o;
        o.slowOnly = slowOnly;
        EXPECT_EQ(Decode(stream, o).output, std::string(200, 'b') + std::string(10, '\0') + std::string(100, 'c'))
            << slowOnly;
    }
}

TEST_F(InflateTest, EndOfFileRightBehindTheData) {
    // The last code's look-ahead meets the end of the file: still a success.
    for (const std::string& stream : {Deflate("abc", 1, Z_FIXED), Deflate(Text(5000, 31), 6)}) {
        Options o;
        o.available = static_cast<uint32_t>(stream.size());
        EXPECT_EQ(DecodeBoth(stream, o, "exact end").result, InflateOk);
    }
}

TEST_F(InflateTest, CancelWriteAndReadFailures) {
    std::string data = Binary(200000, 41);
    for (int level : {0, 6}) {
        std::string stream = Deflate(data, level), what = "level " + std::to_string(level);
        for (int pump : {1, 7}) {
            Options o;
            o.cancelAtPump = pump;  // honoured at the next symbol, before any further read
            Outcome run = DecodeBoth(stream, o, what);
            EXPECT_EQ(run.result, InflateCancelled) << what;
            EXPECT_EQ(run.reads, static_cast<uint32_t>(pump + 1)) << what;
        }
        Options o;
        o.failWrite = 2;
        Outcome run = DecodeBoth(stream, o, what);
        EXPECT_EQ(run.result, InflateWriteFailed) << what;
        EXPECT_EQ(run.beeps, 1) << what;
        o = {};
        o.failRead = 3;
        run = DecodeBoth(stream, o, what);
        EXPECT_TRUE(run.result == InflateInputExhausted || run.result == InflateCorrupt) << what;
    }
    // A stored block whose last byte arrives with the refill that cancels: 5.
    BitWriter w;
    w.Put(1, 1).Put(0, 2).Put(0, 5).Put(2044, 16).Put(0xFFFF ^ 2044, 16);
    Options o;
    o.cancelAtPump = 1;
    EXPECT_EQ(DecodeBoth(w.Bytes() + testutil::RandomBytes(2144, 42), o, "stored").result, InflateCancelled);
}

using Built = std::pair<int32_t, uint32_t>;

TEST(BuildDecodeTable, Results) {
    DecodeEntry* table = nullptr;
    auto build = [&](std::vector<uint16_t> lengths, uint32_t bits = 7) {
        ReleaseDecodeTables(table);
        int32_t r = BuildDecodeTable(lengths.data(), static_cast<uint32_t>(lengths.size()),
                                     static_cast<uint32_t>(lengths.size()), nullptr, nullptr, &table, &bits);
        return Built{r, bits};
    };
    EXPECT_EQ(build({1, 2, 2}), Built(TableComplete, 2u));    // the width is cut to the longest code
    EXPECT_EQ(build({1, 2, 0}), Built(TableIncomplete, 2u));  // 3 of 4 patterns
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[3].Op, OpInvalid);                            // the pattern "11" has no symbol
    EXPECT_EQ(build({0, 1, 0}), Built(TableComplete, 1u));    // one 1-bit code is acceptable
    EXPECT_EQ(build({1, 1, 1}).first, TableInvalid);              // over-subscribed
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(build({1, 17}), Built(TableInvalid, 0u));
    EXPECT_EQ(build(std::vector<uint16_t>(19, 0)), Built(TableComplete, 0u));
    EXPECT_EQ(table, nullptr);
    std::vector<uint16_t> deep(16, 0);  // lengths 1..15 and another 15: complete, sub-tables three deep
    for (int i = 0; i < 15; ++i) deep[i] = static_cast<uint16_t>(i + 1);
    deep[15] = 15;
    EXPECT_EQ(build(deep, 6), Built(TableComplete, 6u));
    Code code(std::vector<int>(deep.begin(), deep.end()));
    for (int symbol = 0; symbol < 16; ++symbol) {  // every code walks down to its symbol
        uint32_t bits = 0, used = 0;
        for (int i = 0; i < deep[symbol]; ++i) bits |= ((code.codes[symbol] >> (deep[symbol] - 1 - i)) & 1) << i;
        const DecodeEntry* e = table + (bits & 63);
        while (e->Op > OpSubTable) used += e->Bits, bits >>= e->Bits, e = e->Next + (bits & ((1u << (e->Op - 16)) - 1));
        EXPECT_EQ(e->Value, symbol);
        EXPECT_EQ(used + e->Bits, deep[symbol]);
    }
    // Only 16-bit codes: the patterns left over at 16 bits reach 65536 (found by
    // the table fuzzer; a 16-bit count wrapped to 0 and no table was built).
    EXPECT_EQ(build({16, 0, 16}, 6), Built(TableIncomplete, 16u));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0].Value, 0);
    EXPECT_EQ(table[0].Bits, 16);
    EXPECT_EQ(table[0x8000].Value, 2);
    EXPECT_EQ(table[1].Op, OpInvalid);
    ReleaseDecodeTables(table);
}

}  // namespace
