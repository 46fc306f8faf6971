// The decoder against zlib, and its fast loop against the plain per-symbol
// algorithm (SlowPathOnly): same output, same result, and the same reads,
// pumps, progress reports and flushes in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "tests/common/test_util.h"
#include "tests/host/inflate_harness.h"

using namespace inflatetest;

namespace {

class InflateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BuildCrcTable(); }
};

std::string TextLike(size_t size, uint32_t seed) {
    static const char* words[] = {"the ", "installer ", "copies ", "files ", "into ", "a ", "directory ",
                                  "and ", "starts ", "CeAppMgr.exe ", "with ", "quoted ", "paths; ",
                                  "\r\n", "Version=1.0\r\n", "[Install]\r\n", "0x7FFF ", "error ", "of "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) s += words[rng() % (sizeof words / sizeof *words)];
    s.resize(size);
    return s;
}

// Runs, small alphabets, repeated records and noise: something like a binary.
std::string BinaryLike(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        switch (rng() % 4) {
            case 0: s.append(rng() % 300, static_cast<char>(rng())); break;
            case 1:
                for (int i = rng() % 500; i > 0; --i) s.push_back(static_cast<char>(rng() % 7));
                break;
            case 2: {
                std::string record = testutil::RandomBytes(8 + rng() % 40, rng());
                for (int i = rng() % 20; i > 0; --i) s += record;
                break;
            }
            default: s += testutil::RandomBytes(rng() % 200, rng());
        }
    }
    s.resize(size);
    return s;
}

void ExpectSameRun(const DecodeRun& fast, const DecodeRun& slow, const std::string& what) {
    EXPECT_EQ(fast.result, slow.result) << what;
    EXPECT_EQ(fast.reads, slow.reads) << what;
    EXPECT_EQ(fast.pumps, slow.pumps) << what;
    EXPECT_TRUE(fast.output == slow.output) << what;
    EXPECT_EQ(fast.events, slow.events) << what;
    EXPECT_EQ(fast.beeps, slow.beeps) << what;
}

// Decodes with both paths, checks they agree and returns the fast run.
DecodeRun DecodeBoth(const std::string& stream, DecodeOptions o, const std::string& what) {
    o.slowOnly = false;
    DecodeRun fast = Decode(stream, o);
    o.slowOnly = true;
    DecodeRun slow = Decode(stream, o);
    ExpectSameRun(fast, slow, what);
    return fast;
}

void ExpectDecodes(const std::string& stream, const std::string& data, const std::string& what) {
    DecodeRun run = DecodeBoth(stream, {}, what);
    ASSERT_EQ(run.result, InflateOk) << what;
    ASSERT_EQ(run.output.size(), data.size()) << what;
    EXPECT_TRUE(run.output == data) << what;
    EXPECT_EQ(run.crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))) << what;
    EXPECT_EQ(run.reads, static_cast<uint32_t>(run.pumps)) << what;
}

// A random LZ77 stream in fixed blocks: literal runs and matches of every
// length at every reachable distance, up to 32768. zlib never makes the far
// ones; it decodes them, so it is the oracle.
std::string RandomLz77Stream(size_t outputSize, uint32_t seed, bool farOnly) {
    std::mt19937 rng(seed);
    Code lit = FixedLiteralCode();
    Code dist = FixedDistanceCode();
    BitWriter w;
    size_t produced = 0;
    size_t inBlock = 0;
    w.Put(0, 1);
    w.Put(1, 2);
    while (produced < outputSize) {
        if (inBlock > 20000) {  // start another block now and then
            lit.Put(w, 256);
            w.Put(0, 1);
            w.Put(1, 2);
            inBlock = 0;
        }
        if (produced < 3 || rng() % 3 == 0) {
            for (int i = 1 + rng() % 8; i > 0; --i, ++produced, ++inBlock) lit.Put(w, static_cast<int>(rng() % 256));
            continue;
        }
        int maxDistance = static_cast<int>(std::min<size_t>(produced, 32768));
        int distance;
        switch (farOnly ? 3 : rng() % 4) {
            case 0: distance = 1 + static_cast<int>(rng() % std::min(maxDistance, 8)); break;
            case 1: distance = 1 + static_cast<int>(rng() % std::min(maxDistance, 300)); break;
            case 2: distance = 1 + static_cast<int>(rng() % maxDistance); break;
            default: distance = std::max(1, maxDistance - static_cast<int>(rng() % 4)); break;
        }
        int length = rng() % 4 == 0 ? 258 : 3 + static_cast<int>(rng() % 256);
        PutLength(w, lit, length);
        PutDistance(w, dist, distance);
        produced += length;
        inBlock += length;
    }
    lit.Put(w, 256);
    w.Put(1, 1);  // an empty final stored block
    w.Put(0, 2);
    w.Align();
    w.Put(0, 16);
    w.Put(0xFFFF, 16);
    return w.Finish();
}

