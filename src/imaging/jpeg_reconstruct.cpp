// JPEG reconstruction and output: scaled dequantisation tables, the integer
// inverse DCT, replication of subsampled components and YCbCr to BGR into a
// bottom-up 24-bit DIB section.
//
// The arithmetic is fixed to the bit: a second decoder in the tests must give
// the same pixels, and so must every kernel (kernels.h) on every processor.
// All transform values are 32-bit and wrap like the 32-bit registers they
// model (held as uint32_t, so that hostile coefficients cannot make signed
// overflow); right shifts are arithmetic.
#include "imaging/jpeg_decoder.h"

#include "imaging/kernels.h"

#include <cstring>
#if defined(QX_X86)
#include <immintrin.h>
#endif

// The transform's vector helpers are always inlined into kernels marked with
// their instruction set, so the compilers' note that passing a vector without
// SSE or AVX changes the ABI does not apply to them.
#pragma GCC diagnostic ignored "-Wpsabi"


namespace {

// Transform constants, as multipliers followed by a shift right of 6:
// 45 = trunc(64 cos(pi/4)), 34 = trunc(32 / cos(pi/8)), 83 = trunc(32 / cos(3pi/8)).
// Multiplied as 32-bit values that wrap; in vector registers the compilers
// choose between multiplies and shifted adds.
constexpr uint32_t kC4 = 45;
constexpr uint32_t kC2 = 34;
constexpr uint32_t kC6 = 83;

// f(k) = 1 / (sqrt(2) cos(k pi / 16)), f(0) = 1. f(4) is 1 exactly; written
// as a literal it stays exact, where computing it would land one ulp below 1
// and truncate 4096 x Q / 8 to one less than it is. The test checks the table
// against the cosines.
constexpr double kAanFactor[8] = {
    1.0, 0.7209598220069479, 0.7653668647301796, 0.8504300947672564,
    1.0, 1.2727585805728336, 1.847759065022573,  3.6245097854115502,
};

// Lanes of 32-bit values (GCC/Clang vector extension): inside a kernel marked
// for SSE2 or AVX2 they are that kernel's registers.
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef int32_t I32x4 __attribute__((vector_size(16)));
typedef uint32_t U32x8 __attribute__((vector_size(32)));
typedef int32_t I32x8 __attribute__((vector_size(32)));

QX_INLINE uint32_t Shift6(uint32_t v) { return (uint32_t)((int32_t)v >> 6); }
QX_INLINE U32x4 Shift6(U32x4 v) { return (U32x4)((I32x4)v >> 6); }
QX_INLINE U32x8 Shift6(U32x8 v) { return (U32x8)((I32x8)v >> 6); }

// The butterfly shared by both passes, for one row or column (uint32_t) or
// four or eight of them at once (vectors); `bias` is added to e0 and e1.
// Inputs from kLive on are taken as 0 and not read: the column pass of a
// block whose lower rows are all zero.
template <int kLive = 8, typename T>
QX_INLINE void Butterfly(const T d[8], uint32_t bias, T out[8])
{
    const T zero = d[0] - d[0];
    const T d1 = kLive > 1 ? d[1] : zero, d2 = kLive > 2 ? d[2] : zero, d3 = kLive > 3 ? d[3] : zero;
    const T d4 = kLive > 4 ? d[4] : zero, d5 = kLive > 5 ? d[5] : zero;
    const T d6 = kLive > 6 ? d[6] : zero, d7 = kLive > 7 ? d[7] : zero;
    T e0 = d[0] + d4 + bias;
    T e1 = d[0] - d4 + bias;
    T e2 = d2 + d6;
    T e3 = Shift6((d2 - d6) * kC4);
    T a = e0 + e2 + e3;
    T b = e1 + e3;
    T c = e1 - e3;
    T g = e0 - e2 - e3;

    T o1 = d1 + d7;
    T o2 = d1 - d7;
    T o3 = d5 + d3;
    T o4 = d5 - d3;
    T t0 = o1 + o3;
    T t1 = Shift6(o2 * kC2);
    T t2 = Shift6(o4 * kC6);
    T t3 = o1 - o3;
    T u0 = Shift6((t1 + t2) * kC4);
    T u1 = Shift6(t3 * kC4);
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

// The sample of a column pass result: shifted right by 12, clamped to 0..255
// (out of range only at edges of extreme contrast).
inline BYTE ClampShift(uint32_t v)
{
    const int32_t x = (int32_t)v >> 12;
    if ((uint32_t)x <= 255)
        return (BYTE)x;
    return x < 0 ? 0 : 255;
}

constexpr uint32_t kColumnBias = 0x80800;   // 128.5 x 4096: level shift and rounding

// ---- inverse transform, plain ---------------------------------------------------

// Rows 1 to 7 all zero: the row pass leaves them zero, every column's
// butterfly then gives its row-0 value plus the bias, and the block is its
// first row repeated. The vector kernels' form: one row has nothing to
// spread over vector lanes (the plain kernel's is IdctPlain<1, n> below).
void IdctFirstRow(const uint32_t* d, BYTE* out, int stride)
{
    uint32_t t[8];
    Butterfly(d, 0, t);
    BYTE row[8];
    for (int i = 0; i < 8; ++i)
        row[i] = ClampShift(t[i] + kColumnBias);
    for (int r = 0; r < 8; ++r)
        memcpy(out + r * stride, row, 8);
}

// Picks the vector kernels' form for the rows in use: the first alone, or up
// to 2, 4 or 8.
template <void (*kRows2)(const uint32_t*, BYTE*, int), void (*kRows4)(const uint32_t*, BYTE*, int),
          void (*kRows8)(const uint32_t*, BYTE*, int)>
QX_INLINE void IdctByRows(const uint32_t* d, uint32_t rows, BYTE* out, int stride)
{
    if (rows & 0xF0)
        kRows8(d, out, stride);
    else if (rows & 0x0C)
        kRows4(d, out, stride);
    else if (rows & 0x02)
        kRows2(d, out, stride);
    else
        IdctFirstRow(d, out, stride);
}

// The plain transform skips the zero columns as well as the zero rows: a
// block takes the form for its last row and its last column that may hold
// a value (the first 1, 2, 4 or 8 of each), and every butterfly is compiled
// for the values it can meet. Most blocks of smooth pictures live in the
// top left 4 x 4 corner, many of them in the first column alone.

// One column's results, shifted and clamped, down the column at `out`: one
// test for all eight, since samples out of range are rare.
QX_INLINE void StoreColumn(const uint32_t o[8], BYTE* out, int stride)
{
    int32_t x[8];
    int32_t any = 0;
    for (int r = 0; r < 8; ++r) {
        x[r] = (int32_t)o[r] >> 12;
        any |= x[r];
    }
    if ((uint32_t)any <= 255) {
        for (int r = 0; r < 8; ++r)
            out[r * stride] = (BYTE)x[r];
    } else {
        for (int r = 0; r < 8; ++r)
            out[r * stride] = ClampShift(o[r]);
    }
}

// Rows from kRows on and columns from kCols on are zero.
template <int kRows, int kCols>
void IdctPlain(const uint32_t* d, BYTE* out, int stride)
{
    if constexpr (kRows == 1) {
        // The first row alone: the block is its transform repeated down.
        uint32_t o[8];
        Butterfly<kCols>(d, kColumnBias, o);
        BYTE row[8];
        for (int i = 0; i < 8; ++i)
            row[i] = ClampShift(o[i]);
        for (int r = 0; r < 8; ++r)
            memcpy(out + r * stride, row, 8);
    } else if constexpr (kCols == 1) {
        // The first column alone: the row pass spreads each row's value
        // across it, so every column is the same and each row one sample.
        uint32_t col[8], o[8];
        for (int r = 0; r < kRows; ++r)
            col[r] = d[r * 8];
        Butterfly<kRows>(col, kColumnBias, o);
        for (int r = 0; r < 8; ++r)
            memset(out + r * stride, ClampShift(o[r]), 8);
    } else {
        uint32_t t[8 * kRows];
        for (int r = 0; r < kRows; ++r) {
            const uint32_t* dr = d + r * 8;
            uint32_t* tr = t + r * 8;
            // A row with only its first value gives it in all eight places;
            // worth a test only where the full butterfly is long.
            bool first = false;
            if constexpr (kCols > 2) {
                uint32_t rest = 0;
                for (int i = 1; i < kCols; ++i)
                    rest |= dr[i];
                first = rest == 0;
            }
            if (first) {
                for (int i = 0; i < 8; ++i)
                    tr[i] = dr[0];
            } else {
                Butterfly<kCols>(dr, 0, tr);
            }
        }
        for (int c = 0; c < 8; ++c) {
            uint32_t col[8], o[8];
            for (int r = 0; r < kRows; ++r)
                col[r] = t[r * 8 + c];
            Butterfly<kRows>(col, kColumnBias, o);
            StoreColumn(o, out + c, stride);
        }
    }
}

// The last live row or column of a mask, as the form's index: none or the
// first 0, the second 1, up to the fourth 2, up to the eighth 3.
struct LiveClasses {
    BYTE of[256];
};

constexpr LiveClasses MakeLiveClasses()
{
    LiveClasses c{};
    for (int m = 0; m < 256; ++m)
        c.of[m] = (BYTE)(m & 0xF0 ? 3 : m & 0x0C ? 2 : m & 0x02 ? 1 : 0);
    return c;
}

constexpr LiveClasses kLiveClass = MakeLiveClasses();

typedef void (*IdctForm)(const uint32_t*, BYTE*, int);

// By rows class x 4 + columns class.
constexpr IdctForm kPlainForms[16] = {
    IdctPlain<1, 1>, IdctPlain<1, 2>, IdctPlain<1, 4>, IdctPlain<1, 8>,
    IdctPlain<2, 1>, IdctPlain<2, 2>, IdctPlain<2, 4>, IdctPlain<2, 8>,
    IdctPlain<4, 1>, IdctPlain<4, 2>, IdctPlain<4, 4>, IdctPlain<4, 8>,
    IdctPlain<8, 1>, IdctPlain<8, 2>, IdctPlain<8, 4>, IdctPlain<8, 8>,
};

void IdctScalar(const uint32_t* d, uint32_t live, BYTE* out, int stride)
{
    kPlainForms[kLiveClass.of[live & 0xFF] * 4 + kLiveClass.of[live >> 8 & 0xFF]](d, out, stride);
}

// ---- colour, plain -------------------------------------------------------------
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

// Clamping to 0..255 by table, for Y plus a chroma term: from -256 to 511.
struct ClampTable {
    BYTE t[768];
};

constexpr ClampTable MakeClampTable()
{
    ClampTable c{};
    for (int i = 0; i < 768; ++i)
        c.t[i] = (BYTE)(i < 256 ? 0 : i > 511 ? 255 : i - 256);
    return c;
}

constexpr ClampTable kClamp = MakeClampTable();
static_assert(kColour.cbToB[0] >= -256 && kColour.cbToB[255] + 255 <= 511 && kColour.crToR[0] >= -256 &&
                  kColour.crToR[255] + 255 <= 511 && (kColour.cbToG[255] + kColour.crToG[255] + 32768) >> 16 <= 256,
              "Y plus a chroma term stays within the clamping table");

// The same terms as clamping-table offsets, for full-resolution colour: Y
// plus an entry is the index in kClamp. Green's is 256 - the green term,
// from the two halves' sum shifted right by 16: with S = cbToG + crToG,
// 256 - ((S + 32768) >> 16) = (2^24 + 32767 - S) >> 16, and the sum stays
// positive.
struct ClampOffsets {
    uint32_t cbToB[256];
    uint32_t crToR[256];
    uint32_t cbToG[256];
    uint32_t crToG[256];
};

constexpr ClampOffsets MakeClampOffsets()
{
    ClampOffsets o{};
    for (int i = 0; i < 256; ++i) {
        o.cbToB[i] = (uint32_t)(kColour.cbToB[i] + 256);
        o.crToR[i] = (uint32_t)(kColour.crToR[i] + 256);
        o.cbToG[i] = (uint32_t)((1 << 24) + 32767 - kColour.cbToG[i]);
        o.crToG[i] = (uint32_t)-kColour.crToG[i];
    }
    return o;
}

constexpr ClampOffsets kOffsets = MakeClampOffsets();
static_assert(kOffsets.cbToG[255] + kOffsets.crToG[255] < (1u << 31) &&
                  ((kOffsets.cbToG[255] + kOffsets.crToG[255]) >> 16) ==
                      (uint32_t)(256 - ((kColour.cbToG[255] + kColour.crToG[255] + 32768) >> 16)),
              "green's offset is 256 less the green term");

void ChromaTermsScalar(const BYTE* cb, const BYTE* cr, uint32_t n, int16_t* b, int16_t* g, int16_t* r)
{
    for (uint32_t x = 0; x < n; ++x) {
        b[x] = (int16_t)kColour.cbToB[cb[x]];
        g[x] = (int16_t)((kColour.cbToG[cb[x]] + kColour.crToG[cr[x]] + 32768) >> 16);
        r[x] = (int16_t)kColour.crToR[cr[x]];
    }
}

// A pixel from Y and the three clamping-table offsets of its terms.
QX_INLINE void ConvertPixel(uint32_t lum, uint32_t ob, uint32_t og, uint32_t orr, BYTE* out)
{
    out[0] = kClamp.t[lum + ob];
    out[1] = kClamp.t[lum + og];
    out[2] = kClamp.t[lum + orr];
}

void ColourRowScalar(const BYTE* y, const int16_t* b, const int16_t* g, const int16_t* r, uint32_t width,
                     uint32_t step, BYTE* out)
{
    if (step == 1) {
        for (uint32_t x = 0; x < width; ++x)
            ConvertPixel(y[x], (uint32_t)(b[x] + 256), (uint32_t)(256 - g[x]), (uint32_t)(r[x] + 256), out + 3 * x);
        return;
    }
    // Two pixels to a term.
    uint32_t x = 0;
    for (; x + 2 <= width; x += 2, out += 6) {
        const uint32_t t = x / 2;
        const uint32_t ob = (uint32_t)(b[t] + 256), og = (uint32_t)(256 - g[t]), orr = (uint32_t)(r[t] + 256);
        ConvertPixel(y[x], ob, og, orr, out);
        ConvertPixel(y[x + 1], ob, og, orr, out + 3);
    }
    if (x < width)
        ConvertPixel(y[x], (uint32_t)(b[x / 2] + 256), (uint32_t)(256 - g[x / 2]), (uint32_t)(r[x / 2] + 256), out);
}

QX_INLINE void ConvertPixel444(uint32_t lum, BYTE cb, BYTE cr, BYTE* out)
{
    ConvertPixel(lum, kOffsets.cbToB[cb], (kOffsets.cbToG[cb] + kOffsets.crToG[cr]) >> 16, kOffsets.crToR[cr], out);
}

// Blocks of 8 samples, 64 bytes apart, to 8 pixels (fewer in the last).
void ColourRow444Scalar(const BYTE* yp, const BYTE* cbp, const BYTE* crp, uint32_t width, BYTE* out)
{
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8, yp += 64, cbp += 64, crp += 64, out += 24) {
        for (int i = 0; i < 8; ++i)
            ConvertPixel444(yp[i], cbp[i], crp[i], out + 3 * i);
    }
    for (uint32_t i = 0; i < width - x; ++i)
        ConvertPixel444(yp[i], cbp[i], crp[i], out + 3 * i);
}

void GreyRowScalar(const BYTE* yp, uint32_t width, BYTE* out)
{
    for (uint32_t x = 0; x < width; x += 8, yp += 64, out += 24) {
        const uint32_t n = width - x < 8 ? width - x : 8;
        for (uint32_t i = 0; i < n; ++i)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = yp[i];
    }
}

#if defined(QX_X86)
// ---- inverse transform, SSE2 ------------------------------------------------------
// Four lanes of 32 bits: the row pass takes four rows at once (a lane per
// row, after a transpose), the column pass four columns. A block whose rows
// 4 to 7 are zero skips half the row pass and runs the shorter column
// butterfly.

QX_TARGET_SSE2 QX_INLINE void Transpose4(U32x4& a, U32x4& b, U32x4& c, U32x4& d)
{
    const __m128i t0 = _mm_unpacklo_epi32((__m128i)a, (__m128i)b);
    const __m128i t1 = _mm_unpacklo_epi32((__m128i)c, (__m128i)d);
    const __m128i t2 = _mm_unpackhi_epi32((__m128i)a, (__m128i)b);
    const __m128i t3 = _mm_unpackhi_epi32((__m128i)c, (__m128i)d);
    a = (U32x4)_mm_unpacklo_epi64(t0, t1);
    b = (U32x4)_mm_unpackhi_epi64(t0, t1);
    c = (U32x4)_mm_unpacklo_epi64(t2, t3);
    d = (U32x4)_mm_unpackhi_epi64(t2, t3);
}

QX_TARGET_SSE2 QX_INLINE U32x4 Load4(const uint32_t* p)
{
    return (U32x4)_mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The row pass of four rows; t[k] holds column k of their results.
QX_TARGET_SSE2 QX_INLINE void RowPass4(const uint32_t* d, U32x4 t[8])
{
    U32x4 x[8];
    for (int r = 0; r < 4; ++r) {
        x[r] = Load4(d + r * 8);
        x[4 + r] = Load4(d + r * 8 + 4);
    }
    Transpose4(x[0], x[1], x[2], x[3]);
    Transpose4(x[4], x[5], x[6], x[7]);
    Butterfly(x, 0, t);
}

// Two results of 4 columns each (left and right half of a row), shifted
// right by 12 and clamped to 0..255 by saturating packs, to 8 bytes.
QX_TARGET_SSE2 QX_INLINE __m128i PackRow(U32x4 left, U32x4 right)
{
    return _mm_packs_epi32(_mm_srai_epi32((__m128i)left, 12), _mm_srai_epi32((__m128i)right, 12));
}

template <int kLive>
QX_TARGET_SSE2 void IdctSse2Rows(const uint32_t* d, BYTE* out, int stride)
{
    U32x4 t[8], u[8], o[2][8];
    RowPass4(d, t);
    if (kLive > 4)
        RowPass4(d + 32, u);
    for (int h = 0; h < 2; ++h) {
        U32x4 v[8];
        for (int i = 0; i < 4; ++i) {
            v[i] = t[4 * h + i];
            v[4 + i] = kLive > 4 ? u[4 * h + i] : v[i] - v[i];
        }
        Transpose4(v[0], v[1], v[2], v[3]);
        if (kLive > 4)
            Transpose4(v[4], v[5], v[6], v[7]);
        Butterfly<kLive>(v, kColumnBias, o[h]);
    }
    for (int r = 0; r < 8; r += 2) {
        const __m128i bytes = _mm_packus_epi16(PackRow(o[0][r], o[1][r]), PackRow(o[0][r + 1], o[1][r + 1]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
    }
}

QX_TARGET_SSE2 void IdctSse2(const uint32_t* d, uint32_t rows, BYTE* out, int stride)
{
    IdctByRows<IdctSse2Rows<2>, IdctSse2Rows<4>, IdctSse2Rows<8>>(d, rows, out, stride);
}

// ---- inverse transform, AVX2 ------------------------------------------------------
// Eight lanes: each pass is one butterfly over the whole block, between two
// 8 x 8 transposes.

QX_TARGET_AVX2 QX_INLINE void Transpose8(U32x8 x[8])
{
    __m256i a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = _mm256_unpacklo_epi32((__m256i)x[i], (__m256i)x[i + 1]);
        a[i + 1] = _mm256_unpackhi_epi32((__m256i)x[i], (__m256i)x[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        b[i] = _mm256_unpacklo_epi64(a[i], a[i + 2]);
        b[i + 1] = _mm256_unpackhi_epi64(a[i], a[i + 2]);
        b[i + 2] = _mm256_unpacklo_epi64(a[i + 1], a[i + 3]);
        b[i + 3] = _mm256_unpackhi_epi64(a[i + 1], a[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        x[i] = (U32x8)_mm256_permute2x128_si256(b[i], b[i + 4], 0x20);
        x[i + 4] = (U32x8)_mm256_permute2x128_si256(b[i], b[i + 4], 0x31);
    }
}

template <int kLive>
QX_TARGET_AVX2 void IdctAvx2Rows(const uint32_t* d, BYTE* out, int stride)
{
    U32x8 x[8], t[8];
    for (int r = 0; r < 8; ++r)
        x[r] = r >= kLive ? x[0] - x[0] : (U32x8)_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 8 * r));
    Transpose8(x);
    Butterfly(x, 0, t);
    Transpose8(t);
    Butterfly<kLive>(t, kColumnBias, x);
    // Rows r and r + 1 packed: 16-bit lanes r0 c0-3, r1 c0-3 | r0 c4-7, r1 c4-7,
    // then two such pairs to bytes; each 128-bit half holds the rows' left
    // or right four columns.
    for (int r = 0; r < 8; r += 4) {
        const __m256i w01 = _mm256_packs_epi32(_mm256_srai_epi32((__m256i)x[r], 12), _mm256_srai_epi32((__m256i)x[r + 1], 12));
        const __m256i w23 =
            _mm256_packs_epi32(_mm256_srai_epi32((__m256i)x[r + 2], 12), _mm256_srai_epi32((__m256i)x[r + 3], 12));
        const __m256i bytes = _mm256_packus_epi16(w01, w23);
        const __m128i left = _mm256_castsi256_si128(bytes), right = _mm256_extracti128_si256(bytes, 1);
        const __m128i rows01 = _mm_unpacklo_epi32(left, right), rows23 = _mm_unpackhi_epi32(left, right);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), rows01);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), _mm_unpackhi_epi64(rows01, rows01));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 2) * stride), rows23);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 3) * stride), _mm_unpackhi_epi64(rows23, rows23));
    }
}

