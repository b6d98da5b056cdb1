// JPEG stream and entropy decoding: signature, marker loop, tables, frame and
// scan headers, and Huffman decoding of sequential and progressive scans.
// Reconstruction (inverse DCT, replication, colour) is in jpeg_reconstruct.cpp.
//
// Speed comes from the bit reader and the Huffman lookahead: the reader keeps
// a machine word of bits in a register, loading a word at a time where its
// bytes hold no 0xFF, and every short code (with its extra bits, for AC
// coefficients) resolves with a single table read. Progressive refinement
// scans keep a word per block of the coefficients that are not 0, and find
// runs and correction bits from it rather than by walking the block. What
// none of this may change is the outcome: the reader reproduces exactly
// where a byte-by-byte reader would stand and when it would fail (see
// AlignedPosition).
#include "imaging/jpeg_decoder.h"

#include "common/raii.h"
#include "imaging/kernels.h"

#include <cstring>

constexpr BYTE kJpegZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

// The row and column of each stream position as the idct's mask takes them
// (bit r for row r, bit 8 + c for column c).
struct LiveBits {
    uint16_t at[64];
};

constexpr LiveBits MakeLiveBits()
{
    LiveBits b{};
    for (int k = 0; k < 64; ++k)
        b.at[k] = (uint16_t)(1u << (kJpegZigzag[k] >> 3) | 0x100u << (kJpegZigzag[k] & 7));
    return b;
}

constexpr LiveBits kLiveBits = MakeLiveBits();

BOOL Fail(JPEG_DECODER* d, const char* why)
{
    if (!d->error) {
        d->error = TRUE;
        d->refusal = why;
    }
    return FALSE;
}

// ---- bytes between segments --------------------------------------------------

BOOL ReadByte(JPEG_DECODER* d, uint32_t* value)
{
    if (d->pos >= d->end)
        return Fail(d, "truncated JPEG stream");
    *value = *d->pos++;
    return TRUE;
}

BOOL ReadWord(JPEG_DECODER* d, uint32_t* value)
{
    if (d->end - d->pos < 2)
        return Fail(d, "truncated JPEG stream");
    *value = (uint32_t)d->pos[0] << 8 | d->pos[1];
    d->pos += 2;
    return TRUE;
}

// ---- bit reader ----------------------------------------------------------------

constexpr int kWordBits = kImgWordBits;
constexpr int kWordBytes = kWordBits / 8;
// Refilling when fewer bits than this are left keeps a whole lookahead
// pattern in the word and loads whole words most of the time.
constexpr int kRefillBelow = kWordBits / 2;
static_assert(kRefillBelow >= kJpegLookBits && kWordBits - 8 >= 16, "a code fits in the word after a refill");

struct BitReader {
    IMG_BITWORD acc;       // next bit in the word's top bit
    int nbits;             // bits held in acc, including padding
    int pad;               // zero bits added past the end of the data
    const BYTE* p;         // next byte to load
    const BYTE* end;
    const BYTE* start;     // where this run of entropy-coded data began
    bool stopped;          // met a marker or the end of the data
    bool stoppedOnFF;      // the last byte loaded is an 0xFF that may not be left
};

void StartReader(BitReader& br, const BYTE* at, const BYTE* end)
{
    br.acc = 0;
    br.nbits = 0;
    br.pad = 0;
    br.p = at;
    br.end = end;
    br.start = at;
    br.stopped = false;
    br.stoppedOnFF = false;
}

inline bool HasFF(IMG_BITWORD w)
{
    const IMG_BITWORD ones = (IMG_BITWORD)0x0101010101010101ull;
    const IMG_BITWORD highs = (IMG_BITWORD)0x8080808080808080ull;
    IMG_BITWORD v = ~w;
    return ((v - ones) & ~v & highs) != 0;
}

// A word of the stream, its first byte in the top bits.
inline IMG_BITWORD LoadBigEndian(const BYTE* p)
{
    IMG_BITWORD w;
    memcpy(&w, p, sizeof w);
    if constexpr (sizeof w == 8)
        return (IMG_BITWORD)__builtin_bswap64(w);
    else
        return (IMG_BITWORD)__builtin_bswap32(w);
}

// One byte at a time: stuffed zeros are dropped; an 0xFF not followed by a
// stuffed zero is loaded (its bits are data) but ends the loading, and so does
// the end of the data. Past that the reader supplies zero bits and counts them:
// consuming any of them is the failure a byte-by-byte reader would report.
// Takes and returns the reader by value, so that a caller's copy never has
// its address taken and can stay in registers.
BitReader FillSlow(BitReader br)
{
    while (br.nbits <= kWordBits - 8) {
        uint32_t b = 0;
        if (br.stopped) {
            br.pad += 8;
        } else if (br.p >= br.end) {
            br.stopped = true;
            continue;
        } else {
            b = *br.p;
            if (b == 0xFF) {
                if (br.end - br.p >= 2 && br.p[1] == 0) {
                    br.p += 2;
                } else {
                    br.p += 1;
                    br.stopped = true;
                    br.stoppedOnFF = true;
                }
            } else {
                br.p += 1;
            }
        }
        br.acc |= (IMG_BITWORD)b << (kWordBits - 8 - br.nbits);
        br.nbits += 8;
    }
    return br;
}

QX_INLINE void Fill(BitReader& br)
{
    if (br.nbits > kWordBits - 8)
        return;
    if (!br.stopped && br.end - br.p >= kWordBytes) {
        const IMG_BITWORD w = LoadBigEndian(br.p);
        if (!HasFF(w)) {
            int n = (kWordBits - br.nbits) >> 3;
            br.acc |= (n == kWordBytes ? w : w >> (kWordBits - 8 * n)) << (kWordBits - br.nbits - 8 * n);
            br.nbits += 8 * n;
            br.p += n;
            return;
        }
    }
    br = FillSlow(br);
}

