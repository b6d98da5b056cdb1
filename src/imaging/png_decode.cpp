// PNG decoding into a DIB section: 1-, 4- or 8-bit with a colour table for
// palette and greyscale pictures, 24-bit for true colour. The chunks are
// walked in order with every CRC checked; the first IDAT chunk decodes the
// whole image, pulling one row at a time from the decompressor, which reads
// the following IDAT chunks itself. Transparency is not kept: tRNS is
// ignored and alpha is composited over black.
//
// Memory beyond the bitmap: the chunk buffer (as long as the longest chunk),
// two raw rows, and the decompressor's 32 KB window and tables.
#include "imaging/imaging.h"

#include "imaging/checksum.h"
#include "imaging/inflate.h"
#include "imaging/kernels.h"
#include "imaging/png_filter.h"

#include <cstring>

namespace {

constexpr BYTE kSignature[8] = { 137, 80, 78, 71, 13, 10, 26, 10 };

constexpr DWORD ChunkType(const char (&name)[5])
{
    return ((DWORD)(BYTE)name[0] << 24) | ((DWORD)(BYTE)name[1] << 16) | ((DWORD)(BYTE)name[2] << 8) |
           (DWORD)(BYTE)name[3];
}
constexpr DWORD kIHDR = ChunkType("IHDR");
constexpr DWORD kPLTE = ChunkType("PLTE");
constexpr DWORD kIDAT = ChunkType("IDAT");
constexpr DWORD kIEND = ChunkType("IEND");
// Bit 5 of the first type letter: set (lower case) for ancillary chunks,
// which a decoder may skip without understanding them.
constexpr DWORD kAncillaryBit = 0x20000000;

constexpr DWORD kMaxChunkLength = 0x7FFFFFFF;

enum : DWORD { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

// Adam7: x start, y start, x step, y step of each pass.
struct Adam7Pass {
    BYTE xStart, yStart, xStep, yStep;
};
constexpr Adam7Pass kAdam7[7] = { { 0, 0, 8, 8 }, { 4, 0, 8, 8 }, { 0, 4, 4, 8 }, { 2, 0, 4, 4 },
                                  { 0, 2, 2, 4 }, { 1, 0, 2, 2 }, { 0, 1, 1, 2 } };

// A DEFLATE stream cannot expand its input more than this: the shortest
// possible match is two bits (one-bit length and distance codes) for 258 bytes.
constexpr unsigned long long kMaxInflateRatio = 1032;

// Zero bytes before each raw row stand in for the pixels left of the first
// one (and, in the row above, for the upper-left ones), so the filters need
// no special case at the row start; the byte just before the row receives
// the filter type. After the row, room for the decompressor's word copies.
constexpr DWORD kRowLead = 16;
constexpr DWORD kRowTail = INFLATE_SLACK;

inline DWORD ReadBE32(const BYTE* p)
{
    return ((DWORD)p[0] << 24) | ((DWORD)p[1] << 16) | ((DWORD)p[2] << 8) | p[3];
}

// How the pixels of one row are turned into DIB pixels.
enum class RowFormat {
    Packed,      // palette or grey at 1, 4 or 8 bits: the raw bytes as they are
    Widen2,      // 2-bit palette or grey: each index widened to 4 bits
    Rgb,         // 8-bit RGB to BGR
    Rgba,        // 8-bit RGBA to BGR over black
    GreyAlpha,   // 8-bit grey and alpha to grey over black
};

struct PNG_DECODER {
    BOOL error;
    BOOL seenIdat;
    BOOL seenPlte;
    BOOL seenIhdr;
    BOOL seenIend;
    BOOL idatRunOver;    // a chunk other than IDAT came after the first IDAT
    BOOL chunkPending;   // the decompressor read the current chunk but it was not IDAT

    // Input: the file image after the signature.
    const BYTE* next;
    DWORD left;

    // Current chunk.
    DWORD chunkLength;
    DWORD chunkType;
    BYTE* chunkData;
    DWORD chunkCapacity;

    INFLATE_STATE inflate;

    IMG_INFO* info;
    HDC dc;
    BITMAPINFO* header;
    BYTE* bits;
    HBITMAP dib;
    DWORD stride;

    DWORD paletteCount;
    RGBQUAD palette[256];
    BYTE outBits;
    RowFormat format;