TEST_F(InflateTest, MatchesZlibAtEveryLevelAndStrategy) {
    const std::vector<std::pair<std::string, std::string>> sets = {
        {"text", TextLike(150000, 1)},
        {"binary", BinaryLike(120000, 2)},
        {"random", testutil::RandomBytes(50000, 3)},
        {"small", TextLike(700, 4)},
        {"mixed", TextLike(30000, 5) + testutil::RandomBytes(40000, 6) + std::string(50000, '\0')},
    };
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (const auto& [name, data] : sets) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : strategies) {
                std::string what = name + " level " + std::to_string(level) + " strategy " + std::to_string(strategy);
                std::string stream = ZlibDeflate(data, level, strategy);
                ASSERT_FALSE(stream.empty()) << what;
                ExpectDecodes(stream, data, what);
            }
        }
        // Small and large deflate blocks.
        ExpectDecodes(ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, 1), data, name + " memLevel 1");
        ExpectDecodes(ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY, 9), data, name + " memLevel 9");
    }
}

TEST_F(InflateTest, OutputAroundTheWindowSize) {
    for (size_t size : {0, 1, 2, 3, 258, 259, 32767, 32768, 32769, 65535, 65536, 98304 + 7}) {
        std::string data = BinaryLike(size, static_cast<uint32_t>(size));
        for (int level : {0, 1, 6}) {
            std::string what = std::to_string(size) + " bytes, level " + std::to_string(level);
            ExpectDecodes(ZlibDeflate(data, level), data, what);
            DecodeRun run = Decode(ZlibDeflate(data, level));
            // Full windows, then what is left (possibly nothing) at the end.
            std::vector<uint32_t> expected(size / WindowSize, WindowSize);
            expected.push_back(static_cast<uint32_t>(size % WindowSize));
            EXPECT_EQ(run.flushes, expected) << what;
        }
    }
}

TEST_F(InflateTest, LongInput) {
    std::string data;
    for (uint32_t i = 0; data.size() < 6'000'000; ++i) {
        data += TextLike(200000, i) + BinaryLike(150000, i + 100) + testutil::RandomBytes(30000, i);
    }
    ExpectDecodes(ZlibDeflate(data, 6), data, "6 MB level 6");
}

TEST_F(InflateTest, FarMatchesLongLengthsAndShortDistances) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::string stream = RandomLz77Stream(200000 + seed * 5000, seed, seed % 3 == 0);
        ZlibResult oracle = ZlibInflate(stream);
        ASSERT_TRUE(oracle.ok) << oracle.message;
        ExpectDecodes(stream, oracle.output, "lz77 seed " + std::to_string(seed));
    }
    // 258 copies of the previous byte.
    Code lit = FixedLiteralCode();
    Code dist = FixedDistanceCode();
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    lit.Put(w, 'x');
    PutLength(w, lit, 258);
    PutDistance(w, dist, 1);
    lit.Put(w, 256);
    ExpectDecodes(w.Finish(), std::string(259, 'x'), "length 258 at distance 1");
}

