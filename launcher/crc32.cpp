// CRC-32 in two ways, chosen once at start-up. Where the processor has a
// carry-less multiply (PCLMULQDQ), 64-byte steps fold the data 128 bits at a
// time (128-byte steps on 256-bit registers where it has VPCLMULQDQ) and the
// last 16 folded bytes go through the tables; elsewhere sixteen tables fold
// sixteen bytes per step. CrcTable is the classic byte-wise table
// and the first of the sixteen. Every way gives the byte-wise loop's result.
#include <cstring>

#include "launcher/extract_entry.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define CE_CRC_CARRYLESS 1
#endif
// 256-bit folding on 64-bit hosts only: the 32-bit programs' download is kept
// small, and MinGW's 64-bit compiler cannot align 256-bit values on the stack.
#if defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define CE_CRC_WIDE 1
#endif

uint32_t CrcTable[256];
bool CrcCarryless = false;
bool CrcWide = false;

namespace {

constexpr int SliceCount = 16;
// Slice k advances a byte that is followed by k more bytes of the same step.
uint32_t CrcSlices[SliceCount - 1][256];

inline uint32_t Load32(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
#else
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
#endif
}

inline uint32_t FoldByte(uint32_t crc, uint8_t byte) { return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8); }

uint32_t UpdateBySlices(const uint8_t* p, size_t count, uint32_t crc) {
    while (count >= 16) {
        uint32_t a = Load32(p) ^ crc;
        uint32_t b = Load32(p + 4);
        uint32_t c = Load32(p + 8);
        uint32_t d = Load32(p + 12);
        crc = CrcSlices[14][a & 0xFF] ^ CrcSlices[13][(a >> 8) & 0xFF] ^ CrcSlices[12][(a >> 16) & 0xFF] ^
              CrcSlices[11][a >> 24] ^ CrcSlices[10][b & 0xFF] ^ CrcSlices[9][(b >> 8) & 0xFF] ^
              CrcSlices[8][(b >> 16) & 0xFF] ^ CrcSlices[7][b >> 24] ^ CrcSlices[6][c & 0xFF] ^
              CrcSlices[5][(c >> 8) & 0xFF] ^ CrcSlices[4][(c >> 16) & 0xFF] ^ CrcSlices[3][c >> 24] ^
              CrcSlices[2][d & 0xFF] ^ CrcSlices[1][(d >> 8) & 0xFF] ^ CrcSlices[0][(d >> 16) & 0xFF] ^
              CrcTable[d >> 24];
        p += 16;
        count -= 16;
    }
    while (count--) crc = FoldByte(crc, *p++);
    return crc;
}

#ifdef CE_CRC_CARRYLESS
// The register is linear in the data: XORed into the first four bytes, it
// gives the same CRC as started from zero. A 128-bit block (lo = its first
// eight bytes) moves D bits further on as lo * (x^(D+31) mod P) + hi * (x^(D-33)
// mod P), both bit-reflected; the sum is XORed into the block found there.
// Constants: D = 512 for the four lanes, D = 1024 for the wide variant's
// four lanes of two blocks each, D = 128 to join them.
constexpr uint64_t Fold512Lo = 0x8F352D95, Fold512Hi = 0x1D9513D7;
constexpr uint64_t Fold1024Lo = 0x33FFF533, Fold1024Hi = 0x910EEEC1;
constexpr uint64_t Fold128Lo = 0xAE689191, Fold128Hi = 0xCCAA009E;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i block, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00), _mm_clmulepi64_si128(block, constants, 0x11));
}

inline __attribute__((target("sse2"))) __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Both ways' end: the folded block x takes the rest's whole 16-byte blocks,
// then goes through the tables. *done: the bytes from start so far. Inlined,
// so that no 32-bit caller passes it a vector on a stack of unknown alignment.
__attribute__((target("pclmul,sse2"), always_inline)) inline uint32_t FoldRest(__m128i x, const uint8_t* p, size_t count,
                                                                const uint8_t* start, size_t* done) {
    const __m128i k128 = _mm_set_epi32(0, static_cast<int>(Fold128Hi), 0, static_cast<int>(Fold128Lo));
    while (count >= 16) {
        x = _mm_xor_si128(Fold(x, k128), Load128(p));
        p += 16;
        count -= 16;
    }
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
    *done = static_cast<size_t>(p - start);
    return UpdateBySlices(last, 16, 0);
}