    DWORD width;
    DWORD height;
    DWORD colorType;
    BYTE depth;
    BYTE compression;
    BYTE filter;
    BYTE interlace;

    BYTE* rowBlock;
    BYTE* rows[2];
    DWORD current;
    DWORD rawRowBytes;
    DWORD pixelBytes;    // bytes per pixel for the filters (at least 1)
};

// Fails the decode; the first reason is kept for the tools that ask why.
void Refuse(PNG_DECODER* d, const char* why)
{
    d->error = TRUE;
    Img_NoteRefusal(why);
}

void* Alloc(SIZE_T size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void Free(void* p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

// ---- chunks ------------------------------------------------------------------------

// Reads the next chunk into the chunk buffer and checks its CRC.
bool ReadChunk(PNG_DECODER* d)
{
    if (d->left < 12) {
        Refuse(d, "the file ends before its IEND chunk");
        return false;
    }
    const DWORD length = ReadBE32(d->next);
    if (length > kMaxChunkLength || length > d->left - 12) {
        Refuse(d, "a chunk runs past the end of the file");
        return false;
    }
    const BYTE* type = d->next + 4;
    const BYTE* data = type + 4;
    if (length > d->chunkCapacity) {
        Free(d->chunkData);
        d->chunkCapacity = 0;
        d->chunkData = static_cast<BYTE*>(Alloc(length));
        if (!d->chunkData) {
            Refuse(d, "out of memory");
            return false;
        }
        d->chunkCapacity = length;
    }
    const DWORD crc = Crc32Update(Crc32Update(0, type, 4), data, length);
    if (crc != ReadBE32(data + length)) {
        Refuse(d, "a chunk's CRC does not match: the file is damaged");
        return false;
    }
    memcpy(d->chunkData, data, length);
    d->chunkType = ReadBE32(type);
    d->chunkLength = length;
    d->next += 12 + length;
    d->left -= 12 + length;
    return true;
}

// The decompressor's source of input after the first IDAT chunk.
int NextIdat(void* context, const BYTE** next, const BYTE** end)
{
    PNG_DECODER* d = static_cast<PNG_DECODER*>(context);
    if (!ReadChunk(d))
        return -1;
    if (d->chunkType != kIDAT) {
        // The image data has ended. The chunk is kept for the chunk loop.
        d->chunkPending = TRUE;
        return 0;
    }
    *next = d->chunkData;
    *end = d->chunkData + d->chunkLength;
    return 1;
}

// Total length of the run of IDAT chunks that starts with the current one,
// read from the chunk headers ahead (CRCs are checked when they are read).
unsigned long long IdatRunLength(const PNG_DECODER* d)
{
    unsigned long long total = d->chunkLength;
    const BYTE* p = d->next;
    DWORD left = d->left;
    while (left >= 12 && ReadBE32(p + 4) == kIDAT) {
        const DWORD length = ReadBE32(p);
        if (length > left - 12)
            break;
        total += length;
        p += 12 + length;
        left -= 12 + length;
    }
    return total;
}

void ParseHeader(PNG_DECODER* d)
{
    d->seenIhdr = TRUE;
    if (d->chunkLength != 13) {
        Refuse(d, "the IHDR chunk is not 13 bytes long");
        return;
    }
    const BYTE* p = d->chunkData;
    d->width = ReadBE32(p);
    d->height = ReadBE32(p + 4);
    d->depth = p[8];
    d->colorType = p[9];
    d->compression = p[10];
    d->filter = p[11];
    d->interlace = p[12];

    bool ok = d->width && d->height && d->width <= 0x7FFFFFFF && d->height <= 0x7FFFFFFF &&
              d->compression == 0 && d->filter == 0 && d->interlace <= 1;
    const BYTE depth = d->depth;
    const bool anyDepth = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    switch (d->colorType) {
    case kGrey:
        ok = ok && anyDepth;
        break;
    case kRgb:
    case kGreyAlpha:
    case kRgba:
        ok = ok && (depth == 8 || depth == 16);
        break;
    case kPalette:
        ok = ok && anyDepth && depth != 16;
        break;
    default:
        ok = false;
    }
    if (!ok)
        Refuse(d, "IHDR: size, bit depth, colour type or method not valid");
    static const char* const kCoding[2][7] = {
        { "greyscale", nullptr, "RGB", "palette", "greyscale with alpha", nullptr, "RGBA" },
        { "greyscale, interlaced", nullptr, "RGB, interlaced", "palette, interlaced",
          "greyscale with alpha, interlaced", nullptr, "RGBA, interlaced" },
    };
    static constexpr BYTE kChannels[7] = { 1, 0, 3, 1, 2, 0, 4 };
    IMG_NOTES* notes = Img_GetNotes();
    notes->width = d->width;
    notes->height = d->height;
    if (d->colorType < 7) {
        notes->coding = kCoding[d->interlace & 1][d->colorType];
        notes->components = kChannels[d->colorType];
    }
}

void ParsePalette(PNG_DECODER* d)
{
    const DWORD length = d->chunkLength;
    if (d->seenPlte || d->seenIdat || d->colorType == kGrey || d->colorType == kGreyAlpha ||
        length % 3 != 0 || length > 768) {
        Refuse(d, "PLTE chunk repeated, out of place or of a bad length");
        return;
    }
    d->seenPlte = TRUE;
    if (d->colorType != kPalette)
        return;  // a suggested palette for true colour: not used
    // An empty palette leaves nothing to show; entries beyond what the bit
    // depth can index are dropped, as they can never be used.
    DWORD count = length / 3;
    if (count == 0) {
        Refuse(d, "the PLTE chunk is empty");
        return;
    }
    if (count > (1u << d->depth))
        count = 1u << d->depth;
    for (DWORD i = 0; i < count; ++i) {
        const BYTE* rgb = d->chunkData + 3 * i;
        d->palette[i] = { rgb[2], rgb[1], rgb[0], 0 };
    }
    d->paletteCount = count;
}

// ---- output rows --------------------------------------------------------------------

// 2-bit indices widened to 4 bits: one input byte (four pixels) gives two bytes.
struct Widen2Table {
    WORD t[256];
};
constexpr Widen2Table MakeWiden2()
{
    Widen2Table w{};
    for (DWORD b = 0; b < 256; ++b) {
        const DWORD p0 = (b >> 6) & 3, p1 = (b >> 4) & 3, p2 = (b >> 2) & 3, p3 = b & 3;
        w.t[b] = (WORD)(((p0 << 4) | p1) | (((p2 << 4) | p3) << 8));  // bytes in memory order
    }
    return w;
}
constexpr Widen2Table kWiden2 = MakeWiden2();

// (c * a) / 255 for c, a in 0..255, without a division.
inline BYTE OverBlack(DWORD c, DWORD a)
{
    const DWORD x = c * a;
    return (BYTE)((x + 1 + (x >> 8)) >> 8);
}

BYTE* DibRow(PNG_DECODER* d, DWORD y) { return d->bits + (SIZE_T)(d->height - 1 - y) * d->stride; }

// Converts 'count' pixels of a raw row to DIB pixels, placing pixel i at
// column x0 + i * step. Returns the bytes of the DIB row it has written up to
// (for the whole-row case, where the padding after them is cleared).
DWORD ConvertPixels(PNG_DECODER* d, const BYTE* src, BYTE* dst, DWORD count, DWORD x0, DWORD step)
{
    switch (d->format) {
    case RowFormat::Rgb:
        dst += 3 * x0;
        if (step == 1) {
            Img_GetKernels()->rgbToBgr(src, count, dst);
            return 3 * count;
        }
        for (DWORD i = 0; i < count; ++i, src += 3, dst += 3 * step) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        return 3 * count;
    case RowFormat::Rgba:
        dst += 3 * x0;
        for (DWORD i = 0; i < count; ++i, src += 4, dst += 3 * step) {
            const DWORD a = src[3];
            dst[0] = OverBlack(src[2], a);
            dst[1] = OverBlack(src[1], a);
            dst[2] = OverBlack(src[0], a);
        }
        return 3 * count;
    case RowFormat::GreyAlpha:
        dst += x0;
        for (DWORD i = 0; i < count; ++i, src += 2, dst += step)
            *dst = OverBlack(src[0], src[1]);
        return count;
    case RowFormat::Packed:
        if (step == 1 && x0 == 0) {
            const DWORD bytes = (count * d->depth + 7) / 8;
            memcpy(dst, src, bytes);
            return bytes;
        }
        break;
    case RowFormat::Widen2:
        if (step == 1 && x0 == 0) {
            const DWORD bytes = (count + 1) / 2;
            const DWORD whole = bytes / 2;
            for (DWORD i = 0; i < whole; ++i)
                memcpy(dst + 2 * i, &kWiden2.t[src[i]], 2);
            if (bytes & 1)
                dst[bytes - 1] = (BYTE)kWiden2.t[src[whole]];
            return bytes;
        }
        break;
    }
    // Pixels of an interlaced pass, one at a time into their columns.
    const DWORD inBits = d->depth;
    const DWORD outBits = d->outBits;
    const DWORD mask = (1u << inBits) - 1;
    for (DWORD i = 0; i < count; ++i) {
        const DWORD bit = i * inBits;
        const DWORD value = (src[bit >> 3] >> (8 - inBits - (bit & 7))) & mask;
        const DWORD x = x0 + i * step;
        if (outBits == 8) {
            dst[x] = (BYTE)value;
        } else {
            const DWORD outBit = x * outBits;
            const DWORD shift = 8 - outBits - (outBit & 7);
            BYTE& b = dst[outBit >> 3];
            b = (BYTE)((b & ~(((1u << outBits) - 1) << shift)) | (value << shift));
        }
    }
    return 0;
}

// ---- image data ----------------------------------------------------------------------

DWORD RawBytes(const PNG_DECODER* d, DWORD pixels)
{
    static constexpr BYTE kChannels[7] = { 1, 0, 3, 1, 2, 0, 4 };
    return (DWORD)(((unsigned long long)pixels * kChannels[d->colorType] * d->depth + 7) / 8);
}

// Chooses the DIB format and builds the colour table. False for the formats
// that are not shown (16 bits per sample).
bool ChooseOutput(PNG_DECODER* d)
{
    if (d->depth == 16)
        return false;
    switch (d->colorType) {
    case kRgb:
        d->format = RowFormat::Rgb;
        d->outBits = 24;
        d->pixelBytes = 3;
        return true;
    case kRgba:
        d->format = RowFormat::Rgba;
        d->outBits = 24;
        d->pixelBytes = 4;
        return true;
    case kGreyAlpha:
        d->format = RowFormat::GreyAlpha;
        d->outBits = 8;
        d->pixelBytes = 2;
        d->paletteCount = 256;
        break;
    default:
        // Grey and palette: the raw indices, 2-bit ones widened to 4 bits
        // as there is no 2-bit DIB.
        d->format = d->depth == 2 ? RowFormat::Widen2 : RowFormat::Packed;
        d->outBits = d->depth == 2 ? 4 : d->depth;
        d->pixelBytes = 1;
        if (d->colorType == kGrey)
            d->paletteCount = 1u << d->depth;
        break;
    }
    if (d->colorType != kPalette) {
        const DWORD top = d->paletteCount - 1;
        for (DWORD i = 0; i <= top; ++i) {
            const BYTE level = (BYTE)(i * 255 / top);
            d->palette[i] = { level, level, level, 0 };
        }
    }
    return true;
}

// Bytes the decompressor must deliver for the whole image.
unsigned long long StreamBytes(const PNG_DECODER* d)
{
    if (!d->interlace)
        return (unsigned long long)d->height * (d->rawRowBytes + 1);
    unsigned long long total = 0;
    for (const Adam7Pass& p : kAdam7) {
        if (p.xStart >= d->width || p.yStart >= d->height)
            continue;
        const DWORD passWidth = (d->width - p.xStart + p.xStep - 1) / p.xStep;
        const DWORD passRows = (d->height - p.yStart + p.yStep - 1) / p.yStep;
        total += (unsigned long long)passRows * (RawBytes(d, passWidth) + 1);
    }
    return total;
}

bool MakeDib(PNG_DECODER* d)
{
    const DWORD entries = d->paletteCount;
    const SIZE_T headerSize = sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD) * (entries ? entries : 1);
    d->header = static_cast<BITMAPINFO*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, headerSize));
    if (!d->header)
        return false;
    BITMAPINFOHEADER& h = d->header->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = (LONG)d->width;
    h.biHeight = (LONG)d->height;  // positive: rows bottom-up
    h.biPlanes = 1;
    h.biBitCount = d->outBits;
    h.biCompression = BI_RGB;
    h.biXPelsPerMeter = 72;
    h.biYPelsPerMeter = 72;
    h.biClrUsed = entries;
    memcpy(d->header->bmiColors, d->palette, sizeof(RGBQUAD) * entries);

