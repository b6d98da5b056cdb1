// JPEG reconstruction and output: scaled dequantisation tables, the integer
// inverse DCT, replication of subsampled components and YCbCr to BGR into a
// bottom-up 24-bit DIB section.
//
// The arithmetic is fixed to the bit: a second decoder in the tests must give
// the same pixels. All transform values are 32-bit and wrap like the 32-bit
// registers they model (held as uint32_t, so that hostile coefficients cannot
// make signed overflow); right shifts are arithmetic.
#include "imaging/jpeg_decoder.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The transform's vector helpers never cross a call boundary that another
// module sees, so GCC's note that returning a vector without SSE changes the
// ABI (the 32-bit build) does not apply to them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

// Transform constants, as multipliers followed by a shift right of 6:
// 45 = trunc(64 cos(pi/4)), 34 = trunc(32 / cos(pi/8)), 83 = trunc(32 / cos(3pi/8)).
constexpr int32_t kC4 = 45;
constexpr int32_t kC2 = 34;
constexpr int32_t kC6 = 83;

// f(k) = 1 / (sqrt(2) cos(k pi / 16)), f(0) = 1. f(4) is 1 exactly; written
// as a literal it stays exact, where computing it would land one ulp below 1
// and truncate 4096 x Q / 8 to one less than it is. The test checks the table
// against the cosines.
constexpr double kAanFactor[8] = {
    1.0, 0.7209598220069479, 0.7653668647301796, 0.8504300947672564,
    1.0, 1.2727585805728336, 1.847759065022573,  3.6245097854115502,
};

// The three multiplies written as shifts and adds: the same 32-bit results,
// and cheap in vector registers, which have no 32-bit multiply before SSE4.1.
template <typename T>
constexpr T Times45(T v) { return (v << 5) + (v << 3) + (v << 2) + v; }
template <typename T>
constexpr T Times34(T v) { return (v << 5) + (v << 1); }
template <typename T>
constexpr T Times83(T v) { return (v << 6) + (v << 4) + (v << 1) + v; }
static_assert(Times45(1u) == kC4 && Times34(1u) == kC2 && Times83(1u) == kC6, "transform constants");

// Four lanes of 32-bit values (GCC/Clang vector extension: SSE2 registers on
// x86, plain scalar code where there are none).
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef int32_t I32x4 __attribute__((vector_size(16)));

inline uint32_t Shift6(uint32_t v) { return (uint32_t)((int32_t)v >> 6); }
inline U32x4 Shift6(U32x4 v) { return (U32x4)((I32x4)v >> 6); }

// The butterfly shared by both passes, for one row or column (uint32_t) or
// four columns at once (U32x4); `bias` is added to e0 and e1.
template <typename T>
inline void Butterfly(const T d[8], uint32_t bias, T out[8])
{
    T e0 = d[0] + d[4] + bias;
    T e1 = d[0] - d[4] + bias;
    T e2 = d[2] + d[6];
    T e3 = Shift6(Times45(d[2] - d[6]));
    T a = e0 + e2 + e3;
    T b = e1 + e3;
    T c = e1 - e3;
    T g = e0 - e2 - e3;

    T o1 = d[1] + d[7];
    T o2 = d[1] - d[7];
    T o3 = d[5] + d[3];
    T o4 = d[5] - d[3];
    T t0 = o1 + o3;
    T t1 = Shift6(Times34(o2));
    T t2 = Shift6(Times83(o4));
    T t3 = o1 - o3;
    T u0 = Shift6(Times45(t1 + t2));
    T u1 = Shift6(Times45(t3));
    T u2 = t1 - t2;
    T w0 = u0 + u2 + t0;
    T w1 = u0 + u1 + u2;
    T w2 = u0 + u1;
    T w3 = u0;

    out[0] = a + w0;
    out[1] = b + w1;
    out[2] = c + w2;
    out[3] = g + w3;
    out[4] = g - w3;
    out[5] = c - w2;
    out[6] = b - w1;
    out[7] = a - w0;
}

inline BYTE ClampShift(uint32_t v)
{
    int32_t x = (int32_t)v >> 12;
    return (BYTE)(x < 0 ? 0 : x > 255 ? 255 : x);
}

constexpr uint32_t kColumnBias = 0x80800;   // 128.5 x 4096: level shift and rounding

// ---- colour ----------------------------------------------------------------------
// 1.402, 1.772, 0.34414 and 0.71414 in 16.16 fixed point (JFIF conversion).
struct ColourTables {
    int32_t crToR[256];
    int32_t cbToB[256];
    int32_t cbToG[256];
    int32_t crToG[256];
};