QX_TARGET_AVX2 void IdctAvx2(const uint32_t* d, uint32_t rows, BYTE* out, int stride)
{
    IdctByRows<IdctAvx2Rows<2>, IdctAvx2Rows<4>, IdctAvx2Rows<8>>(d, rows, out, stride);
}

// ---- colour, SSE2 ---------------------------------------------------------------
// The table entries worked out in 32-bit lanes with 16 x 16-bit multiply-adds,
// to the same values: a factor above 32767 is split as a multiple of 65536
// (which passes through the shift right of 16 whole) plus a remainder, e.g.
// 91881 x = 65536 x + 26345 x; the rounding constant 32768 enters as
// 2 x 16384.
//   Cr to red:    x + (26345 x + 32768) >> 16
//   Cb to blue:   2x + (-14942 x + 32768) >> 16
//   green term:   cr + (22554 cb - 18734 cr + 32768) >> 16
// cb and cr hold eight samples less 128 in 16-bit lanes.
QX_TARGET_SSE2 QX_INLINE void Terms8(__m128i cb, __m128i cr, __m128i& tb, __m128i& tg, __m128i& tr)
{
    const __m128i two = _mm_set1_epi16(2);
    const __m128i redK = _mm_set1_epi32(16384 << 16 | 26345);
    const __m128i blueK = _mm_set1_epi32(16384 << 16 | (uint16_t)-14942);
    const __m128i greenK = _mm_set1_epi32((int)((uint32_t)(uint16_t)-18734 << 16 | 22554));
    const __m128i round = _mm_set1_epi32(32768);
    tr = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr, two), redK), 16),
                         _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr, two), redK), 16));
    tb = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, two), blueK), 16),
                         _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, two), blueK), 16));
    const __m128i cbcrLo = _mm_unpacklo_epi16(cb, cr), cbcrHi = _mm_unpackhi_epi16(cb, cr);
    tg = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(cbcrLo, greenK), round), 16),
                         _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(cbcrHi, greenK), round), 16));
    tr = _mm_add_epi16(tr, cr);
    tb = _mm_add_epi16(tb, _mm_add_epi16(cb, cb));
    tg = _mm_add_epi16(tg, cr);
}