TEST_F(InflateTest, RefillsPumpsAndProgressPerBuffer) {
    std::string data = BinaryLike(400000, 9);
    std::string stream = ZlibDeflate(data, 6);
    DecodeRun run = Decode(stream);
    ASSERT_EQ(run.result, InflateOk);
    // Every read of 2048 bytes follows one pump and one progress report; the
    // last buffer's look-ahead may ask for one more read.
    uint32_t buffers = static_cast<uint32_t>((stream.size() + InputBufferSize - 1) / InputBufferSize);
    EXPECT_GE(run.reads, buffers);
    EXPECT_LE(run.reads, buffers + 1);
    EXPECT_EQ(run.reads, static_cast<uint32_t>(run.pumps));
    std::vector<int> percents;
    for (const std::string& e : run.events) {
        if (e[0] == '%') percents.push_back(std::stoi(e.substr(1)));
    }
    ASSERT_FALSE(percents.empty());
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);  // only changes
    EXPECT_LE(percents.back(), 100);
    EXPECT_GE(percents.back(), 99);
}

TEST_F(InflateTest, ProgressIsExactPastThe32BitProduct) {
    // Beyond 21,474,836 bytes read, read * 100 no longer fits 32 bits.
    std::string stream = ZlibDeflate(testutil::RandomBytes(24'000'000, 8), 0);
    DecodeRun run = Decode(stream);
    ASSERT_EQ(run.result, InflateOk);
    std::vector<std::string> expected;
    int64_t last = 0;
    for (uint32_t k = 0; k < run.reads; ++k) {
        int64_t read = std::min<int64_t>(int64_t{k} * InputBufferSize, static_cast<int64_t>(stream.size()));
        int64_t percent = std::min<int64_t>(read * 100 / static_cast<int64_t>(stream.size()), 100);
        if (percent != last) expected.push_back("%" + std::to_string(percent));
        last = percent;
    }
    std::vector<std::string> percents;
    for (const std::string& e : run.events) {
        if (e[0] == '%') percents.push_back(e);
    }
    EXPECT_EQ(percents, expected);
}

TEST_F(InflateTest, CutStreamsFailOrStopEarly) {
    std::vector<std::string> streams = {
        ZlibDeflate(TextLike(60000, 11), 6),
        ZlibDeflate(BinaryLike(40000, 12), 1, Z_FIXED),
        ZlibDeflate(testutil::RandomBytes(20000, 13), 0),
        ZlibDeflate(TextLike(30000, 14), 9, Z_HUFFMAN_ONLY),
    };
    for (size_t k = 0; k < streams.size(); ++k) {
        const std::string& stream = streams[k];
        std::string full = ZlibInflate(stream).output;
        for (uint32_t cut = 0; cut < stream.size(); cut += 1 + static_cast<uint32_t>(stream.size() / 150)) {
            for (bool atEof : {true, false}) {
                DecodeOptions o;
                o.compressedSize = static_cast<int32_t>(cut);
                if (atEof) o.inputSize = cut;  // the file ends there; else only the entry's size does
                std::string what = "stream " + std::to_string(k) + " cut at " + std::to_string(cut) +
                                   (atEof ? " (end of file)" : " (entry size)");
                DecodeRun run = DecodeBoth(stream, o, what);
                // After the input runs out only the symbol in progress completes,
                // from re-offered bytes; if that is the final end-of-block code the
                // block "ends" early: a success with a prefix of the output, which
                // the entry's CRC then refuses.
                if (run.result == InflateOk) EXPECT_EQ(full.compare(0, run.output.size(), run.output), 0) << what;
                else EXPECT_TRUE(run.result == InflateInputExhausted || run.result == InflateCorrupt ||
                                 run.result == InflateBadHeader) << what << ": " << run.result;
            }
        }
    }
}