    if (entries) {
        LOGPALETTE* lp = static_cast<LOGPALETTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 4 * entries + 8));
        if (!lp)
            return false;
        lp->palVersion = 0x300;
        lp->palNumEntries = (WORD)entries;
        for (DWORD i = 0; i < entries; ++i)
            lp->palPalEntry[i] = { d->palette[i].rgbRed, d->palette[i].rgbGreen, d->palette[i].rgbBlue, 0 };
        d->info->pLogPalette = lp;
    }

    void* bits = nullptr;
    d->dib = CreateDIBSection(d->dc, d->header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!d->dib || !bits)
        return false;
    d->bits = static_cast<BYTE*>(bits);
    return true;
}

const char* InflateRefusal(DWORD error)
{
    switch (error) {
    case INFLATE_ERR_TRUNCATED:
        return "the image data ends before the picture is complete";
    case INFLATE_ERR_MEMORY:
        return "out of memory";
    case INFLATE_ERR_CHECKSUM:
        return "the image data's Adler-32 does not match";
    case INFLATE_ERR_INPUT:
        return "the image data is interrupted by a damaged chunk";
    default:
        return "the compressed image data is damaged";
    }
}

// Reads one filtered row of 'bytes' bytes into the current row buffer and
// undoes its filter against the previous one. Returns the row, or null.
const BYTE* NextRow(PNG_DECODER* d, DWORD bytes)
{
    BYTE* row = d->rows[d->current];
    const BYTE* prev = d->rows[d->current ^ 1];
    if (Inflate_Read(&d->inflate, row - 1, bytes + 1, INFLATE_SLACK) != bytes + 1) {
        Refuse(d, d->inflate.error ? InflateRefusal(d->inflate.error)
                                   : "the image data ends before the picture is complete");
        return nullptr;
    }
    const BYTE type = row[-1];
    row[-1] = 0;
    if (!Png_Unfilter(type, row, prev, bytes, d->pixelBytes)) {
        Refuse(d, "a row has an unknown filter type");
        return nullptr;
    }
    d->current ^= 1;
    return row;
}

