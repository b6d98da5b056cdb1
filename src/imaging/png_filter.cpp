// The filters are the other half of a PNG decoder's time besides the
// decompressor. Up is independent per byte; Sub, Average and Paeth depend on
// the pixel to the left, so they are done a pixel at a time: for 3- and 4-byte
// pixels all bytes of a pixel at once in one SSE2 register where available.
#include "imaging/png_filter.h"

#include "imaging/kernels.h"

#include <cstring>
#if defined(QX_X86)
#include <immintrin.h>
#endif

namespace {

enum : BYTE { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

inline BYTE PaethPredictor(int a, int b, int c)
{
    const int pa = b > c ? b - c : c - b;          // |p - a| with p = a + b - c
    const int pb = a > c ? a - c : c - a;          // |p - b|
    const int pc = a + b > 2 * c ? a + b - 2 * c : 2 * c - a - b;
    return (BYTE)(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Byte-wise forms, with the left neighbour 'bpp' bytes back; the zero bytes
// in front of both rows make the first pixel no special case.
template <DWORD bpp>
void UnfilterBytes(BYTE type, BYTE* row, const BYTE* prev, DWORD n)
{
    switch (type) {
    case kSub:
        for (DWORD i = 0; i < n; ++i)
            row[i] = (BYTE)(row[i] + row[(ptrdiff_t)i - (ptrdiff_t)bpp]);
        break;
    case kAverage:
        for (DWORD i = 0; i < n; ++i)
            row[i] = (BYTE)(row[i] + ((row[(ptrdiff_t)i - (ptrdiff_t)bpp] + prev[i]) >> 1));
        break;
    case kPaeth:
        for (DWORD i = 0; i < n; ++i)
            row[i] = (BYTE)(row[i] + PaethPredictor(row[(ptrdiff_t)i - (ptrdiff_t)bpp], prev[i],
                                                    prev[(ptrdiff_t)i - (ptrdiff_t)bpp]));
        break;
    }
}

#if defined(QX_X86)
// One pixel of 3 or 4 bytes in the low lanes of a register. Reading 4 bytes
// for a 3-byte pixel is allowed by the rows' tail; writing back only 3 keeps
// the next pixel's raw byte.
template <DWORD bpp>
QX_TARGET_SSE2 QX_INLINE __m128i LoadPixel(const BYTE* p)
{
    int v;
    memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

template <DWORD bpp>
QX_TARGET_SSE2 QX_INLINE void StorePixel(BYTE* p, __m128i v)
{
    int x = _mm_cvtsi128_si32(v);
    memcpy(p, &x, bpp);
}

template <DWORD bpp>
QX_TARGET_SSE2 void UnfilterPixels(BYTE type, BYTE* row, const BYTE* prev, DWORD n)
{
    const DWORD pixels = n / bpp;
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero;
    switch (type) {
    case kSub:
        for (DWORD i = 0; i < pixels; ++i, row += bpp) {
            a = _mm_add_epi8(a, LoadPixel<bpp>(row));
            StorePixel<bpp>(row, a);
        }
        break;
    case kAverage: {
        const __m128i ones = _mm_set1_epi8(1);
        for (DWORD i = 0; i < pixels; ++i, row += bpp, prev += bpp) {
            const __m128i b = LoadPixel<bpp>(prev);
            // avg_epu8 rounds up; the filter wants (a + b) >> 1.
            __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), ones));
            a = _mm_add_epi8(LoadPixel<bpp>(row), avg);
            StorePixel<bpp>(row, a);
        }
        break;
    }
    case kPaeth: {
        // On 16-bit lanes: p - a = b - c, p - b = a - c, p - c = both summed.
        __m128i c = zero;
        __m128i a16 = zero;
        for (DWORD i = 0; i < pixels; ++i, row += bpp, prev += bpp) {
            const __m128i b = _mm_unpacklo_epi8(LoadPixel<bpp>(prev), zero);
            const __m128i x = LoadPixel<bpp>(row);
            const __m128i pbc = _mm_sub_epi16(b, c);
            const __m128i pac = _mm_sub_epi16(a16, c);
            const __m128i sum = _mm_add_epi16(pbc, pac);
            const __m128i pa = _mm_max_epi16(pbc, _mm_sub_epi16(zero, pbc));
            const __m128i pb = _mm_max_epi16(pac, _mm_sub_epi16(zero, pac));
            const __m128i pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
            const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
            const __m128i useC = _mm_cmpgt_epi16(pb, pc);
            const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
            const __m128i pred = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a16));
            const __m128i out = _mm_add_epi8(x, _mm_packus_epi16(pred, pred));
            StorePixel<bpp>(row, out);
            a16 = _mm_unpacklo_epi8(out, zero);
            c = b;
        }
        break;
    }
    }
}
#endif