TEST_F(InflateTest, FlippedBitsAgreeWithZlib) {
    // zlib refuses a few things this decoder accepts; everything else must agree.
    const std::set<std::string> documented = {
        "invalid distance too far back",  // reads the zero-filled window
        "invalid bit length repeat",      // repeat of the initial length 0
        "invalid distances set",          // incomplete distance codes are accepted
        "invalid code lengths set",       // a code length code of one 1-bit code
        "too many length or distance symbols",  // up to 288 and 32 are accepted
        "invalid code -- missing end-of-block",  // not needed until the block ends
        "truncated",  // the last end-of-block code completed by stale look-ahead bytes
    };
    std::vector<std::string> streams = {
        ZlibDeflate(TextLike(20000, 21), 6),
        ZlibDeflate(BinaryLike(20000, 22), 9),
        ZlibDeflate(TextLike(8000, 23), 6, Z_FIXED),
        ZlibDeflate(BinaryLike(9000, 24), 0),
        RandomLz77Stream(20000, 25, false),
    };
    std::mt19937 rng(77);
    int agreed = 0, documentedOnly = 0;
    for (size_t k = 0; k < streams.size(); ++k) {
        for (int trial = 0; trial < 400; ++trial) {
            std::string stream = streams[k];
            size_t bit = rng() % (stream.size() * 8);
            stream[bit / 8] = static_cast<char>(stream[bit / 8] ^ (1 << (bit % 8)));
            std::string what = "stream " + std::to_string(k) + " bit " + std::to_string(bit);
            DecodeRun run = DecodeBoth(stream, {}, what);
            ZlibResult oracle = ZlibInflate(stream);
            if (oracle.ok) {
                EXPECT_EQ(run.result, InflateOk) << what;
                EXPECT_TRUE(run.output == oracle.output) << what;
                ++agreed;
            } else if (run.result == InflateOk) {
                EXPECT_TRUE(documented.count(oracle.message)) << what << ": zlib says " << oracle.message;
                ++documentedOnly;
            } else {
                ++agreed;
            }
        }
    }
    EXPECT_GT(agreed, 0);
    RecordProperty("documented_differences", documentedOnly);
}

// Hand-made streams for each failure the decoder names.
class CraftedStreamTest : public InflateTest {};

std::string FixedBlock(const std::string& literals, bool last = true) {
    Code lit = FixedLiteralCode();
    BitWriter w;
    w.Put(last ? 1 : 0, 1);
    w.Put(1, 2);
    for (char c : literals) lit.Put(w, static_cast<uint8_t>(c));
    lit.Put(w, 256);
    return w.Finish();
}

TEST_F(CraftedStreamTest, StoredLengthCheckAndBlockType3) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(0, 2);
    w.Align();
    w.Put(5, 16);
    w.Put(0xFFFF ^ 4, 16);  // not the complement
    w.PutBytes("hello");
    EXPECT_EQ(DecodeBoth(w.Finish(), {}, "len/nlen").result, InflateCorrupt);

    BitWriter t;
    t.Put(1, 1);
    t.Put(3, 2);
    t.Put(0, 16);
    EXPECT_EQ(DecodeBoth(t.Finish(), {}, "type 3").result, InflateCorrupt);
}

// A complete literal/length code of count symbols: the 256 literals take
// half of the 9-bit patterns, the other symbols fill the other half.
std::vector<int> LiteralLengthsWith(int count) {
    std::vector<int> l(count, 9);
    int k = count - 256;
    int depth = 0;
    while ((2 << depth) <= k) ++depth;
    int split = k - (1 << depth);  // leaves of a balanced tree under the other half
    for (int i = 0; i < k; ++i) l[256 + i] = 1 + depth + (i < 2 * split ? 1 : 0);
    return l;
}

