// CRC-32 and Adler-32 for the PNG decoder. Both run over every byte of a
// picture (the CRC over the compressed chunks, the Adler-32 over the
// decompressed rows), so both process several bytes per step.
#include "imaging/checksum.h"

#include "imaging/kernels.h"

#include <cstring>
#if defined(QX_X86)
#include <immintrin.h>
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

// Slicing-by-8 over the CRC register (not complemented).
DWORD CrcTables8(DWORD crc, const BYTE* p, SIZE_T size)
{
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
    return crc;
}

DWORD CrcScalar(DWORD crc, const BYTE* p, SIZE_T size) { return ~CrcTables8(~crc, p, size); }

// Eight bytes at a time into the two sums, for the plain kernel and the tails.
inline void AdlerBytes(DWORD& s1, DWORD& s2, const BYTE*& p, SIZE_T n)
{
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
}

DWORD AdlerScalar(DWORD adler, const BYTE* p, SIZE_T size)
{
    DWORD s1 = adler & 0xFFFF;
    DWORD s2 = adler >> 16;
    while (size) {
        const SIZE_T n = size < kAdlerBlock ? size : kAdlerBlock;
        size -= n;
        AdlerBytes(s1, s2, p, n);
        s1 %= kAdlerMod;
        s2 %= kAdlerMod;
    }
    return (s2 << 16) | s1;
}

#if defined(QX_X86)
// The vector kernels sum whole steps of a block and leave the rest of it to
// AdlerBytes: per block, the bytes' sum, the sum of the byte sums of the
// steps before each step, and the sum of the bytes weighted by their
// distance from the end of their step (kWidth for the first byte, 1 for the last).
struct AdlerSums {
    unsigned long long bytes, before, weighted;
};

template <SIZE_T kWidth, AdlerSums (*kSteps)(const BYTE* p, SIZE_T steps)>
DWORD AdlerVector(DWORD adler, const BYTE* p, SIZE_T size)
{
    DWORD s1 = adler & 0xFFFF;
    DWORD s2 = adler >> 16;
    while (size) {
        SIZE_T n = size < kAdlerBlock ? size : kAdlerBlock;
        size -= n;
        const SIZE_T steps = n / kWidth;
        if (steps) {
            const AdlerSums sums = kSteps(p, steps);
            const unsigned long long sum2 = s2 + (unsigned long long)kWidth * steps * s1 + kWidth * sums.before + sums.weighted;
            s1 = (DWORD)((s1 + sums.bytes) % kAdlerMod);
            s2 = (DWORD)(sum2 % kAdlerMod);
            p += steps * kWidth;
            n -= steps * kWidth;
        }
        AdlerBytes(s1, s2, p, n);
        s1 %= kAdlerMod;
        s2 %= kAdlerMod;
    }
    return (s2 << 16) | s1;
}

QX_TARGET_SSE2 QX_INLINE unsigned long long Sum4(__m128i v)
{
    alignas(16) DWORD a[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), v);
    return (unsigned long long)a[0] + a[1] + a[2] + a[3];
}

// 16 bytes per step: byte sums through SAD, weighted sums through
// multiply-add on 16-bit lanes.
QX_TARGET_SSE2 AdlerSums AdlerSteps16(const BYTE* p, SIZE_T steps)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i wHi = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i wLo = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i vs1 = zero, vs1Before = zero, vs2 = zero;
    for (SIZE_T c = 0; c < steps; ++c, p += 16) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        vs1Before = _mm_add_epi32(vs1Before, vs1);
        vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpacklo_epi8(d, zero), wHi));
        vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), wLo));
        vs1 = _mm_add_epi32(vs1, _mm_sad_epu8(d, zero));
    }
    return { Sum4(vs1), Sum4(vs1Before), Sum4(vs2) };
}