// count >= 64. Returns the register after the whole multiple of 16 bytes;
// *done receives that count.
#ifdef __i386__
__attribute__((force_align_arg_pointer))  // 32-bit Windows keeps the stack at 4 bytes
#endif
__attribute__((target("pclmul,sse2"))) uint32_t UpdateCarryless(const uint8_t* p, size_t count, uint32_t crc,
                                                                  size_t* done) {
    const uint8_t* const start = p;
    __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load128(p + 16);
    __m128i x2 = Load128(p + 32);
    __m128i x3 = Load128(p + 48);
    p += 64;
    count -= 64;
    const __m128i k512 = _mm_set_epi32(0, static_cast<int>(Fold512Hi), 0, static_cast<int>(Fold512Lo));
    while (count >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load128(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load128(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load128(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load128(p + 48));
        p += 64;
        count -= 64;
    }
    const __m128i k128 = _mm_set_epi32(0, static_cast<int>(Fold128Hi), 0, static_cast<int>(Fold128Lo));
    __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
    x = _mm_xor_si128(Fold(x, k128), x2);
    x = _mm_xor_si128(Fold(x, k128), x3);
    return FoldRest(x, p, count, start, done);
}

#ifdef CE_CRC_WIDE
__attribute__((target("avx2"))) inline __m256i Load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// count >= 128, as UpdateCarryless: 128 bytes a step in four 256-bit lanes,
// each multiply folding two blocks.
__attribute__((target("avx2,vpclmulqdq,pclmul"))) uint32_t UpdateWide(const uint8_t* p, size_t count, uint32_t crc,
                                                                        size_t* done) {
    const uint8_t* const start = p;
    const __m256i k1024 = _mm256_set_epi64x(static_cast<int64_t>(Fold1024Hi), static_cast<int64_t>(Fold1024Lo),
                                            static_cast<int64_t>(Fold1024Hi), static_cast<int64_t>(Fold1024Lo));
    __m256i y[4];
    for (int i = 0; i < 4; ++i) y[i] = Load256(p + 32 * i);
    y[0] = _mm256_xor_si256(y[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
    p += 128;
    count -= 128;
    while (count >= 128) {
        for (int i = 0; i < 4; ++i) {
            __m256i folded = _mm256_xor_si256(_mm256_clmulepi64_epi128(y[i], k1024, 0x00),
                                              _mm256_clmulepi64_epi128(y[i], k1024, 0x11));
            y[i] = _mm256_xor_si256(folded, Load256(p + 32 * i));
        }
        p += 128;
        count -= 128;
    }
    const __m128i k128 = _mm_set_epi32(0, static_cast<int>(Fold128Hi), 0, static_cast<int>(Fold128Lo));
    __m128i x = _mm256_castsi256_si128(y[0]);
    x = _mm_xor_si128(Fold(x, k128), _mm256_extracti128_si256(y[0], 1));
    for (int i = 1; i < 4; ++i) {
        x = _mm_xor_si128(Fold(x, k128), _mm256_castsi256_si128(y[i]));
        x = _mm_xor_si128(Fold(x, k128), _mm256_extracti128_si256(y[i], 1));
    }
    return FoldRest(x, p, count, start, done);
}

// AVX2 and VPCLMULQDQ, and a system that saves the 256-bit registers.
bool HasWideCarrylessMultiply() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 6) != 6) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2) && (c & bit_VPCLMULQDQ);
}
#endif

bool HasCarrylessMultiply() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_PCLMUL) && (d & bit_SSE2);
}
#endif

}  // namespace

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t v = n;
        for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        CrcTable[n] = v;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t v = CrcTable[n];
        for (int k = 0; k < SliceCount - 1; ++k) {
            v = (v >> 8) ^ CrcTable[v & 0xFF];
            CrcSlices[k][n] = v;
        }
    }
#ifdef CE_CRC_CARRYLESS
    CrcCarryless = HasCarrylessMultiply();
#endif
#ifdef CE_CRC_WIDE
    CrcWide = CrcCarryless && HasWideCarrylessMultiply();
#endif
}

uint32_t UpdateCrc32(const uint8_t* bytes, size_t count, uint32_t crc) {
#ifdef CE_CRC_CARRYLESS
    if (CrcCarryless && count >= 64) {
        size_t done = 0;
#ifdef CE_CRC_WIDE
        if (CrcWide && count >= 128) {
            crc = UpdateWide(bytes, count, crc, &done);
        } else
#endif
            crc = UpdateCarryless(bytes, count, crc, &done);
        bytes += done;
        count -= done;
    }
#endif
    return UpdateBySlices(bytes, count, crc);
}