TEST_F(CraftedStreamTest, DynamicHeaderLimitsAndOddCodes) {
    // 288 literal/length and 32 distance codes are accepted.
    {
        std::vector<int> literal = LiteralLengthsWith(288);
        std::vector<int> distance(32, 5);
        Code lit(literal), dist(distance);
        BitWriter w;
        PutDynamicHeader(w, true, literal, distance);
        lit.Put(w, 'a');
        lit.Put(w, 'b');
        PutLength(w, lit, 10);
        PutDistance(w, dist, 2);
        lit.Put(w, 256);
        DecodeRun run = DecodeBoth(w.Finish(), {}, "288/32");
        EXPECT_EQ(run.result, InflateOk);
        EXPECT_EQ(run.output, "ab" + std::string("ababababab"));
    }
    // A distance code of one code of length 1.
    {
        std::vector<int> literal = LiteralLengthsWith(286);
        std::vector<int> distance(1, 1);
        Code lit(literal), dist(distance);
        BitWriter w;
        PutDynamicHeader(w, true, literal, distance);
        lit.Put(w, 'z');
        PutLength(w, lit, 3);
        dist.Put(w, 0);
        lit.Put(w, 256);
        DecodeRun run = DecodeBoth(w.Finish(), {}, "one distance code");
        EXPECT_EQ(run.result, InflateOk);
        EXPECT_EQ(run.output, "zzzz");
    }
    // An incomplete literal/length code and an over-subscribed one.
    {
        std::vector<int> literal = LiteralLengthsWith(286);
        literal[0] = 10;  // one 9-bit pattern now half used
        BitWriter w;
        PutDynamicHeader(w, true, literal, std::vector<int>(30, 5));
        w.Put(0, 32);
        EXPECT_EQ(DecodeBoth(w.Finish(), {}, "incomplete").result, InflateCorrupt);
        literal[0] = 8;
        BitWriter v;
        PutDynamicHeader(v, true, literal, std::vector<int>(30, 5));
        v.Put(0, 32);
        EXPECT_EQ(DecodeBoth(v.Finish(), {}, "over-subscribed").result, InflateCorrupt);
    }
}

TEST_F(CraftedStreamTest, RepeatsPastTheDeclaredCount) {
    // Header with 257 + 1 lengths, the code length code giving 16, 17, 18 codes.
    auto header = [](int repeatSymbol, int repeatBits) {
        BitWriter w;
        w.Put(1, 1);
        w.Put(2, 2);
        w.Put(0, 5);       // 257
        w.Put(0, 5);       // 1
        w.Put(19 - 4, 4);  // all 19 code length lengths
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::vector<int> cl(19, 5);  // 19 five-bit codes: incomplete... use 16 of 4 and 3 of 5
        for (int i = 0; i < 19; ++i) cl[i] = i < 13 ? 4 : 5;
        cl[13] = 5;
        // 13 x 4 bits = 26/32, 6 x 5 bits = 6/32: complete.
        for (int j = 0; j < 19; ++j) w.Put(static_cast<uint32_t>(cl[order[j]]), 3);
        Code code(cl);
        // 255 lengths of 8 via literal symbol 8, then the repeat.
        for (int i = 0; i < 255; ++i) code.Put(w, 8);
        code.Put(w, repeatSymbol);
        w.Put(static_cast<uint32_t>((1 << repeatBits) - 1), repeatBits);  // the longest repeat
        w.Put(0, 32);
        return w.Finish();
    };
    EXPECT_EQ(DecodeBoth(header(16, 2), {}, "16 past").result, InflateBadHeader);
    EXPECT_EQ(DecodeBoth(header(17, 3), {}, "17 past").result, InflateBadHeader);
    EXPECT_EQ(DecodeBoth(header(18, 7), {}, "18 past").result, InflateCorrupt);
}