// Eight samples at p in 16-bit lanes, less `bias`.
QX_TARGET_SSE2 QX_INLINE __m128i Samples8(const BYTE* p, __m128i bias)
{
    return _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128()),
                         bias);
}

// Four 4-byte pixels (blue, green, red, 0) to 12 bytes at `out`; writes 2
// bytes beyond them, which the caller's next pixels overwrite.
QX_TARGET_SSE2 QX_INLINE void StorePixels3(__m128i pixels, BYTE* out)
{
    // In each 64-bit half: pixel 0's three bytes, then pixel 1's.
    const __m128i low24 = _mm_set1_epi64x(0xFFFFFF);
    __m128i packed = _mm_or_si128(_mm_and_si128(pixels, low24), _mm_srli_epi64(_mm_andnot_si128(low24, pixels), 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(packed, 8));
}

// Eight pixels from bytes of blue, green and red (low halves) to 24 bytes at
// `out`, and 2 beyond.
QX_TARGET_SSE2 QX_INLINE void StoreBgr8(__m128i blue, __m128i green, __m128i red, BYTE* out)
{
    const __m128i bg = _mm_unpacklo_epi8(blue, green);
    const __m128i r0 = _mm_unpacklo_epi8(red, _mm_setzero_si128());
    StorePixels3(_mm_unpacklo_epi16(bg, r0), out);
    StorePixels3(_mm_unpackhi_epi16(bg, r0), out + 12);
}

// Y plus the chroma terms, clamped by the saturating packs as Clamp255 does,
// as bytes of blue, green and red.
QX_TARGET_SSE2 QX_INLINE void Colours(__m128i lumLo, __m128i lumHi, __m128i tbLo, __m128i tbHi, __m128i tgLo,
                                       __m128i tgHi, __m128i trLo, __m128i trHi, __m128i& blue, __m128i& green,
                                       __m128i& red)
{
    blue = _mm_packus_epi16(_mm_add_epi16(lumLo, tbLo), _mm_add_epi16(lumHi, tbHi));
    green = _mm_packus_epi16(_mm_sub_epi16(lumLo, tgLo), _mm_sub_epi16(lumHi, tgHi));
    red = _mm_packus_epi16(_mm_add_epi16(lumLo, trLo), _mm_add_epi16(lumHi, trHi));
}

QX_TARGET_SSE2 void ChromaTermsSse2(const BYTE* cb, const BYTE* cr, uint32_t n, int16_t* b, int16_t* g, int16_t* r)
{
    const __m128i bias = _mm_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        __m128i tb, tg, tr;
        Terms8(Samples8(cb + x, bias), Samples8(cr + x, bias), tb, tg, tr);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), tb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), tg);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), tr);
    }
    ChromaTermsScalar(cb + x, cr + x, n - x, b + x, g + x, r + x);
}