// n from 1 to 16.
QX_INLINE uint32_t GetBits(BitReader& br, int n)
{
    if (br.nbits < n)
        Fill(br);
    uint32_t v = (uint32_t)(br.acc >> (kWordBits - n));
    br.acc <<= n;
    br.nbits -= n;
    return v;
}

QX_INLINE uint32_t GetBit(BitReader& br)
{
    if (br.nbits < 1)
        Fill(br);
    uint32_t v = (uint32_t)(br.acc >> (kWordBits - 1));
    br.acc <<= 1;
    br.nbits -= 1;
    return v;
}

inline bool Overrun(const BitReader& br) { return br.nbits < br.pad; }

// Where a byte-by-byte reader would stand after stepping past its current
// byte: the first byte none of whose bits were consumed. The unconsumed whole
// bytes still in the register are walked back over (a stuffed 0xFF spans two
// stream bytes). Null when stepping past the current byte is itself an error:
// an 0xFF followed by a marker or by the end of the data.
const BYTE* AlignedPosition(const BitReader& br)
{
    int real = br.nbits - br.pad;
    const BYTE* q = br.p;
    if (real < 8 && br.stoppedOnFF && q > br.start)
        return nullptr;
    for (int whole = real >> 3; whole > 0; --whole) {
        if (q - br.start >= 2 && q[-1] == 0 && q[-2] == 0xFF)
            q -= 2;
        else
            q -= 1;
    }
    return q;
}

// Extension of an s-bit value (s >= 1) to a signed difference.
inline int32_t Extend(uint32_t v, int s)
{
    return v < (1u << (s - 1)) ? (int32_t)v - (int32_t)(1u << s) + 1 : (int32_t)v;
}

// The symbol of the next code, or -1 for a code no length accepts.
// A code longer than the lookahead, from the next 16 bits: its length << 8
// | its symbol, or 0 when no length accepts it.
uint32_t DecodeLong(uint32_t bits16, const JPEG_HUFF_TABLE* t)
{
    for (int len = kJpegLookBits + 1; len <= 16; ++len) {
        int32_t v = (int32_t)(bits16 >> (16 - len));
        if (v <= t->maxCode[len])
            return (uint32_t)len << 8 | t->symbols[(t->firstIndex[len] + v - t->minCode[len]) & 0xFF];
    }
    return 0;
}

QX_INLINE int DecodeSymbol(BitReader& br, const JPEG_HUFF_TABLE* t)
{
    if (br.nbits < 16)
        Fill(br);
    uint32_t e = t->look[br.acc >> (kWordBits - kJpegLookBits)];
    if (!e) {
        e = DecodeLong((uint32_t)(br.acc >> (kWordBits - 16)), t);
        if (!e)
            return -1;
    }
    int len = (int)(e >> 8);
    br.acc <<= len;
    br.nbits -= len;
    return (int)(e & 0xFF);
}

// ---- tables -------------------------------------------------------------------

void BuildHuffman(JPEG_HUFF_TABLE* t, const BYTE counts[16])
{
    int32_t code = 0;
    int k = 0;
    t->shortest = 17;
    for (int len = 1; len <= 16; ++len) {
        int n = counts[len - 1];
        if (n) {
            if (t->shortest == 17)
                t->shortest = len;
            t->firstIndex[len] = (BYTE)k;
            t->minCode[len] = code;
            code += n;
            k += n;
            t->maxCode[len] = code - 1;
        } else {
            t->firstIndex[len] = 0;
            t->minCode[len] = 257;
            t->maxCode[len] = -1;
        }
        code <<= 1;
    }
    // The lookahead entry of a pattern is what the length-by-length walk
    // finds for it: at each length, the codes from the smallest to the
    // largest that a pattern of that length can hold (every smaller value
    // starts with a shorter code), so even a malformed (over-full) table
    // decodes the same way.
    memset(t->look, 0, sizeof t->look);
    for (int len = 1; len <= kJpegLookBits; ++len) {
        const int spread = kJpegLookBits - len;
        const int32_t last = t->maxCode[len] < (1 << len) ? t->maxCode[len] : (1 << len) - 1;
        for (int32_t v = t->minCode[len]; v <= last; ++v) {
            const uint16_t entry = (uint16_t)(len << 8 | t->symbols[(t->firstIndex[len] + v - t->minCode[len]) & 0xFF]);
            for (uint32_t j = 0; j < (1u << spread); ++j)
                t->look[(uint32_t)v << spread | j] = entry;
        }
    }
    for (uint32_t pattern = 0; pattern < (1u << kJpegLookBits); ++pattern) {
        const uint32_t entry = t->look[pattern];
        const int len = entry >> 8, rs = entry & 0xFF;
        const int s = t->tableClass == 0 ? rs : rs & 15, run = t->tableClass == 0 ? 0 : rs >> 4;
        t->fast[pattern] = 0;
        if (!entry || len + s > kJpegLookBits)
            continue;
        if (t->tableClass != 0 && s == 0) {
            if (run == 0)
                t->fast[pattern] = kJpegEndOfBlock << 8 | len;
            continue;
        }
        const uint32_t extra = (pattern >> (kJpegLookBits - len - s)) & ((1u << s) - 1);
        const uint32_t value = s ? (uint32_t)Extend(extra, s) : 0;
        t->fast[pattern] = (int32_t)(value << 16 | (uint32_t)run << 8 | (uint32_t)(len + s));
    }
}

// The bytes of a segment after its length field; a length below 2 (which
// would count less than the field itself) is refused.
BOOL ReadSegmentLength(JPEG_DECODER* d, uint32_t* remaining)
{
    uint32_t length;
    if (!ReadWord(d, &length))
        return FALSE;
    if (length < 2)
        return Fail(d, "JPEG segment length below 2");
    *remaining = length - 2;
    return TRUE;
}