constexpr ColourTables MakeColourTables()
{
    ColourTables t{};
    for (int i = 0; i < 256; ++i) {
        int32_t x = i - 128;
        t.crToR[i] = (91881 * x + 32768) >> 16;
        t.cbToB[i] = (116130 * x + 32768) >> 16;
        t.cbToG[i] = 22554 * x;
        t.crToG[i] = 46802 * x;
    }
    return t;
}

constexpr ColourTables kColour = MakeColourTables();

inline BYTE Clamp255(int32_t v) { return (BYTE)(v < 0 ? 0 : v > 255 ? 255 : v); }

// The samples of a component's row that picture row y uses, at the
// component's own resolution (replication across happens later).
uint32_t GatherSamples(const JPEG_COMPONENT* c, uint32_t y, uint32_t width, BYTE* line)
{
    uint32_t cy = y / c->vrep;
    const BYTE* src = c->plane + (size_t)((cy >> 3) - c->planeBase) * c->fullAcross * 64 + (cy & 7) * 8;
    uint32_t samples = (width + c->hrep - 1) / c->hrep;
    for (uint32_t b = 0; b < (samples + 7) / 8; ++b)
        memcpy(line + b * 8, src + b * 64, 8);
    return samples;
}

// Replication across: each of n values written `times` times.
template <typename T>
void Replicate(const T* src, uint32_t n, uint32_t times, T* dst)
{
    if (times == 2) {
        for (uint32_t i = 0; i < n; ++i)
            dst[2 * i] = dst[2 * i + 1] = src[i];
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t r = 0; r < times; ++r)
                *dst++ = src[i];
        }
    }
}

// One picture row of a component, replicated across, into `line`; `scratch`
// holds the unreplicated samples when there is replication to do.
const BYTE* ComponentRow(const JPEG_COMPONENT* c, uint32_t y, uint32_t width, BYTE* line, BYTE* scratch)
{
    if (c->hrep == 1) {
        GatherSamples(c, y, width, line);
        return line;
    }
    uint32_t n = GatherSamples(c, y, width, scratch);
    Replicate(scratch, n, c->hrep, line);
    return line;
}

// The chroma part of the conversion for one row of Cb and Cr samples: what
// is added to Y for blue and red, and subtracted for green. A row of terms
// serves every picture row and column that replicates the same samples.
void ChromaTerms(const BYTE* cb, const BYTE* cr, uint32_t n, int16_t* b, int16_t* g, int16_t* r)
{
    for (uint32_t x = 0; x < n; ++x) {
        b[x] = (int16_t)kColour.cbToB[cb[x]];
        g[x] = (int16_t)((kColour.cbToG[cb[x]] + kColour.crToG[cr[x]] + 32768) >> 16);
        r[x] = (int16_t)kColour.crToR[cr[x]];
    }
}

#if defined(__SSE2__)
// Four 4-byte pixels (blue, green, red, 0) to 12 bytes at `out`; writes 2
// bytes beyond them, which the caller's next pixels overwrite.
inline void StorePixels3(__m128i pixels, BYTE* out)
{
    // In each 64-bit half: pixel 0's three bytes, then pixel 1's.
    const __m128i low24 = _mm_set1_epi64x(0xFFFFFF);
    __m128i packed = _mm_or_si128(_mm_and_si128(pixels, low24), _mm_srli_epi64(_mm_andnot_si128(low24, pixels), 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(packed, 8));
}

// Eight pixels from 16-bit Y and chroma terms: Y + blue term, Y - green
// term, Y + red term, clamped, to 24 bytes at `out` (and 2 beyond). The
// saturating packs clamp to 0..255 as Clamp255 does.
inline void StoreConverted8(__m128i lum, __m128i tb, __m128i tg, __m128i tr, BYTE* out)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i blue = _mm_packus_epi16(_mm_add_epi16(lum, tb), zero);
    __m128i green = _mm_packus_epi16(_mm_sub_epi16(lum, tg), zero);
    __m128i red = _mm_packus_epi16(_mm_add_epi16(lum, tr), zero);
    __m128i bg = _mm_unpacklo_epi8(blue, green);
    __m128i r0 = _mm_unpacklo_epi8(red, zero);
    StorePixels3(_mm_unpacklo_epi16(bg, r0), out);
    StorePixels3(_mm_unpackhi_epi16(bg, r0), out + 12);
}
#endif