// A filter type the row may carry; the kinds that need no left neighbour
// are done here.
inline bool KnownFilter(BYTE type) { return type <= kPaeth; }

BOOL UnfilterScalar(BYTE type, BYTE* row, const BYTE* prev, DWORD bytes, DWORD pixelBytes)
{
    if (!KnownFilter(type))
        return FALSE;
    if (type == kUp) {
        for (DWORD i = 0; i < bytes; ++i)
            row[i] = (BYTE)(row[i] + prev[i]);
        return TRUE;
    }
    switch (pixelBytes) {
    case 1: UnfilterBytes<1>(type, row, prev, bytes); break;
    case 2: UnfilterBytes<2>(type, row, prev, bytes); break;
    case 3: UnfilterBytes<3>(type, row, prev, bytes); break;
    default: UnfilterBytes<4>(type, row, prev, bytes); break;
    }
    return TRUE;
}

void RgbToBgrScalar(const BYTE* src, DWORD pixels, BYTE* dst)
{
    for (DWORD i = 0; i < pixels; ++i, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

#if defined(QX_X86)
QX_TARGET_SSE2 BOOL UnfilterSse2(BYTE type, BYTE* row, const BYTE* prev, DWORD bytes, DWORD pixelBytes)
{
    if (type == kUp) {
        DWORD i = 0;
        for (; i + 16 <= bytes; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(a, b));
        }
        for (; i < bytes; ++i)
            row[i] = (BYTE)(row[i] + prev[i]);
        return TRUE;
    }
    if (KnownFilter(type) && type != kNone && pixelBytes >= 3 && bytes % pixelBytes == 0) {
        if (pixelBytes == 3)
            UnfilterPixels<3>(type, row, prev, bytes);
        else
            UnfilterPixels<4>(type, row, prev, bytes);
        return TRUE;
    }
    return UnfilterScalar(type, row, prev, bytes, pixelBytes);
}

// Five pixels per shuffle: 16 bytes read, the 15 of five pixels reordered,
// 16 written; the 16th is the next pixel's and is written again after. So
// the loop stops while a sixth pixel follows.
QX_TARGET_SSE41 void RgbToBgrSse41(const BYTE* src, DWORD pixels, BYTE* dst)
{
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    DWORD i = 0;
    for (; i + 6 <= pixels; i += 5, src += 15, dst += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, swap));
    }
    RgbToBgrScalar(src, pixels - i, dst);
}
#endif

} // namespace

void PngChooseKernels(IMG_KERNELS* k)
{
    k->unfilter = UnfilterScalar;
    k->rgbToBgr = RgbToBgrScalar;
#if defined(QX_X86)
    if (k->level >= IMG_KERNELS_SSE2)
        k->unfilter = UnfilterSse2;
    if (k->level >= IMG_KERNELS_SSE41)
        k->rgbToBgr = RgbToBgrSse41;
#endif
}

BOOL Png_Unfilter(BYTE type, BYTE* row, const BYTE* prev, DWORD bytes, DWORD pixelBytes)
{
    return Img_GetKernels()->unfilter(type, row, prev, bytes, pixelBytes);
}