// A table that does not fit in what is left of its segment is refused: the
// segment's length and its contents must agree.
BOOL ReadDqt(JPEG_DECODER* d)
{
    uint32_t remaining;
    if (!ReadSegmentLength(d, &remaining))
        return FALSE;
    while (remaining != 0) {
        if (remaining < 65)
            return Fail(d, "quantisation table segment length disagrees with its tables");
        uint32_t pq;
        if (!ReadByte(d, &pq))
            return FALSE;
        if ((pq & 15) >= 4)
            return Fail(d, "quantisation table number above 3");
        if (pq >> 4)
            return Fail(d, "16-bit quantisation table");
        if (d->end - d->pos < 64)
            return Fail(d, "truncated JPEG stream");
        JPEG_QUANT_TABLE* t = &d->quantTables[pq & 15];
        for (int i = 0; i < 64; ++i) {
            t->raw[i] = d->pos[i];
            if (!t->raw[i])
                return Fail(d, "zero in a quantisation table");
        }
        d->pos += 64;
        JpegScaleQuant(t);
        t->defined = TRUE;
        remaining -= 65;
    }
    return TRUE;
}

BOOL ReadDht(JPEG_DECODER* d)
{
    uint32_t remaining;
    if (!ReadSegmentLength(d, &remaining))
        return FALSE;
    while (remaining != 0) {
        if (remaining < 17)
            return Fail(d, "Huffman table segment length disagrees with its tables");
        uint32_t tc;
        if (!ReadByte(d, &tc))
            return FALSE;
        if ((tc & 15) > 3)
            return Fail(d, "Huffman table number above 3");
        if (d->end - d->pos < 16)
            return Fail(d, "truncated JPEG stream");
        BYTE counts[16];
        memcpy(counts, d->pos, 16);
        d->pos += 16;
        uint32_t sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += counts[i];
        if (sum > 256)
            return Fail(d, "Huffman table with more than 256 codes");
        if (remaining < 17 + sum)
            return Fail(d, "Huffman table segment length disagrees with its tables");
        if ((uint32_t)(d->end - d->pos) < sum)
            return Fail(d, "truncated JPEG stream");
        JPEG_HUFF_TABLE* t = tc < 16 ? &d->dcTables[tc & 15] : &d->acTables[tc & 15];
        memcpy(t->symbols, d->pos, sum);
        d->pos += sum;
        t->tableClass = tc < 16 ? 0 : 1;
        t->number = (BYTE)(tc & 15);
        BuildHuffman(t, counts);
        t->defined = TRUE;
        remaining -= 17 + sum;
    }
    return TRUE;
}

// ---- frame header --------------------------------------------------------------

void NoteFrame(const JPEG_DECODER* d, uint32_t marker)
{
    IMG_NOTES* notes = Img_GetNotes();
    notes->coding = marker == 0xC2 ? "progressive" : marker == 0xC1 ? "extended sequential" : "baseline";
    notes->width = d->width;
    notes->height = d->height;
    notes->components = d->frameCount;
    char* s = notes->sampling;
    for (int i = 0; i < d->frameCount; ++i) {
        const JPEG_COMPONENT& c = d->comp[d->frameIds[i]];
        if (i)
            *s++ = ' ';
        *s++ = (char)('0' + c.h % 10);
        *s++ = 'x';
        *s++ = (char)('0' + c.v % 10);
    }
    *s = 0;
}

BOOL ReadFrame(JPEG_DECODER* d, uint32_t marker)
{
    // One frame per picture: a second frame header would replace the output
    // and the components under the scans already decoded.
    if (d->frameSeen)
        return Fail(d, "second JPEG frame header");
    uint32_t length, precision, height, width, count;
    if (!ReadWord(d, &length) || !ReadByte(d, &precision))
        return FALSE;
    if (precision != 8)
        return Fail(d, precision == 12 ? "12-bit JPEG precision" : "JPEG precision other than 8 bits");
    if (!ReadWord(d, &height) || !ReadWord(d, &width) || !ReadByte(d, &count))
        return FALSE;
    if (count != 1 && count != 3)
        return Fail(d, count == 4 ? "4-component (CMYK) JPEG" : "JPEG component count other than 1 or 3");
    if (length != 8 + 3 * count)
        return Fail(d, "frame header length disagrees with its components");
    if (width == 0 || height == 0)
        return Fail(d, "JPEG picture of zero width or height");
    d->width = (WORD)width;
    d->height = (WORD)height;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id, hv, tq;
        if (!ReadByte(d, &id) || !ReadByte(d, &hv) || !ReadByte(d, &tq))
            return FALSE;
        // The component table has 255 entries, identifiers 0 to 254.
        if (id == 255)
            return Fail(d, "JPEG component identifier 255");
        JPEG_COMPONENT* c = &d->comp[id];
        if (c->h)
            return Fail(d, "JPEG component identifier used twice");
        if ((hv >> 4) == 0 || (hv & 15) == 0)
            return Fail(d, "JPEG sampling factor of 0");
        if (tq >= 4)
            return Fail(d, "quantisation table number above 3");
        c->id = (BYTE)id;
        c->h = (BYTE)(hv >> 4);
        c->v = (BYTE)(hv & 15);
        c->quant = &d->quantTables[tq];
        d->frameIds[i] = (BYTE)id;
        if (c->h > d->maxH)
            d->maxH = c->h;
        if (c->v > d->maxV)
            d->maxV = c->v;
    }
    d->frameCount = (int)count;
    // Replication is by whole factors only: with factors such as 3 and 2 the
    // components' replicated planes would not line up.
    for (int i = 0; i < d->frameCount; ++i) {
        const JPEG_COMPONENT& c = d->comp[d->frameIds[i]];
        if (d->maxH % c.h || d->maxV % c.v)
            return Fail(d, "JPEG sampling factors that do not divide the largest");
    }
    d->mcuWidth = 8u * d->maxH;
    d->mcuHeight = 8u * d->maxV;
    d->mcusAcross = (width + d->mcuWidth - 1) / d->mcuWidth;
    d->mcusDown = (height + d->mcuHeight - 1) / d->mcuHeight;
    NoteFrame(d, marker);
    if (!JpegCreateOutput(d))
        return Fail(d, "JPEG picture too large");
    d->frameSeen = TRUE;
    return TRUE;
}