void ClearRows(PNG_DECODER* d, DWORD bytes)
{
    memset(d->rows[0], 0, bytes);
    memset(d->rows[1], 0, bytes);
}

bool DecodeRows(PNG_DECODER* d)
{
    if (!d->interlace) {
        ClearRows(d, d->rawRowBytes);
        for (DWORD y = 0; y < d->height; ++y) {
            const BYTE* row = NextRow(d, d->rawRowBytes);
            if (!row)
                return false;
            BYTE* dst = DibRow(d, y);
            const DWORD written = ConvertPixels(d, row, dst, d->width, 0, 1);
            memset(dst + written, 0, d->stride - written);
        }
        return true;
    }
    // Passes fill the rows a few columns at a time; the bitmap starts cleared
    // so the padding and the bits between pixels are defined.
    memset(d->bits, 0, (SIZE_T)d->stride * d->height);
    for (const Adam7Pass& p : kAdam7) {
        if (p.xStart >= d->width || p.yStart >= d->height)
            continue;
        const DWORD passWidth = (d->width - p.xStart + p.xStep - 1) / p.xStep;
        const DWORD bytes = RawBytes(d, passWidth);
        ClearRows(d, bytes);
        for (DWORD y = p.yStart; y < d->height; y += p.yStep) {
            const BYTE* row = NextRow(d, bytes);
            if (!row)
                return false;
            ConvertPixels(d, row, DibRow(d, y), passWidth, p.xStart, p.xStep);
        }
    }
    return true;
}