QX_TARGET_AVX2 QX_INLINE __m128i Halves(__m256i v)
{
    return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// 32 bytes per step: the weighted sums through an unsigned-by-signed byte
// multiply-add and a 16-bit one.
QX_TARGET_AVX2 AdlerSums AdlerSteps32(const BYTE* p, SIZE_T steps)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                                             13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    __m256i vs1 = zero, vs1Before = zero, vs2 = zero;
    for (SIZE_T c = 0; c < steps; ++c, p += 32) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        vs1Before = _mm256_add_epi32(vs1Before, vs1);
        vs1 = _mm256_add_epi32(vs1, _mm256_sad_epu8(d, zero));
        vs2 = _mm256_add_epi32(vs2, _mm256_madd_epi16(_mm256_maddubs_epi16(d, weights), ones));
    }
    return { Sum4(Halves(vs1)), Sum4(Halves(vs1Before)), Sum4(Halves(vs2)) };
}

// Carry-less multiplication folds 64 bytes per step into four 128-bit
// remainders (the folding method of Intel's "Fast CRC Computation Using
// PCLMULQDQ"), then reduces them to 32 bits; several times faster than the
// tables. Takes and returns the CRC register (not complemented); size is a
// multiple of 16, at least 64.
QX_TARGET_CLMUL inline __m128i Load128(const BYTE* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// x * (k.low, k.high): the 128 bits moved forward by the distance k encodes.
QX_TARGET_CLMUL inline __m128i Fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

QX_TARGET_CLMUL DWORD CrcFold(DWORD crc, const BYTE* p, SIZE_T size)
{
    // x^(4*128+64) mod P, x^(4*128) mod P (bit-reflected, one bit shifted).
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    // x^(128+64) mod P, x^128 mod P: fold 128 bits.
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    // P' (the polynomial) and the Barrett constant floor(x^64 / P).
    const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128((int)crc));
    __m128i x2 = Load128(p + 16), x3 = Load128(p + 32), x4 = Load128(p + 48);
    p += 64;
    size -= 64;
    while (size >= 64) {
        x1 = _mm_xor_si128(Fold(x1, k1k2), Load128(p));
        x2 = _mm_xor_si128(Fold(x2, k1k2), Load128(p + 16));
        x3 = _mm_xor_si128(Fold(x3, k1k2), Load128(p + 32));
        x4 = _mm_xor_si128(Fold(x4, k1k2), Load128(p + 48));
        p += 64;
        size -= 64;
    }
    x1 = _mm_xor_si128(Fold(x1, k3k4), x2);
    x1 = _mm_xor_si128(Fold(x1, k3k4), x3);
    x1 = _mm_xor_si128(Fold(x1, k3k4), x4);
    while (size >= 16) {
        x1 = _mm_xor_si128(Fold(x1, k3k4), Load128(p));
        p += 16;
        size -= 16;
    }
    // 128 bits to 64, then 96 to 64 (appending the 32 zero bits of the CRC).
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x10), _mm_srli_si128(x1, 8));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), _mm_srli_si128(x1, 4));
    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    return (DWORD)_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(t, x1), 4));
}

DWORD CrcClmul(DWORD crc, const BYTE* p, SIZE_T size)
{
    crc = ~crc;
    if (size >= 64) {
        const SIZE_T n = size & ~(SIZE_T)15;
        crc = CrcFold(crc, p, n);
        p += n;
        size -= n;
    }
    return ~CrcTables8(crc, p, size);
}
#endif

} // namespace

void ChecksumChooseKernels(IMG_KERNELS* k)
{
    k->crc32 = CrcScalar;
    k->adler32 = AdlerScalar;
#if defined(QX_X86)
    if (k->clmul)
        k->crc32 = CrcClmul;
    if (k->level >= IMG_KERNELS_SSE2)
        k->adler32 = AdlerVector<16, AdlerSteps16>;
    if (k->level >= IMG_KERNELS_AVX2)
        k->adler32 = AdlerVector<32, AdlerSteps32>;
#endif
}

DWORD Crc32Update(DWORD crc, const BYTE* p, SIZE_T size) { return Img_GetKernels()->crc32(crc, p, size); }

DWORD Adler32Update(DWORD adler, const BYTE* p, SIZE_T size) { return Img_GetKernels()->adler32(adler, p, size); }