// ---- scans ----------------------------------------------------------------------

BOOL PrepareComponent(JPEG_DECODER* d, JPEG_COMPONENT* c)
{
    if (c->plane)
        return TRUE;
    c->vrep = (BYTE)(d->maxV / c->v);
    c->hrep = (BYTE)(d->maxH / c->h);
    c->scanDown = (d->height + 8u * c->vrep - 1) / (8u * c->vrep);
    c->scanAcross = (d->width + 8u * c->hrep - 1) / (8u * c->hrep);
    c->fullDown = d->mcusDown * c->v;
    c->fullAcross = d->mcusAcross * c->h;
    const uint64_t blocks = (uint64_t)c->fullDown * c->fullAcross;
    if (blocks * 64 * (d->progressive ? 3 : 1) > kJpegMaxBuffer)
        return Fail(d, "JPEG picture too large");
    // A sequential plane needs no clearing: every sample the picture uses
    // belongs to a block that the component's scan decodes. In strips it
    // holds one MCU row (or, for a component scanned alone, one block row);
    // so does a progressive frame's, which is made an MCU row at a time
    // from the coefficients once all scans are in.
    uint64_t planeBlocks = blocks;
    if (d->progressive)
        planeBlocks = (uint64_t)c->v * c->fullAcross;
    else if (d->strips)
        planeBlocks = (uint64_t)(d->scanCount > 1 ? c->v : 1) * c->fullAcross;
    c->plane = (BYTE*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)(planeBlocks * 64));
    if (!c->plane)
        return Fail(d, "out of memory");
    if (d->progressive) {
        const uint64_t coefBytes = blocks * 64 * sizeof(int16_t);
        c->coef = (int16_t*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)(coefBytes + blocks * sizeof(uint64_t)));
        if (!c->coef)
            return Fail(d, "out of memory");
        c->nonzero = (uint64_t*)(c->coef + blocks * 64);
    }
    return TRUE;
}

// Reads the restart marker that must come next and starts the reader after it.
BOOL ReadRestart(JPEG_DECODER* d, BitReader& br)
{
    const BYTE* q = AlignedPosition(br);
    if (!q)
        return Fail(d, "marker inside entropy-coded data");
    if (q >= d->end)
        return Fail(d, "missing restart marker");
    uint32_t b = *q++;
    while (b == 0xFF) {
        if (q >= d->end)
            return Fail(d, "missing restart marker");
        b = *q++;
    }
    if (b != 0xD0 + d->expectedRestart)
        return Fail(d, "wrong or missing restart marker");
    d->expectedRestart = (d->expectedRestart + 1) & 7;
    for (int i = 0; i < d->scanCount; ++i)
        d->scanComp[i]->dcPred = 0;
    StartReader(br, q, d->end);
    return TRUE;
}

// In strips: converts the picture rows of the MCU row (interleaved) or block
// row (one component) just decoded, and moves the strips on to the next.
void StripDone(JPEG_DECODER* d, uint32_t row, bool interleaved)
{
    const uint32_t rows = interleaved ? d->mcuHeight : 8;
    const uint32_t y0 = row * rows;
    const uint32_t y1 = d->height - y0 < rows ? d->height : y0 + rows;
    JpegConvertRows(d, y0, y1);
    for (int i = 0; i < d->scanCount; ++i)
        d->scanComp[i]->planeBase += interleaved ? d->scanComp[i]->v : 1;
}

// Visits the blocks of the current scan in stream order, with restarts:
// interleaved by MCU, or one component's own blocks in row order. Only
// sequential scans can be decoded in strips (kMayStrip), and progressive
// ones are compiled without the test.
template <bool kMayStrip, typename BlockFn>
BOOL WalkScan(JPEG_DECODER* d, BitReader& br, bool interleaved, BlockFn&& block)
{
    uint32_t sinceRestart = 0;
    auto unitDone = [&]() -> BOOL {
        ++sinceRestart;
        if (Overrun(br))
            return Fail(d, br.stoppedOnFF ? "marker inside entropy-coded data" : "truncated JPEG stream");
        return !d->error;
    };
    auto restart = [&]() -> BOOL {
        if (d->restartInterval && sinceRestart == d->restartInterval) {
            sinceRestart = 0;
            return ReadRestart(d, br);
        }
        return TRUE;
    };
    if (!interleaved) {
        JPEG_COMPONENT* c = d->scanComp[0];
        for (uint32_t row = 0; row < c->scanDown; ++row) {
            for (uint32_t col = 0; col < c->scanAcross; ++col) {
                if (!restart() || !block(c, row, col) || !unitDone())
                    return Fail(d, "undecodable JPEG scan");
            }
            if (kMayStrip && d->strips)
                StripDone(d, row, false);
        }
        return TRUE;
    }
    for (uint32_t my = 0; my < d->mcusDown; ++my) {
        for (uint32_t mx = 0; mx < d->mcusAcross; ++mx) {
            if (!restart())
                return FALSE;
            for (int i = 0; i < d->scanCount; ++i) {
                JPEG_COMPONENT* c = d->scanComp[i];
                for (uint32_t v = 0; v < c->v; ++v) {
                    for (uint32_t h = 0; h < c->h; ++h) {
                        if (!block(c, my * c->v + v, mx * c->h + h))
                            return Fail(d, "undecodable JPEG scan");
                    }
                }
            }
            if (!unitDone())
                return FALSE;
        }
        if (kMayStrip && d->strips)
            StripDone(d, my, true);
    }
    return TRUE;
}

