// CRC-32 and Adler-32 for the PNG decoder. Both run over every byte of a
// picture (the CRC over the compressed chunks, the Adler-32 over the
// decompressed rows), so both process several bytes per step.
#include "imaging/checksum.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Slicing-by-8: table k holds the CRC of a byte followed by k zero bytes, so
// eight bytes are folded per step with eight independent lookups.
struct CrcTables {
    DWORD t[8][256];
};

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (DWORD n = 0; n < 256; ++n) {
        DWORD c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables.t[0][n] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (DWORD n = 0; n < 256; ++n) {
            DWORD prev = tables.t[k - 1][n];
            tables.t[k][n] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    return tables;
}

constexpr CrcTables kCrc = MakeCrcTables();
static_assert(kCrc.t[0][1] == 0x77073096u, "CRC-32 table");

inline DWORD Load32(const BYTE* p)
{
    DWORD v;
    memcpy(&v, p, 4);  // the module only runs on little-endian machines
    return v;
}

// The largest n such that 255 n (n + 1) / 2 + (n + 1) (65520) stays below
// 2^32: that many bytes can be summed before the sums must be reduced.
constexpr SIZE_T kAdlerBlock = 5552;
constexpr DWORD kAdlerMod = 65521;

} // namespace

DWORD Crc32Update(DWORD crc, const BYTE* p, SIZE_T size)
{
    crc = ~crc;
    while (size && (reinterpret_cast<UINT_PTR>(p) & 7)) {
        crc = kCrc.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
        --size;
    }
    while (size >= 8) {
        DWORD a = Load32(p) ^ crc;
        DWORD b = Load32(p + 4);
        crc = kCrc.t[7][a & 0xFF] ^ kCrc.t[6][(a >> 8) & 0xFF] ^ kCrc.t[5][(a >> 16) & 0xFF] ^
              kCrc.t[4][a >> 24] ^ kCrc.t[3][b & 0xFF] ^ kCrc.t[2][(b >> 8) & 0xFF] ^
              kCrc.t[1][(b >> 16) & 0xFF] ^ kCrc.t[0][b >> 24];
        p += 8;
        size -= 8;
    }
    while (size--)
        crc = kCrc.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

DWORD Adler32Update(DWORD adler, const BYTE* p, SIZE_T size)
{
    DWORD s1 = adler & 0xFFFF;
    DWORD s2 = adler >> 16;
    while (size) {
        SIZE_T n = size < kAdlerBlock ? size : kAdlerBlock;
        size -= n;
#if defined(__SSE2__)
        // 16 bytes per step: byte sums through SAD, position-weighted sums
        // through multiply-add on 16-bit lanes, combined once per block.
        SIZE_T chunks = n / 16;
        if (chunks) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i wHi = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
            const __m128i wLo = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
            __m128i vs1 = zero, vs1Before = zero, vs2 = zero;
            for (SIZE_T c = 0; c < chunks; ++c) {
                __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                p += 16;
                vs1Before = _mm_add_epi32(vs1Before, vs1);
                vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpacklo_epi8(d, zero), wHi));
                vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), wLo));
                vs1 = _mm_add_epi32(vs1, _mm_sad_epu8(d, zero));
            }
            alignas(16) DWORD a[4], b[4], c[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(a), vs1);
            _mm_store_si128(reinterpret_cast<__m128i*>(b), vs1Before);
            _mm_store_si128(reinterpret_cast<__m128i*>(c), vs2);
            unsigned long long sum1 = (unsigned long long)a[0] + a[2];
            unsigned long long sum2 = s2 + 16ull * chunks * s1 +
                                      16ull * ((unsigned long long)b[0] + b[1] + b[2] + b[3]) +
                                      ((unsigned long long)c[0] + c[1] + c[2] + c[3]);
            s1 = (DWORD)((s1 + sum1) % kAdlerMod);
            s2 = (DWORD)(sum2 % kAdlerMod);
            n -= chunks * 16;
        }
#endif
        while (n >= 8) {
            s1 += p[0]; s2 += s1; s1 += p[1]; s2 += s1;
            s1 += p[2]; s2 += s1; s1 += p[3]; s2 += s1;
            s1 += p[4]; s2 += s1; s1 += p[5]; s2 += s1;
            s1 += p[6]; s2 += s1; s1 += p[7]; s2 += s1;
            p += 8;
            n -= 8;
        }
        while (n--) {
            s1 += *p++;
            s2 += s1;
        }
        s1 %= kAdlerMod;
        s2 %= kAdlerMod;
    }
    return (s2 << 16) | s1;
}