TEST_F(CraftedStreamTest, CodesWithoutCodes) {
    // A literal/length code of zero lengths: the first symbol needs it.
    {
        BitWriter w;
        PutDynamicHeader(w, true, std::vector<int>(257, 0), std::vector<int>(1, 1));
        w.Put(0, 32);
        EXPECT_EQ(DecodeBoth(w.Finish(), {}, "no literal codes").result, InflateCorrupt);
    }
    // No distance codes: fine for literals only, corrupt at the first length.
    std::vector<int> literal = LiteralLengthsWith(286);
    Code lit(literal);
    {
        BitWriter w;
        PutDynamicHeader(w, true, literal, std::vector<int>(1, 0));
        lit.Put(w, 'q');
        lit.Put(w, 256);
        DecodeRun run = DecodeBoth(w.Finish(), {}, "literals only");
        EXPECT_EQ(run.result, InflateOk);
        EXPECT_EQ(run.output, "q");
    }
    {
        BitWriter w;
        PutDynamicHeader(w, true, literal, std::vector<int>(1, 0));
        lit.Put(w, 'q');
        PutLength(w, lit, 3);
        w.Put(0, 32);
        EXPECT_EQ(DecodeBoth(w.Finish(), {}, "length without distances").result, InflateCorrupt);
    }
    // A code length code of zero lengths, and one whose single 1-bit code
    // leaves the other pattern invalid.
    for (int single : {0, 1}) {
        BitWriter w;
        w.Put(1, 1);
        w.Put(2, 2);
        w.Put(0, 5);
        w.Put(0, 5);
        w.Put(0, 4);                 // 4 code length lengths: 16, 17, 18, 0
        w.Put(0, 3);
        w.Put(0, 3);
        w.Put(0, 3);
        w.Put(single ? 1 : 0, 3);    // symbol 0 gets length 1 or nothing
        w.Put(0, 1);                 // a length of 0 via the valid pattern
        w.Put(1, 1);                 // the pattern without a symbol
        w.Put(0, 32);
        EXPECT_EQ(DecodeBoth(w.Finish(), {}, "code length code " + std::to_string(single)).result, InflateCorrupt);
    }
}

TEST_F(CraftedStreamTest, InvalidSymbols) {
    Code lit = FixedLiteralCode();
    Code dist = FixedDistanceCode();
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    lit.Put(w, 'a');
    lit.Put(w, 286);  // reserved length symbol
    w.Put(0, 32);
    EXPECT_EQ(DecodeBoth(w.Finish(), {}, "length 286").result, InflateCorrupt);
    BitWriter v;
    v.Put(1, 1);
    v.Put(1, 2);
    lit.Put(v, 'a');
    PutLength(v, lit, 3);
    v.PutCode(30, 5);  // distance symbol 30
    v.Put(0, 32);
    EXPECT_EQ(DecodeBoth(v.Finish(), {}, "distance 30").result, InflateCorrupt);
}

TEST_F(CraftedStreamTest, DistanceBeforeTheFirstByteReadsZeros) {
    Code lit = FixedLiteralCode();
    Code dist = FixedDistanceCode();
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    lit.Put(w, 'a');
    PutLength(w, lit, 4);
    PutDistance(w, dist, 3);
    lit.Put(w, 256);
    DecodeRun run = DecodeBoth(w.Finish(), {}, "too far back");
    EXPECT_EQ(run.result, InflateOk);
    EXPECT_EQ(run.output, std::string("a\0\0a\0", 5));
}

TEST_F(CraftedStreamTest, EndOfFileRightBehindTheData) {
    // The final code's look-ahead meets the end of the file: still a success.
    std::string stream = FixedBlock("abc");
    DecodeOptions o;
    o.inputSize = static_cast<uint32_t>(stream.size());
    DecodeRun run = DecodeBoth(stream, o, "exact end");
    EXPECT_EQ(run.result, InflateOk);
    EXPECT_EQ(run.output, "abc");
    stream = ZlibDeflate(TextLike(5000, 31), 6);
    o.inputSize = static_cast<uint32_t>(stream.size());
    EXPECT_EQ(DecodeBoth(stream, o, "level 6 exact end").result, InflateOk);
}