inline BYTE* PlaneBlock(const JPEG_COMPONENT* c, uint32_t row, uint32_t col)
{
    return c->plane + ((size_t)(row - c->planeBase) * c->fullAcross + col) * 64;
}

inline int16_t* CoefBlock(const JPEG_COMPONENT* c, uint32_t row, uint32_t col)
{
    return c->coef + ((size_t)row * c->fullAcross + col) * 64;
}

inline uint64_t* NonzeroWord(const JPEG_COMPONENT* c, uint32_t row, uint32_t col)
{
    return c->nonzero + (size_t)row * c->fullAcross + col;
}

// DC difference of a block: false for an undecodable code or one that asks
// for more than 16 bits.
QX_INLINE bool DecodeDc(BitReader& br, const JPEG_HUFF_TABLE* t, int32_t* diff)
{
    if (br.nbits < kRefillBelow)
        Fill(br);
    const int32_t f = t->fast[br.acc >> (kWordBits - kJpegLookBits)];
    if (f) {
        br.acc <<= f & 0xFF;
        br.nbits -= f & 0xFF;
        *diff = f >> 16;
        return true;
    }
    int s = DecodeSymbol(br, t);
    if (s < 0 || s > 16)
        return false;
    *diff = s ? Extend(GetBits(br, s), s) : 0;
    return true;
}

// The coefficients of a sequential block, dequantised into blk as they are
// decoded (all but the DC one, which is left in the predictor); `live` gets
// the bits of each row and column written (kLiveBits). False for a code no
// table accepts, a DC difference of more than 16 bits or an index past 63.
// The reader is worked on in a copy that the compiler can hold in registers.
bool SequentialCoefficients(BitReader& reader, JPEG_COMPONENT* c, uint32_t* blk, uint32_t& live)
{
    BitReader br = reader;
    int32_t diff;
    if (!DecodeDc(br, c->dc, &diff))
        return false;
    c->dcPred += (uint32_t)diff;
    const JPEG_HUFF_TABLE* ac = c->ac;
    const uint32_t* q = c->quant->scaled;
    bool ok = true;
    for (int k = 1; k < 64;) {
        if (br.nbits < kRefillBelow)
            Fill(br);
        int32_t f = ac->fast[br.acc >> (kWordBits - kJpegLookBits)];
        if (f) {
            int len = f & 0xFF;
            k += (f >> 8) & 0xFF;
            if (k >= 64) {
                // The end of the block, or a run past coefficient 63.
                ok = (f >> 16) == 0;
                br.acc <<= len;
                br.nbits -= len;
                break;
            }
            br.acc <<= len;
            br.nbits -= len;
            live |= kLiveBits.at[k];
            const int n = kJpegZigzag[k++];
            blk[n] = (uint32_t)(f >> 16) * q[n];
            continue;
        }
        int rs = DecodeSymbol(br, ac);
        if (rs < 0) {
            ok = false;
            break;
        }
        int r = rs >> 4, s = rs & 15;
        if (s == 0) {
            if (r != 15)
                break;
            k += 16;
            continue;
        }
        k += r;
        if (k >= 64) {
            ok = false;
            break;
        }
        live |= kLiveBits.at[k];
        const int n = kJpegZigzag[k++];
        blk[n] = (uint32_t)Extend(GetBits(br, s), s) * q[n];
    }
    reader = br;
    return ok;
}

// One sequential block, straight into the component's sample plane. `blk`
// is all zero and is left so.
bool SequentialBlock(BitReader& br, JPEG_COMPONENT* c, uint32_t* blk, const IMG_KERNELS* kernels, uint32_t row,
                     uint32_t col)
{
    uint32_t live = 0;
    const bool ok = SequentialCoefficients(br, c, blk, live);
    // The coefficient is the predictor's low 16 bits, as a 16-bit store keeps them.
    const uint32_t d0 = (uint32_t)(int32_t)(int16_t)c->dcPred * c->quant->scaled[0];
    BYTE* out = PlaneBlock(c, row, col);
    if (ok && live == 0) {
        JpegIdctDcOnly(d0, out, 8);
    } else if (ok) {
        blk[0] = d0;
        kernels->idct(blk, live | 0x101, out, 8);
    }
    if (live) {
        memset(blk, 0, 32 * sizeof *blk);
        if (live & 0xF0)
            memset(blk + 32, 0, 32 * sizeof *blk);
    }
    return ok;
}

bool DcFirstBlock(BitReader& br, JPEG_COMPONENT* c, uint32_t row, uint32_t col, uint32_t al)
{
    int32_t diff;
    if (!DecodeDc(br, c->dc, &diff))
        return false;
    c->dcPred += (uint32_t)diff;
    CoefBlock(c, row, col)[0] = (int16_t)(c->dcPred << al);
    return true;
}

bool DcRefineBlock(BitReader& br, JPEG_COMPONENT* c, uint32_t row, uint32_t col, uint32_t al)
{
    // The bit follows no pattern: it is merged, not branched on.
    int16_t* co = CoefBlock(c, row, col);
    co[0] = (int16_t)((uint16_t)co[0] | (GetBit(br) << al));
    return true;
}

// Sets or clears bit k of a block's nonzero word after coefficient k became v.
QX_INLINE uint64_t NoteCoefficient(uint64_t nonzero, int k, int16_t v)
{
    const uint64_t bit = (uint64_t)1 << k;
    return v ? nonzero | bit : nonzero & ~bit;
}