// Y plus the chroma terms, clamped, as blue, green, red. `step` is 1 when
// the terms are one per pixel, 2 when each serves two pixels across.
void ConvertColourRow(const BYTE* y, const int16_t* b, const int16_t* g, const int16_t* r, uint32_t width, uint32_t step,
                      BYTE* out)
{
    uint32_t x = 0;
#if defined(__SSE2__)
    // Eight pixels at a time while a ninth follows (the stores run 2 bytes
    // into it).
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 < width; x += 8) {
        __m128i lum = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
        __m128i tb, tg, tr;
        if (step == 2) {
            tb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + x / 2));
            tg = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(g + x / 2));
            tr = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r + x / 2));
            tb = _mm_unpacklo_epi16(tb, tb);
            tg = _mm_unpacklo_epi16(tg, tg);
            tr = _mm_unpacklo_epi16(tr, tr);
        } else {
            tb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
            tg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
            tr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x));
        }
        StoreConverted8(lum, tb, tg, tr, out + 3 * x);
    }
#endif
    for (; x < width; ++x) {
        int32_t lum = y[x];
        uint32_t t = step == 2 ? x / 2 : x;
        out[3 * x] = Clamp255(lum + b[t]);
        out[3 * x + 1] = Clamp255(lum - g[t]);
        out[3 * x + 2] = Clamp255(lum + r[t]);
    }
}

// Full-resolution colour (4:4:4): Y, Cb and Cr of a picture row are read
// straight from the three sample planes, 8 samples per block, with no line
// copies and no chroma terms kept between rows. `yp`, `cbp` and `crp` point
// at the row's samples in the first block of its block row.
void ConvertBlockRow444(const BYTE* yp, const BYTE* cbp, const BYTE* crp, uint32_t width, BYTE* out)
{
    uint32_t x = 0;
#if defined(__SSE2__)
    // The table entries worked out in 32-bit lanes with 16 x 16-bit multiply-
    // adds, to the same values: a factor above 32767 is split as a multiple
    // of 65536 (which passes through the shift right of 16 whole) plus a
    // remainder, e.g. 91881 x = 65536 x + 26345 x; the rounding constant 32768
    // enters as 2 x 16384.
    //   Cr to red:    x + (26345 x + 32768) >> 16
    //   Cb to blue:   2x + (-14942 x + 32768) >> 16
    //   green term:   cr + (22554 cb - 18734 cr + 32768) >> 16
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i redK = _mm_set1_epi32(16384 << 16 | 26345);
    const __m128i blueK = _mm_set1_epi32(16384 << 16 | (uint16_t)-14942);
    const __m128i greenK = _mm_set1_epi32((uint32_t)(uint16_t)-18734 << 16 | 22554);
    const __m128i round = _mm_set1_epi32(32768);
    // Eight pixels (one block) at a time while a ninth follows: the stores
    // run 2 bytes into it.
    for (; x + 8 < width; x += 8, yp += 64, cbp += 64, crp += 64) {
        __m128i lum = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(yp)), zero);
        __m128i cb = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cbp)), zero), bias);
        __m128i cr = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(crp)), zero), bias);
        __m128i tr = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr, two), redK), 16),
                                     _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr, two), redK), 16));
        __m128i tb = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, two), blueK), 16),
                                     _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, two), blueK), 16));
        __m128i cbcrLo = _mm_unpacklo_epi16(cb, cr), cbcrHi = _mm_unpackhi_epi16(cb, cr);
        __m128i tg = _mm_packs_epi32(
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(cbcrLo, greenK), round), 16),
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(cbcrHi, greenK), round), 16));
        tr = _mm_add_epi16(tr, cr);
        tb = _mm_add_epi16(tb, _mm_add_epi16(cb, cb));
        tg = _mm_add_epi16(tg, cr);
        StoreConverted8(lum, tb, tg, tr, out + 3 * x);
    }
#endif
    for (; x < width; x += 8, yp += 64, cbp += 64, crp += 64) {
        const uint32_t n = width - x < 8 ? width - x : 8;
        for (uint32_t i = 0; i < n; ++i) {
            int32_t lum = yp[i];
            BYTE* px = out + 3 * (x + i);
            px[0] = Clamp255(lum + kColour.cbToB[cbp[i]]);
            px[1] = Clamp255(lum - ((kColour.cbToG[cbp[i]] + kColour.crToG[crp[i]] + 32768) >> 16));
            px[2] = Clamp255(lum + kColour.crToR[crp[i]]);
        }
    }
}

} // namespace

void JpegScaleQuant(JPEG_QUANT_TABLE* table)
{
    for (int k = 0; k < 64; ++k) {
        int n = kJpegZigzag[k];
        double q = table->raw[k];
        table->scaled[n] = (uint32_t)(4096.0 * kAanFactor[n >> 3] * kAanFactor[n & 7] / 8.0 * q);
    }
}