// The first IDAT chunk: decodes the whole image.
void DecodeImage(PNG_DECODER* d)
{
    if (d->colorType == kPalette && !d->seenPlte) {
        Refuse(d, "a palette picture without a PLTE chunk before its data");
        return;
    }
    if (!ChooseOutput(d)) {
        Refuse(d, "16-bit samples are not supported");
        return;
    }
    // Nothing the file claims is allocated before it is checked: against
    // 32-bit sizes, and against what the compressed data could expand to.
    d->rawRowBytes = RawBytes(d, d->width);
    const unsigned long long rowBits = (unsigned long long)d->width * d->outBits + 31;
    const unsigned long long dibBytes = rowBits / 32 * 4 * d->height;
    if (rowBits > 0xFFFFFFFFull || dibBytes > 0x7FFFFFFF || d->rawRowBytes > 0x7FFFFFFF - 64) {
        Refuse(d, "the picture is too large");
        return;
    }
    if (StreamBytes(d) > kMaxInflateRatio * IdatRunLength(d)) {
        Refuse(d, "the image data is too short for the picture's size");
        return;
    }
    d->stride = Img_GetRowBytes((LONG)d->width, d->outBits);
    if (!d->stride || !MakeDib(d)) {
        Refuse(d, "the bitmap could not be made (out of memory)");
        return;
    }

    const SIZE_T slot = (kRowLead + d->rawRowBytes + kRowTail + 15) & ~(SIZE_T)15;
    d->rowBlock = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * slot));
    if (!d->rowBlock) {
        Refuse(d, "out of memory");
        return;
    }
    d->rows[0] = d->rowBlock + kRowLead;
    d->rows[1] = d->rowBlock + slot + kRowLead;

    if (!Inflate_Start(&d->inflate, d->chunkData, d->chunkData + d->chunkLength, NextIdat, d)) {
        Refuse(d, InflateRefusal(d->inflate.error));
        return;
    }
    if (DecodeRows(d) && Inflate_Finish(&d->inflate) < 0)
        Refuse(d, InflateRefusal(d->inflate.error));
}