bool AcFirstBlock(BitReader& reader, JPEG_COMPONENT* c, int16_t* co, uint64_t* nonzeroWord, int ss, int se,
                  uint32_t al)
{
    if (c->eobRun > 0) {
        --c->eobRun;
        return true;
    }
    BitReader br = reader;   // a copy that can stay in registers
    const JPEG_HUFF_TABLE* ac = c->ac;
    uint64_t nonzero = *nonzeroWord;
    bool ok = true;
    for (int k = ss; k <= se;) {
        if (br.nbits < kRefillBelow)
            Fill(br);
        int32_t f = ac->fast[br.acc >> (kWordBits - kJpegLookBits)];
        if (f) {
            int len = f & 0xFF;
            br.acc <<= len;
            br.nbits -= len;
            k += (f >> 8) & 0xFF;
            if (k >= 64) {
                // The end of the band (a run of 0 further blocks), or a run
                // past coefficient 63.
                ok = (f >> 16) == 0;
                break;
            }
            // A value shifted out of 16 bits by a hostile Al stores a 0.
            const int16_t v = (int16_t)((uint32_t)(f >> 16) << al);
            co[kJpegZigzag[k]] = v;
            nonzero = NoteCoefficient(nonzero, k++, v);
            continue;
        }
        int rs = DecodeSymbol(br, ac);
        if (rs < 0) {
            ok = false;
            break;
        }
        int r = rs >> 4, s = rs & 15;
        if (s) {
            k += r;
            if (k >= 64) {
                ok = false;
                break;
            }
            const int16_t v = (int16_t)((uint32_t)Extend(GetBits(br, s), s) << al);
            co[kJpegZigzag[k]] = v;
            nonzero = NoteCoefficient(nonzero, k++, v);
        } else if (r == 15) {
            k += 16;
        } else {
            c->eobRun = (1u << r) - 1 + (r ? GetBits(br, r) : 0);
            break;
        }
    }
    *nonzeroWord = nonzero;
    reader = br;
    return ok;
}

// One correction bit for each coefficient of `which` (nonzero-word bits), in
// zigzag order; a set bit moves the coefficient p further from zero, which
// never makes it 0 (|v| + p stays below 65536). The bits follow no pattern,
// so they are added, not branched on.
QX_INLINE void RefineCoefficients(BitReader& br, int16_t* co, uint64_t which, int p)
{
    while (which) {
        int16_t* x = &co[kJpegZigzag[__builtin_ctzll(which)]];
        which &= which - 1;
        const int v = *x;
        const int bit = (int)GetBit(br);
        *x = (int16_t)(v + bit * (v > 0 ? p : -p));
    }
}

// The positions of `zeros` below its (n + 1)th set bit, and that bit; 0 for
// both when it has no such bit.
QX_INLINE uint64_t PastZeros(uint64_t zeros, int n, uint64_t* below)
{
    for (int i = 0; i < n; ++i)
        zeros &= zeros - 1;
    const uint64_t bit = zeros & (0 - zeros);
    *below = bit - 1;
    return bit;
}

// A refinement scan's block. The nonzero word gives the coefficients that
// take a correction bit and the zeros a run counts, so the zigzag walk
// visits only those. `rest` holds the band's positions not yet passed.
QX_INLINE bool AcRefineBody(BitReader& br, JPEG_COMPONENT* c, int16_t* co, uint64_t& nonzero, int ss, int se,
                            uint32_t al)
{
    const int p = 1 << al;
    const JPEG_HUFF_TABLE* ac = c->ac;
    uint64_t rest = (~(uint64_t)0 >> (63 - se)) & (~(uint64_t)0 << ss);
    for (;;) {
        if (c->eobRun > 0) {
            RefineCoefficients(br, co, nonzero & rest, p);
            --c->eobRun;
            return true;
        }
        if (!rest)
            return true;
        int r, sign;
        if (br.nbits < kRefillBelow)
            Fill(br);
        const int32_t f = ac->fast[br.acc >> (kWordBits - kJpegLookBits)];
        if (f) {
            // A code with its one extra bit, the sign, or the end of the band.
            const int len = f & 0xFF;
            br.acc <<= len;
            br.nbits -= len;
            r = (f >> 8) & 0xFF;
            if (r == kJpegEndOfBlock) {
                c->eobRun = 1;
                continue;
            }
            sign = f >> 16;
            if ((uint32_t)(sign + 1) & ~2u)
                return false;   // a new coefficient of more than one bit
        } else {
            const int rs = DecodeSymbol(br, ac);
            if (rs < 0)
                return false;
            r = rs >> 4;
            const int s = rs & 15;
            if (s == 0) {
                if (r != 15) {
                    c->eobRun = r ? (1u << r) + GetBits(br, r) : 1;
                    continue;
                }
                // Sixteen zeros, or what is left of the band.
                uint64_t below;
                const uint64_t at = PastZeros(rest & ~nonzero, 15, &below);
                RefineCoefficients(br, co, nonzero & rest & (at ? below : ~(uint64_t)0), p);
                rest &= at ? ~(below | at) : 0;
                continue;
            }
            if (s != 1)
                return false;
            sign = 2 * (int)GetBit(br) - 1;
        }
        // The new coefficient goes to the zero after r zeros, r places on
        // when no coefficient with a history comes first (most often);
        // else the coefficients passed on the way take their correction bits.
        uint64_t at = (rest & (0 - rest)) << r;
        const uint64_t span = rest & ((at << 1) - 1);
        if ((nonzero & span) | (at & ~rest) | !at) {
            uint64_t below;
            at = PastZeros(rest & ~nonzero, r, &below);
            if (!at)
                return false;
            RefineCoefficients(br, co, nonzero & rest & below, p);
        }
        co[kJpegZigzag[__builtin_ctzll(at)]] = (int16_t)(sign * p);
        nonzero |= at;
        rest &= ~(at | (at - 1));
    }
}