TEST_F(CraftedStreamTest, InputEndingInsideTheData) {
    std::string data = TextLike(100000, 32);
    std::string stream = ZlibDeflate(data, 6);
    DecodeOptions o;
    o.inputSize = static_cast<uint32_t>(stream.size() / 2);
    DecodeRun run = DecodeBoth(stream, o, "half");
    EXPECT_TRUE(run.result == InflateInputExhausted || run.result == InflateCorrupt) << run.result;
    o.inputSize = UINT32_MAX;
    o.failRead = 3;
    run = DecodeBoth(stream, o, "read error");
    EXPECT_TRUE(run.result == InflateInputExhausted || run.result == InflateCorrupt) << run.result;
}

TEST_F(CraftedStreamTest, CancelAtTheNextSymbolAndAfterAStoredBlock) {
    std::string data = BinaryLike(200000, 41);
    for (int level : {0, 6}) {
        for (int pump : {1, 2, 7}) {
            DecodeOptions o;
            o.cancelAtPump = pump;
            std::string what = "level " + std::to_string(level) + " pump " + std::to_string(pump);
            DecodeRun run = DecodeBoth(ZlibDeflate(data, level), o, what);
            EXPECT_EQ(run.result, InflateCancelled) << what;
            EXPECT_EQ(run.reads, static_cast<uint32_t>(pump + 1)) << what;  // no read after the cancel's
        }
    }
    // A stored block whose last byte comes with the refill that cancels.
    BitWriter w;
    w.Put(1, 1);
    w.Put(0, 2);
    w.Align();
    w.Put(2044, 16);
    w.Put(0xFFFF ^ 2044, 16);
    std::string payload = testutil::RandomBytes(2044, 42);
    w.PutBytes(payload);
    std::string stream = w.Finish() + std::string(100, '\0');
    DecodeOptions o;
    o.cancelAtPump = 1;  // the second buffer: its first byte is the block's last
    DecodeRun run = DecodeBoth(stream, o, "stored last byte");
    EXPECT_EQ(run.result, InflateCancelled);
}

TEST_F(CraftedStreamTest, WriteFailureBeepsOnce) {
    std::string data = TextLike(200000, 51);
    for (int level : {0, 6}) {
        DecodeOptions o;
        o.failWriteAt = 2;
        DecodeRun run = DecodeBoth(ZlibDeflate(data, level), o, "write " + std::to_string(level));
        EXPECT_EQ(run.result, InflateWriteFailed);
        EXPECT_EQ(run.beeps, 1);
        EXPECT_EQ(run.flushes.size(), 2u);
    }
}

// The table builder on its own.
struct Walk {
    int op = -1;
    int value = -1;
    int bits = 0;
};

// Decodes one code given MSB-first, the way the decoder walks the tables.
Walk WalkCode(const DecodeEntry* table, uint32_t lookupBits, uint32_t code, int length) {
    uint64_t stream = 0;
    for (int i = 0; i < length; ++i) stream |= uint64_t((code >> (length - 1 - i)) & 1) << i;
    Walk walk;
    const DecodeEntry* e = table + (stream & ((1u << lookupBits) - 1));
    while (e->Op > OpSubTable && e->Op != OpInvalid) {
        walk.bits += e->Bits;
        stream >>= e->Bits;
        e = e->Next + (stream & ((1u << (e->Op - OpSubTable)) - 1));
    }
    walk.op = e->Op;
    walk.value = e->Value;
    walk.bits += e->Bits;
    return walk;
}