void HandleChunk(PNG_DECODER* d)
{
    const DWORD type = d->chunkType;
    if (type != kIDAT && d->seenIdat)
        d->idatRunOver = TRUE;
    switch (type) {
    case kIHDR:
        if (!d->seenIhdr)
            ParseHeader(d);
        break;
    case kPLTE:
        ParsePalette(d);
        break;
    case kIDAT:
        if (!d->seenIdat) {
            d->seenIdat = TRUE;
            DecodeImage(d);
        } else if (d->idatRunOver) {
            Refuse(d, "the image data (IDAT) is split by other chunks");
        }
        // else: the rest of the image data's run, not needed once the
        // image is complete (often just the end of the zlib stream)
        break;
    case kIEND:
        d->seenIend = TRUE;
        break;
    default:
        if (!(type & kAncillaryBit))
            Refuse(d, "a critical chunk this decoder does not know");
        break;
    }
}

} // namespace

HBITMAP Img_DecodePng(HDC dc, const BYTE* data, IMG_INFO* info)
{
    if (!data || !info || info->cbData < sizeof(kSignature) || memcmp(data, kSignature, sizeof(kSignature)) != 0) {
        Img_NoteRefusal("not a PNG file (no PNG signature)");
        return nullptr;
    }

    PNG_DECODER d{};
    d.info = info;
    d.dc = dc;
    d.next = data + sizeof(kSignature);
    d.left = info->cbData - sizeof(kSignature);

    if (ReadChunk(&d) && d.chunkType == kIHDR) {
        for (;;) {
            HandleChunk(&d);
            if (d.error || d.seenIend)
                break;
            if (d.chunkPending)
                d.chunkPending = FALSE;  // already read by the decompressor
            else if (!ReadChunk(&d))
                break;
        }
    } else if (!d.error) {
        Refuse(&d, "the first chunk is not IHDR");
    }
    if (!d.error && !d.dib)
        Refuse(&d, "the file has no image data (IDAT)");

    Inflate_End(&d.inflate);
    Free(d.chunkData);
    Free(d.rowBlock);
    if (d.error || !d.dib) {
        if (d.dib)
            DeleteObject(d.dib);
        Free(d.header);
        Free(info->pLogPalette);
        info->pLogPalette = nullptr;
        return nullptr;
    }
    info->pBitmapInfo = d.header;
    info->pBits = d.bits;
    info->nColors = d.paletteCount;
    return d.dib;
}