bool AcRefineBlock(BitReader& reader, JPEG_COMPONENT* c, int16_t* co, uint64_t* nonzeroWord, int ss, int se,
                   uint32_t al)
{
    BitReader br = reader;   // a copy that can stay in registers
    uint64_t nonzero = *nonzeroWord;
    const bool ok = AcRefineBody(br, c, co, nonzero, ss, se, al);
    *nonzeroWord = nonzero;
    reader = br;
    return ok;
}

BOOL DecodeScanData(JPEG_DECODER* d, BitReader& br)
{
    const int ss = (int)d->ss, se = (int)d->se;
    const uint32_t al = d->al;
    if (!d->progressive) {
        const IMG_KERNELS* kernels = Img_GetKernels();
        return WalkScan<true>(d, br, d->scanCount > 1, [&](JPEG_COMPONENT* c, uint32_t row, uint32_t col) {
            return SequentialBlock(br, c, d->block, kernels, row, col);
        });
    }
    if (ss == 0) {
        bool refine = d->ah != 0;
        return WalkScan<false>(d, br, d->scanCount > 1, [&](JPEG_COMPONENT* c, uint32_t row, uint32_t col) {
            return refine ? DcRefineBlock(br, c, row, col, al) : DcFirstBlock(br, c, row, col, al);
        });
    }
    if (d->ah == 0) {
        return WalkScan<false>(d, br, false, [&](JPEG_COMPONENT* c, uint32_t row, uint32_t col) {
            return AcFirstBlock(br, c, CoefBlock(c, row, col), NonzeroWord(c, row, col), ss, se, al);
        });
    }
    return WalkScan<false>(d, br, false, [&](JPEG_COMPONENT* c, uint32_t row, uint32_t col) {
        return AcRefineBlock(br, c, CoefBlock(c, row, col), NonzeroWord(c, row, col), ss, se, al);
    });
}

BOOL ReadScan(JPEG_DECODER* d)
{
    if (!d->frameSeen)
        return Fail(d, "JPEG scan before the frame header");
    if (d->strips) {
        d->retryWhole = TRUE;
        return Fail(d, "second scan after a decode in strips");
    }
    uint32_t length, ns;
    if (!ReadWord(d, &length) || !ReadByte(d, &ns))
        return FALSE;
    if (ns < 1 || ns > 3)
        return Fail(d, "JPEG scan with 0 or more than 3 components");
    d->scanCount = (int)ns;
    for (uint32_t i = 0; i < ns; ++i) {
        uint32_t id, tables;
        if (!ReadByte(d, &id) || !ReadByte(d, &tables))
            return FALSE;
        if (id == 255 || !d->comp[id].h)
            return Fail(d, "JPEG scan names an unknown component");
        JPEG_COMPONENT* c = &d->comp[id];
        for (uint32_t j = 0; j < i; ++j) {
            if (d->scanComp[j] == c)
                return Fail(d, "JPEG scan names a component twice");
        }
        if ((tables >> 4) > 3 || (tables & 15) > 3)
            return Fail(d, "Huffman table selector above 3");
        c->dc = &d->dcTables[tables >> 4];
        c->ac = &d->acTables[tables & 15];
        d->scanComp[i] = c;
    }
    uint32_t approx;
    if (!ReadByte(d, &d->ss) || !ReadByte(d, &d->se) || !ReadByte(d, &approx))
        return FALSE;
    d->ah = approx >> 4;
    d->al = approx & 15;
    if (d->progressive) {
        if (d->ss == 0 && d->se != 0)
            return Fail(d, "progressive DC scan with Se not 0");
        // Bounds the scans themselves do not check: a band past coefficient
        // 63 or reversed, and bit positions beyond 8-bit precision (13).
        if (d->se > 63 || d->ss > d->se)
            return Fail(d, "bad progressive spectral band");
        if (d->ah > 13 || d->al > 13)
            return Fail(d, "bad successive approximation bit position");
    }
    for (int i = 0; i < d->scanCount; ++i) {
        const JPEG_COMPONENT* c = d->scanComp[i];
        bool needDc = !d->progressive || d->ss == 0;
        bool needAc = !d->progressive || d->ss != 0;
        if (!c->quant->defined)
            return Fail(d, "missing quantisation table");
        if ((needDc && !c->dc->defined) || (needAc && !c->ac->defined))
            return Fail(d, "missing Huffman table");
    }
    // Strips only for a first scan that holds every component of a
    // sequential frame: nothing decoded before it needs keeping.
    d->strips = !d->noStrips && !d->progressive && d->scansDecoded == 0 && d->scanCount == d->frameCount;
    for (int i = 0; i < d->scanCount; ++i) {
        d->scanComp[i]->dcPred = 0;
        if (!PrepareComponent(d, d->scanComp[i]))
            return FALSE;
    }
    if (d->strips && !JpegAllocLines(d))
        return Fail(d, "out of memory");
    ++d->scansDecoded;
    d->expectedRestart = 0;
    BitReader br;
    StartReader(br, d->pos, d->end);
    if (!DecodeScanData(d, br))
        return FALSE;
    d->stripsDone = d->strips;
    const BYTE* q = AlignedPosition(br);
    if (!q)
        return Fail(d, "marker inside entropy-coded data");
    d->pos = q;
    return TRUE;
}

// ---- markers --------------------------------------------------------------------

BOOL SkipSegment(JPEG_DECODER* d)
{
    uint32_t remaining;
    if (!ReadSegmentLength(d, &remaining))
        return FALSE;
    if ((uint32_t)(d->end - d->pos) < remaining)
        return Fail(d, "truncated JPEG stream");
    d->pos += remaining;
    return TRUE;
}