// Eight terms for eight pixels: one each, or (step 2) four each serving two.
QX_TARGET_SSE2 QX_INLINE __m128i Terms8At(const int16_t* t, uint32_t x, uint32_t step)
{
    if (step == 2) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + x / 2));
        return _mm_unpacklo_epi16(v, v);
    }
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
}

QX_TARGET_SSE2 void ColourRowSse2(const BYTE* y, const int16_t* b, const int16_t* g, const int16_t* r,
                                  uint32_t width, uint32_t step, BYTE* out)
{
    // Eight pixels at a time while a ninth follows (the stores run 2 bytes
    // into it).
    const __m128i zero = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 8 < width; x += 8) {
        const __m128i lum = Samples8(y + x, zero);
        __m128i blue, green, red;
        Colours(lum, zero, Terms8At(b, x, step), zero, Terms8At(g, x, step), zero, Terms8At(r, x, step), zero, blue,
                green, red);
        StoreBgr8(blue, green, red, out + 3 * x);
    }
    ColourRowScalar(y + x, b + x / step, g + x / step, r + x / step, width - x, step, out + 3 * x);
}

// Full-resolution colour: Y, Cb and Cr of a picture row straight from the
// three sample planes, a block (8 pixels) at a time while a ninth pixel
// follows, with no line copies and no chroma terms kept between rows.
QX_TARGET_SSE2 void ColourRow444Sse2(const BYTE* yp, const BYTE* cbp, const BYTE* crp, uint32_t width, BYTE* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 8 < width; x += 8, yp += 64, cbp += 64, crp += 64) {
        __m128i tb, tg, tr, blue, green, red;
        Terms8(Samples8(cbp, bias), Samples8(crp, bias), tb, tg, tr);
        Colours(Samples8(yp, zero), zero, tb, zero, tg, zero, tr, zero, blue, green, red);
        StoreBgr8(blue, green, red, out + 3 * x);
    }
    ColourRow444Scalar(yp, cbp, crp, width - x, out + 3 * x);
}