void JpegIdctBlock(const int16_t* coef, const uint32_t* q, BYTE* out, int stride)
{
    // Rows 1 to 7 all zero (common at low detail): the row pass leaves them
    // zero, every column's butterfly then gives its row-0 value plus the
    // bias, and the block is its first row repeated.
    int16_t lower = 0;
    for (int i = 8; i < 64; ++i)
        lower |= coef[i];
    if (lower == 0) {
        uint32_t d[8], t[8];
        for (int i = 0; i < 8; ++i)
            d[i] = (uint32_t)(int32_t)coef[i] * q[i];
        Butterfly(d, 0, t);
        BYTE row[8];
        for (int i = 0; i < 8; ++i)
            row[i] = ClampShift(t[i] + kColumnBias);
        for (int r = 0; r < 8; ++r)
            memcpy(out + r * stride, row, 8);
        return;
    }
    // Rows one at a time (most rows of most blocks take the shortcut: with
    // coefficients 1 to 7 zero the butterfly gives d0 in all eight places),
    // then the columns four at a time.
    alignas(16) uint32_t t[64];
    for (int r = 0; r < 8; ++r) {
        const int16_t* c = coef + r * 8;
        const uint32_t* qr = q + r * 8;
        uint32_t* tr = t + r * 8;
        uint32_t d0 = (uint32_t)(int32_t)c[0] * qr[0];
        if ((c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
            for (int i = 0; i < 8; ++i)
                tr[i] = d0;
            continue;
        }
        uint32_t d[8];
        for (int i = 0; i < 8; ++i)
            d[i] = (uint32_t)(int32_t)c[i] * qr[i];
        Butterfly(d, 0, tr);
    }
    U32x4 o[2][8];
    for (int h = 0; h < 2; ++h) {
        U32x4 d[8];
        for (int i = 0; i < 8; ++i)
            memcpy(&d[i], t + i * 8 + 4 * h, 16);
        Butterfly(d, kColumnBias, o[h]);
    }
    for (int r = 0; r < 8; ++r) {
        I32x4 lo = (I32x4)o[0][r] >> 12, hi = (I32x4)o[1][r] >> 12;
        BYTE* dst = out + r * stride;
#if defined(__SSE2__)
        // Saturating packs to 16 and then to unsigned 8 bits clamp to 0..255
        // exactly as the comparisons below do.
        __m128i words = _mm_packs_epi32((__m128i)lo, (__m128i)hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(words, words));
#else
        for (int i = 0; i < 4; ++i) {
            dst[i] = (BYTE)(lo[i] < 0 ? 0 : lo[i] > 255 ? 255 : lo[i]);
            dst[4 + i] = (BYTE)(hi[i] < 0 ? 0 : hi[i] > 255 ? 255 : hi[i]);
        }
#endif
    }
}

void JpegIdctDcOnly(int16_t dc, const uint32_t* q, BYTE* out, int stride)
{
    // With only d0 every butterfly output of both passes is d0 (plus the bias).
    BYTE v = ClampShift((uint32_t)(int32_t)dc * q[0] + kColumnBias);
    for (int r = 0; r < 8; ++r)
        memset(out + r * stride, v, 8);
}

BOOL JpegCreateOutput(JPEG_DECODER* d)
{
    DWORD rowBytes = Img_GetRowBytes(d->width, 24);
    if ((uint64_t)rowBytes * d->height > kJpegMaxBuffer)
        return FALSE;
    BITMAPINFO* header = (BITMAPINFO*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BITMAPINFOHEADER));
    if (!header)
        return FALSE;
    BITMAPINFOHEADER& h = header->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = d->width;
    h.biHeight = d->height;
    h.biPlanes = 1;
    h.biBitCount = d->outBitCount;
    h.biCompression = BI_RGB;
    h.biXPelsPerMeter = 72;
    h.biYPelsPerMeter = 72;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(d->dc, header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib || !bits) {
        if (dib)
            DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, header);
        return FALSE;
    }
    d->header = header;
    d->bits = (BYTE*)bits;
    d->dib = dib;
    return TRUE;
}

namespace {

// Lines as wide as the replicated last MCU: Y, a scratch line of samples,
// Cb, Cr, then three lines of chroma terms (16-bit).
size_t LineBytes(const JPEG_DECODER* d)
{
    return (d->mcusAcross * (size_t)d->mcuWidth + 15) & ~(size_t)15;
}

} // namespace

BOOL JpegAllocLines(JPEG_DECODER* d)
{
    if (!d->lines)
        d->lines = (BYTE*)HeapAlloc(GetProcessHeap(), 0, LineBytes(d) * (d->frameCount == 1 ? 2 : 10));
    return d->lines != nullptr;
}