BOOL HandleMarker(JPEG_DECODER* d)
{
    uint32_t m;
    do {
        if (!ReadByte(d, &m))
            return FALSE;
    } while (m == 0xFF);
    switch (m) {
    case 0x00:
    case 0xD8:
        return TRUE;
    case 0xC0:
    case 0xC1:
    case 0xC2:
        d->progressive = m == 0xC2 && !d->frameSeen;
        return ReadFrame(d, m);
    case 0xC4:
        return ReadDht(d);
    case 0xDB:
        return ReadDqt(d);
    case 0xDD: {
        uint32_t length;
        return ReadWord(d, &length) && ReadWord(d, &d->restartInterval);
    }
    case 0xDA:
        return ReadScan(d);
    case 0xD9:
        d->eoiSeen = TRUE;
        return TRUE;
    case 0xC3:
    case 0xC7:
        return Fail(d, "lossless JPEG");
    case 0xC5:
    case 0xC6:
    case 0xDE:
        return Fail(d, "hierarchical JPEG");
    case 0xC9:
    case 0xCA:
    case 0xCB:
    case 0xCD:
    case 0xCE:
    case 0xCF:
        return Fail(d, "arithmetic-coded JPEG");
    default:
        break;
    }
    if ((m >= 0xE0 && m <= 0xEF) || m == 0xFE)
        return SkipSegment(d);
    uint32_t ignored;
    if (ReadByte(d, &ignored))
        Fail(d, "unexpected JPEG marker");
    return FALSE;
}

// Leading junk, then SOI with a quantisation table, or a JFIF/Exif header.
const BYTE* CheckSignature(JPEG_DECODER* d, const BYTE* data)
{
    const BYTE* p = data;
    for (int skipped = 0; skipped < 144 && p < d->end && *p < 0xFF; ++skipped)
        ++p;
    if (d->end - p < 4 || p[0] != 0xFF || p[1] != 0xD8 || p[2] != 0xFF)
        return nullptr;
    if (p[3] == 0xDB)
        return p + 2;
    if (p[3] != 0xE0 && p[3] != 0xE1)
        return nullptr;
    if (d->end - p < 11 || (memcmp(p + 6, "JFIF", 5) != 0 && memcmp(p + 6, "Exif", 5) != 0))
        return nullptr;
    d->fileHeader = TRUE;
    size_t segment = (size_t)p[4] << 8 | p[5];
    if ((size_t)(d->end - p) < 4 + segment)
        return d->end;
    return p + 4 + segment;
}

// The buffers of a decode, not the picture.
void FreeBuffers(JPEG_DECODER* d)
{
    for (int i = 0; i < d->frameCount; ++i) {
        JPEG_COMPONENT& c = d->comp[d->frameIds[i]];
        HeapFree(GetProcessHeap(), 0, c.plane);
        HeapFree(GetProcessHeap(), 0, c.coef);
    }
    HeapFree(GetProcessHeap(), 0, d->lines);
}

// `d` is all zeros.
void StartDecoder(JPEG_DECODER* d, HDC hdc, const BYTE* data, IMG_INFO* info, BOOL noStrips)
{
    d->info = info;
    d->dc = hdc;
    d->end = data + info->cbData;
    d->outBitCount = 24;
    d->noStrips = noStrips;
}

// Signature, marker loop and picture; the outcome is left in the decoder.
void RunDecoder(JPEG_DECODER* d, const BYTE* data)
{
    d->pos = CheckSignature(d, data);
    if (!d->pos) {
        Fail(d, "not a JPEG stream (no JFIF or Exif header)");
    } else {
        // Bytes other than 0xFF between segments are passed over.
        uint32_t b = 0;
        ReadByte(d, &b);
        while (!d->error) {
            if (b == 0xFF && (!HandleMarker(d) || d->eoiSeen))
                break;
            if (d->pos >= d->end) {
                Fail(d, "no end-of-image marker");
                break;
            }
            b = *d->pos++;
        }
    }
    if (!d->error && !JpegBuildPicture(d))
        Fail(d, "out of memory");
    if (!d->error && !d->eoiSeen)
        Fail(d, "no end-of-image marker");
    if (!d->error && !d->dib)
        Fail(d, "JPEG stream without a frame");
}

void DiscardPicture(JPEG_DECODER* d)
{
    if (d->dib)
        DeleteObject(d->dib);
    HeapFree(GetProcessHeap(), 0, d->header);
}

} // namespace

HBITMAP Img_DecodeJpeg(HDC hdc, const BYTE* data, IMG_INFO* info)
{
    if (!data || !info)
        return nullptr;
    // The decoder is some 50 KB: it goes on the heap, not on the stack of the
    // shell thread that paints the page.
    JPEG_DECODER* d = (JPEG_DECODER*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(JPEG_DECODER));
    if (!d) {
        Img_NoteRefusal("out of memory");
        return nullptr;
    }
    StartDecoder(d, hdc, data, info, FALSE);
    RunDecoder(d, data);
    if (d->retryWhole) {
        // A second scan met a decode in strips: the same stream again with
        // whole planes gives what a decode with whole planes gives.
        FreeBuffers(d);
        DiscardPicture(d);
        memset(d, 0, sizeof *d);
        StartDecoder(d, hdc, data, info, TRUE);
        RunDecoder(d, data);
    }
    HBITMAP result = nullptr;
    if (d->error) {
        Img_NoteRefusal(d->refusal);
        DiscardPicture(d);
    } else {
        info->pBitmapInfo = d->header;
        info->pBits = d->bits;
        info->nColors = 0;
        result = d->dib;
    }
    FreeBuffers(d);
    HeapFree(GetProcessHeap(), 0, d);
    return result;
}