QX_TARGET_SSE2 void GreyRowSse2(const BYTE* yp, uint32_t width, BYTE* out)
{
    uint32_t x = 0;
    for (; x + 8 < width; x += 8, yp += 64) {
        const __m128i lum = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(yp));
        StoreBgr8(lum, lum, lum, out + 3 * x);
    }
    GreyRowScalar(yp, width - x, out + 3 * x);
}

// ---- colour, SSSE3 --------------------------------------------------------------
// Sixteen pixels at a time, interleaved by byte shuffles into exactly 48
// bytes: nothing is written past them.

QX_TARGET_SSE41 QX_INLINE void StoreBgr16(__m128i blue, __m128i green, __m128i red, BYTE* out)
{
    // Output byte 3p + c is colour c of pixel p; -1 leaves a zero.
    const __m128i b0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m128i g0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i r0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i b1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m128i g1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i r1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m128i b2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m128i g2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i r2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    __m128i* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blue, b0), _mm_shuffle_epi8(green, g0)),
                                     _mm_shuffle_epi8(red, r0)));
    _mm_storeu_si128(o + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blue, b1), _mm_shuffle_epi8(green, g1)),
                                         _mm_shuffle_epi8(red, r1)));
    _mm_storeu_si128(o + 2, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blue, b2), _mm_shuffle_epi8(green, g2)),
                                         _mm_shuffle_epi8(red, r2)));
}