void JpegConvertRows(JPEG_DECODER* d, uint32_t y0, uint32_t y1)
{
    const uint32_t width = d->width, height = d->height;
    const DWORD rowBytes = Img_GetRowBytes(d->width, 24);
    const int planes = d->frameCount == 1 ? 1 : 3;
    const JPEG_COMPONENT* comps[3];
    for (int i = 0; i < planes; ++i)
        comps[i] = &d->comp[d->frameIds[i]];
    const size_t lineBytes = LineBytes(d);
    BYTE* lines = d->lines;
    BYTE* scratch = lines + lineBytes;
    BYTE* cbLine = lines + 2 * lineBytes;
    BYTE* crLine = lines + 3 * lineBytes;
    int16_t* terms[3];
    for (int i = 0; i < 3; ++i)
        terms[i] = (int16_t*)(lines + 4 * lineBytes) + i * lineBytes;
    // With Cb and Cr sampled alike (as always in practice) the terms are
    // worked out once per chroma sample; replication across by 1 or 2 happens
    // in the conversion, other factors replicate the samples first.
    const bool chromaAlike = planes == 3 && comps[1]->hrep == comps[2]->hrep;
    bool fullColour = planes == 3;
    for (int i = 0; i < planes; ++i)
        fullColour = fullColour && comps[i]->hrep == 1 && comps[i]->vrep == 1;
    uint32_t cbRow = UINT32_MAX, crRow = UINT32_MAX, step = 1;
    for (uint32_t y = y0; y < y1; ++y) {
        BYTE* out = d->bits + (size_t)(height - 1 - y) * rowBytes;
        if (fullColour) {
            // All three planes share one block grid.
            const size_t at = (size_t)((y >> 3) - comps[0]->planeBase) * comps[0]->fullAcross * 64 + (y & 7) * 8;
            ConvertBlockRow444(comps[0]->plane + at, comps[1]->plane + at, comps[2]->plane + at, width, out);
            memset(out + 3 * width, 0, rowBytes - 3 * width);
            continue;
        }
        const BYTE* lum = ComponentRow(comps[0], y, width, lines, scratch);
        if (planes == 1) {
            for (uint32_t x = 0; x < width; ++x)
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = lum[x];
        } else {
            if (y / comps[1]->vrep != cbRow || y / comps[2]->vrep != crRow) {
                cbRow = y / comps[1]->vrep;
                crRow = y / comps[2]->vrep;
                const uint32_t hrep = comps[1]->hrep;
                if (chromaAlike && hrep <= 2) {
                    uint32_t n = GatherSamples(comps[1], y, width, cbLine);
                    GatherSamples(comps[2], y, width, crLine);
                    ChromaTerms(cbLine, crLine, n, terms[0], terms[1], terms[2]);
                    step = hrep;
                } else {
                    ComponentRow(comps[1], y, width, cbLine, scratch);
                    ComponentRow(comps[2], y, width, crLine, scratch);
                    ChromaTerms(cbLine, crLine, width, terms[0], terms[1], terms[2]);
                    step = 1;
                }
            }
            ConvertColourRow(lum, terms[0], terms[1], terms[2], width, step, out);
        }
        memset(out + 3 * width, 0, rowBytes - 3 * width);
    }
}

BOOL JpegBuildPicture(JPEG_DECODER* d)
{
    // A decode in strips has converted every row as its scan went.
    if (!d->dib || d->stripsDone)
        return TRUE;
    const DWORD rowBytes = Img_GetRowBytes(d->width, 24);
    // No scan, or a colour component never scanned: the picture is black
    // (cleared here rather than trusting the section to start out zeroed).
    const int planes = d->frameCount == 1 ? 1 : 3;
    bool complete = d->scansDecoded != 0;
    for (int i = 0; i < planes; ++i)
        complete = complete && d->comp[d->frameIds[i]].plane;
    if (!complete) {
        memset(d->bits, 0, (size_t)rowBytes * d->height);
        return TRUE;
    }
    if (d->progressive) {
        for (int i = 0; i < d->frameCount; ++i) {
            const JPEG_COMPONENT* c = &d->comp[d->frameIds[i]];
            if (!c->coef)
                continue;
            size_t blocks = (size_t)c->fullDown * c->fullAcross;
            for (size_t b = 0; b < blocks; ++b)
                JpegIdctBlock(c->coef + b * 64, c->quant->scaled, c->plane + b * 64, 8);
        }
    }
    if (!JpegAllocLines(d))
        return FALSE;
    JpegConvertRows(d, 0, d->height);
    return TRUE;
}