TEST(BuildDecodeTable, EveryCodeOfRandomCompleteCodesFindsItsSymbol) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        // A complete code from random splits of a 1-bit code.
        int n = trial % 3 == 0 ? 30 : 286;
        std::vector<int> lengths(n, 0);
        // Start from two codes of length 1 and split random leaves up to 15 bits.
        std::vector<int> leaves = {1, 1};
        while (static_cast<int>(leaves.size()) < std::min(n, 2 + static_cast<int>(rng() % n))) {
            size_t pick = rng() % leaves.size();
            if (leaves[pick] >= 15) continue;
            leaves[pick]++;
            leaves.push_back(leaves[pick]);
        }
        std::vector<int> symbols(n);
        for (int i = 0; i < n; ++i) symbols[i] = i;
        std::shuffle(symbols.begin(), symbols.end(), rng);
        for (size_t i = 0; i < leaves.size(); ++i) lengths[symbols[i]] = leaves[i];
        std::vector<uint16_t> l16(lengths.begin(), lengths.end());
        DecodeEntry* table = nullptr;
        uint32_t bits = n == 30 ? 6 : 9;
        uint32_t requested = bits;
        int32_t r = n == 30 ? BuildDecodeTable(l16.data(), n, 0, DistanceBases, DistanceExtras, &table, &bits)
                            : BuildDecodeTable(l16.data(), n, 257, LengthBases, LengthExtras, &table, &bits);
        ASSERT_EQ(r, TableComplete);
        ASSERT_NE(table, nullptr);
        int shortest = *std::min_element(leaves.begin(), leaves.end());
        int longest = *std::max_element(leaves.begin(), leaves.end());
        EXPECT_EQ(bits, std::clamp<uint32_t>(requested, shortest, longest));
        Code code(lengths);
        for (int s = 0; s < n; ++s) {
            if (!lengths[s]) continue;
            Walk walk = WalkCode(table, bits, code.codes[s], lengths[s]);
            ASSERT_EQ(walk.bits, lengths[s]) << "symbol " << s;
            if (n == 30) {
                EXPECT_EQ(walk.value, DistanceBases[s]);
                EXPECT_EQ(walk.op, DistanceExtras[s]);
            } else if (s < 256) {
                EXPECT_EQ(walk.op, OpLiteral);
                EXPECT_EQ(walk.value, s);
            } else if (s == 256) {
                EXPECT_EQ(walk.op, OpEndOfBlock);
            } else {
                EXPECT_EQ(walk.value, LengthBases[s - 257]);
            }
        }
        ReleaseDecodeTables(table);
    }
}

TEST(BuildDecodeTable, Results) {
    DecodeEntry* table = nullptr;
    uint32_t bits = 7;
    std::vector<uint16_t> incomplete = {1, 2, 0, 0};  // 3/4 of the patterns
    EXPECT_EQ(BuildDecodeTable(incomplete.data(), 4, 4, nullptr, nullptr, &table, &bits), TableIncomplete);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(bits, 2u);
    EXPECT_EQ(WalkCode(table, bits, 3, 2).op, OpInvalid);  // the pattern left over
    ReleaseDecodeTables(table);

    std::vector<uint16_t> over = {1, 1, 1};
    bits = 7;
    EXPECT_EQ(BuildDecodeTable(over.data(), 3, 3, nullptr, nullptr, &table, &bits), TableInvalid);
    EXPECT_EQ(table, nullptr);

    std::vector<uint16_t> tooLong = {1, 17};
    bits = 7;
    EXPECT_EQ(BuildDecodeTable(tooLong.data(), 2, 2, nullptr, nullptr, &table, &bits), TableInvalid);
    EXPECT_EQ(bits, 0u);

    std::vector<uint16_t> none(19, 0);
    bits = 7;
    EXPECT_EQ(BuildDecodeTable(none.data(), 19, 19, nullptr, nullptr, &table, &bits), TableComplete);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(bits, 0u);

    std::vector<uint16_t> single = {0, 1, 0};  // one code of length 1 is acceptable
    bits = 7;
    EXPECT_EQ(BuildDecodeTable(single.data(), 3, 3, nullptr, nullptr, &table, &bits), TableComplete);
    EXPECT_EQ(bits, 1u);
    ReleaseDecodeTables(table);
    ReleaseDecodeTables(nullptr);
}

}  // namespace