QX_TARGET_SSE41 void ColourRowSse41(const BYTE* y, const int16_t* b, const int16_t* g, const int16_t* r,
                                    uint32_t width, uint32_t step, BYTE* out)
{
    const __m128i zero = _mm_setzero_si128();
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i lum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        __m128i blue, green, red;
        Colours(_mm_unpacklo_epi8(lum, zero), _mm_unpackhi_epi8(lum, zero), Terms8At(b, x, step),
                Terms8At(b, x + 8, step), Terms8At(g, x, step), Terms8At(g, x + 8, step), Terms8At(r, x, step),
                Terms8At(r, x + 8, step), blue, green, red);
        StoreBgr16(blue, green, red, out + 3 * x);
    }
    ColourRowSse2(y + x, b + x / step, g + x / step, r + x / step, width - x, step, out + 3 * x);
}

QX_TARGET_SSE41 void ColourRow444Sse41(const BYTE* yp, const BYTE* cbp, const BYTE* crp, uint32_t width, BYTE* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, yp += 128, cbp += 128, crp += 128) {
        __m128i tbLo, tgLo, trLo, tbHi, tgHi, trHi, blue, green, red;
        Terms8(Samples8(cbp, bias), Samples8(crp, bias), tbLo, tgLo, trLo);
        Terms8(Samples8(cbp + 64, bias), Samples8(crp + 64, bias), tbHi, tgHi, trHi);
        Colours(Samples8(yp, zero), Samples8(yp + 64, zero), tbLo, tbHi, tgLo, tgHi, trLo, trHi, blue, green, red);
        StoreBgr16(blue, green, red, out + 3 * x);
    }
    ColourRow444Sse2(yp, cbp, crp, width - x, out + 3 * x);
}

