// CRC-32 by slicing: sixteen tables, built at start-up, fold sixteen bytes
// per step. CrcTable is the classic byte-wise table and the first of the sixteen;
// the result is the same as the byte-wise loop for every input.
#include <cstring>

#include "launcher/extract_entry.h"

uint32_t CrcTable[256];

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
}

uint32_t UpdateCrc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    const uint8_t* p = bytes;
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