QX_TARGET_SSE41 void GreyRowSse41(const BYTE* yp, uint32_t width, BYTE* out)
{
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, yp += 128) {
        const __m128i lum = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(yp)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(yp + 64)));
        StoreBgr16(lum, lum, lum, out + 3 * x);
    }
    GreyRowSse2(yp, width - x, out + 3 * x);
}
#endif

// ---- rows of the picture ---------------------------------------------------------

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

} // namespace

void JpegChooseKernels(IMG_KERNELS* k)
{
    k->idct = IdctScalar;
    k->chromaTerms = ChromaTermsScalar;
    k->colourRow = ColourRowScalar;
    k->colourRow444 = ColourRow444Scalar;
    k->greyRow = GreyRowScalar;
#if defined(QX_X86)
    if (k->level >= IMG_KERNELS_SSE2) {
        k->idct = IdctSse2;
        k->chromaTerms = ChromaTermsSse2;
        k->colourRow = ColourRowSse2;
        k->colourRow444 = ColourRow444Sse2;
        k->greyRow = GreyRowSse2;
    }
    if (k->level >= IMG_KERNELS_SSE41) {
        k->colourRow = ColourRowSse41;
        k->colourRow444 = ColourRow444Sse41;
        k->greyRow = GreyRowSse41;
    }
    if (k->level >= IMG_KERNELS_AVX2)
        k->idct = IdctAvx2;
#endif
}

void JpegScaleQuant(JPEG_QUANT_TABLE* table)
{
    for (int k = 0; k < 64; ++k) {
        int n = kJpegZigzag[k];
        double q = table->raw[k];
        table->scaled[n] = (uint32_t)(4096.0 * kAanFactor[n >> 3] * kAanFactor[n & 7] / 8.0 * q);
    }
}

uint32_t JpegDequantise(const int16_t* coef, const uint32_t* q, uint32_t* d)
{
    // A row is tested as two words of four coefficients, and the words of
    // the live rows merged give the live columns. Most rows of most blocks
    // are zero: they are cleared, not multiplied.
    uint32_t live = 0;
    uint64_t left = 0, right = 0;
    for (int r = 0; r < 8; ++r) {
        uint64_t a, b;
        memcpy(&a, coef + r * 8, 8);
        memcpy(&b, coef + r * 8 + 4, 8);
        if ((a | b) == 0) {
            memset(d + r * 8, 0, 8 * sizeof *d);
            continue;
        }
        live |= 1u << r;
        left |= a;
        right |= b;
        for (int i = r * 8; i < r * 8 + 8; ++i)
            d[i] = (uint32_t)(int32_t)coef[i] * q[i];
    }
    int16_t columns[8];
    memcpy(columns, &left, 8);
    memcpy(columns + 4, &right, 8);
    for (int c = 0; c < 8; ++c)
        live |= columns[c] ? 0x100u << c : 0;
    return live;
}

void JpegIdctDcOnly(uint32_t d0, BYTE* out, int stride)
{
    // With only d0 every butterfly output of both passes is d0 (plus the bias).
    BYTE v = ClampShift(d0 + kColumnBias);
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
    const IMG_KERNELS* k = Img_GetKernels();
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
    // Grey and full-resolution colour are read straight from the planes,
    // which then share one block grid.
    bool fullColour = true;
    for (int i = 0; i < planes; ++i)
        fullColour = fullColour && comps[i]->hrep == 1 && comps[i]->vrep == 1;
    uint32_t cbRow = UINT32_MAX, crRow = UINT32_MAX, step = 1;
    for (uint32_t y = y0; y < y1; ++y) {
        BYTE* out = d->bits + (size_t)(height - 1 - y) * rowBytes;
        if (fullColour) {
            const size_t at = (size_t)((y >> 3) - comps[0]->planeBase) * comps[0]->fullAcross * 64 + (y & 7) * 8;
            if (planes == 1)
                k->greyRow(comps[0]->plane + at, width, out);
            else
                k->colourRow444(comps[0]->plane + at, comps[1]->plane + at, comps[2]->plane + at, width, out);
        } else {
            const BYTE* lum = ComponentRow(comps[0], y, width, lines, scratch);
            if (y / comps[1]->vrep != cbRow || y / comps[2]->vrep != crRow) {
                cbRow = y / comps[1]->vrep;
                crRow = y / comps[2]->vrep;
                const uint32_t hrep = comps[1]->hrep;
                if (chromaAlike && hrep <= 2) {
                    uint32_t n = GatherSamples(comps[1], y, width, cbLine);
                    GatherSamples(comps[2], y, width, crLine);
                    k->chromaTerms(cbLine, crLine, n, terms[0], terms[1], terms[2]);
                    step = hrep;
                } else {
                    ComponentRow(comps[1], y, width, cbLine, scratch);
                    ComponentRow(comps[2], y, width, crLine, scratch);
                    k->chromaTerms(cbLine, crLine, width, terms[0], terms[1], terms[2]);
                    step = 1;
                }
            }
            k->colourRow(lum, terms[0], terms[1], terms[2], width, step, out);
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
    if (!JpegAllocLines(d))
        return FALSE;
    if (!d->progressive) {
        JpegConvertRows(d, 0, d->height);
        return TRUE;
    }
    // Progressive: the blocks of one MCU row are transformed into the
    // planes (which hold one MCU row) and at once converted.
    const IMG_KERNELS* k = Img_GetKernels();
    alignas(32) uint32_t block[64];
    for (uint32_t my = 0; my < d->mcusDown; ++my) {
        for (int i = 0; i < d->frameCount; ++i) {
            JPEG_COMPONENT* c = &d->comp[d->frameIds[i]];
            const size_t blocks = (size_t)c->v * c->fullAcross;
            const int16_t* coef = c->coef + (size_t)my * blocks * 64;
            c->planeBase = my * c->v;
            const uint64_t* nonzero = c->nonzero + (size_t)my * blocks;
            for (size_t b = 0; b < blocks; ++b) {
                // No AC coefficient other than 0 (the nonzero word is
                // clear): the block is its DC value throughout.
                if (!nonzero[b]) {
                    JpegIdctDcOnly((uint32_t)(int32_t)coef[b * 64] * c->quant->scaled[0], c->plane + b * 64, 8);
                    continue;
                }
                const uint32_t rows = JpegDequantise(coef + b * 64, c->quant->scaled, block);
                k->idct(block, rows, c->plane + b * 64, 8);
            }
        }
        const uint32_t y0 = my * d->mcuHeight;
        JpegConvertRows(d, y0, d->height - y0 < d->mcuHeight ? d->height : y0 + d->mcuHeight);
    }
    return TRUE;
}
