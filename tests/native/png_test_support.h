// Test helpers for the PNG and DEFLATE tests: files made with libpng and
// zlib (the references), a chunk-level editor for damaged and unusual files,
// and the decoded DIB read back as RGB.
#pragma once
#include <windows.h>

#include "imaging/imaging.h"
#include "png_memio.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

// Deterministic pseudo-random bytes (xorshift), so every run sees the same data.
class Random {
public:
    explicit Random(uint32_t seed) : s_(seed ? seed : 1) {}
    uint32_t Next()
    {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    uint8_t Byte() { return (uint8_t)(Next() >> 24); }

private:
    uint32_t s_;
};

inline Bytes ZlibCompress(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15,
                          int memLevel = 8)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, windowBits, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&zs, (uLong)data.size()) + 64);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = (uInt)data.size();
    zs.next_out = out.data();
    zs.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// ---- chunk editing --------------------------------------------------------------

struct Chunk {
    std::string type;
    Bytes data;
};

inline uint32_t BE32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
inline void PutBE32(Bytes& out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        out.push_back((uint8_t)(v >> s));
}

inline std::vector<Chunk> ParseChunks(const Bytes& file)
{
    std::vector<Chunk> chunks;
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        uint32_t len = BE32(&file[pos]);
        Chunk c{ std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4),
                 Bytes(file.begin() + pos + 8, file.begin() + pos + 8 + len) };
        chunks.push_back(c);
        pos += 12 + len;
    }
    return chunks;
}

inline Bytes BuildPng(const std::vector<Chunk>& chunks)
{
    Bytes out = { 137, 80, 78, 71, 13, 10, 26, 10 };
    for (const Chunk& c : chunks) {
        PutBE32(out, (uint32_t)c.data.size());
        size_t start = out.size();
        out.insert(out.end(), c.type.begin(), c.type.end());
        out.insert(out.end(), c.data.begin(), c.data.end());
        PutBE32(out, (uint32_t)crc32(0, &out[start], (uInt)(out.size() - start)));
    }
    return out;
}

// The zlib stream of all IDAT chunks.
inline Bytes IdatStream(const std::vector<Chunk>& chunks)
{
    Bytes z;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT")
            z.insert(z.end(), c.data.begin(), c.data.end());
    return z;
}

// Replaces the IDAT chunks with 'stream' cut into pieces of the given sizes
// (the last size repeats; a size of 0 makes empty chunks between pieces).
inline std::vector<Chunk> WithIdat(const std::vector<Chunk>& chunks, const Bytes& stream,
                                   const std::vector<size_t>& sizes)
{
    std::vector<Chunk> out;
    bool placed = false;
    for (const Chunk& c : chunks) {
        if (c.type != "IDAT") {
            out.push_back(c);
            continue;
        }
        if (placed)
            continue;
        placed = true;
        size_t pos = 0, i = 0;
        do {
            size_t n = sizes[i < sizes.size() ? i : sizes.size() - 1];
            ++i;
            n = std::min(n == 0 && i >= sizes.size() ? stream.size() : n, stream.size() - pos);
            out.push_back({ "IDAT", Bytes(stream.begin() + pos, stream.begin() + pos + n) });
            pos += n;
        } while (pos < stream.size());
    }
    return out;
}

// ---- libpng as writer and reference reader ----------------------------------------

struct PngShape {
    uint32_t width = 16, height = 16;
    int colorType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlace = false;
    int filters = PNG_ALL_FILTERS;  // PNG_FILTER_NONE ... or a mask for adaptive choice
    int paletteSize = 0;            // for palette images; 0 = 2^depth
    int level = 6;
};

inline int Channels(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// Raw packed rows for a spec: smooth parts (which the filters predict well)
// mixed with noise, so every filter type leaves something to undo.
inline std::vector<Bytes> MakeRows(const PngShape& s, uint32_t seed)
{
    Random r(seed);
    const int ch = Channels(s.colorType);
    const int maxValue = s.colorType == PNG_COLOR_TYPE_PALETTE ? (s.paletteSize ? s.paletteSize : 1 << s.depth) - 1
                                                               : (1 << s.depth) - 1;
    const size_t rowBytes = ((size_t)s.width * ch * s.depth + 7) / 8;
    std::vector<Bytes> rows(s.height, Bytes(rowBytes, 0));
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t x = 0; x < s.width; ++x) {
            for (int c = 0; c < ch; ++c) {
                int v = (int)((x * (3 + c) + y * (5 + 2 * c)) & 0xFF);
                if ((x / 7 + y / 5) % 3 == 0)
                    v = r.Byte();
                if (c == 3 || (ch == 2 && c == 1))
                    v = (x * 29 + y * 3) % 256 < 40 ? 0 : (x * 29 + y * 3) % 256 > 215 ? 255 : v;
                v = v * (maxValue + 1) / 256;
                if (s.depth == 8) {
                    rows[y][(size_t)x * ch + c] = (uint8_t)v;
                } else {
                    size_t bit = (size_t)x * s.depth;
                    rows[y][bit / 8] |= (uint8_t)(v << (8 - s.depth - bit % 8));
                }
            }
        }
    }
    return rows;
}

inline std::vector<png_color> MakePalette(int n)
{
    std::vector<png_color> pal(n);
    for (int i = 0; i < n; ++i)
        pal[i] = { (png_byte)(i * 37 + 11), (png_byte)(255 - i * 13), (png_byte)(i * 101 + 7) };
    return pal;
}

inline Bytes WritePng(const PngShape& s, const std::vector<Bytes>& rows)
{
    pngmem::Writer w;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test file";
        return {};
    }
    png_set_write_fn(png, &w, pngmem::Writer::Write, pngmem::Writer::Flush);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
        pal = MakePalette(s.paletteSize ? s.paletteSize : 1 << s.depth);
        png_set_PLTE(png, info, pal.data(), (int)pal.size());
    }
    png_set_filter(png, 0, s.filters);
    png_set_compression_level(png, s.level);
    png_write_info(png, info);
    std::vector<png_bytep> ptrs;
    for (const Bytes& r : rows)
        ptrs.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return w.out;
}

inline Bytes MakePng(const PngShape& s, uint32_t seed = 1) { return WritePng(s, MakeRows(s, seed)); }

// What libpng makes of a file, expanded to 8-bit RGBA, top row first. Empty
// if libpng refuses it.
inline Bytes ReferenceRgba(const Bytes& file, uint32_t* width = nullptr, uint32_t* height = nullptr)
{
    pngmem::Reader r{ &file, 0 };
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_set_read_fn(png, &r, pngmem::Reader::Read);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    out.assign((size_t)w * h * 4, 0);
    std::vector<png_bytep> ptrs(h);
    for (uint32_t y = 0; y < h; ++y)
        ptrs[y] = &out[(size_t)y * w * 4];
    png_read_image(png, ptrs.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    if (width)
        *width = w;
    if (height)
        *height = h;
    return out;
}

// The reference as the module shows it: alpha composited over black.
inline Bytes ReferenceRgb(const Bytes& file)
{
    Bytes rgba = ReferenceRgba(file);
    Bytes rgb;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            rgb.push_back((uint8_t)(rgba[i + c] * rgba[i + 3] / 255));
    return rgb;
}

// ---- the decoder under test ------------------------------------------------------

// One Img_DecodePng call whose results are released when it goes away.
struct Decoded {
    HBITMAP dib = nullptr;
    IMG_INFO info{};

    explicit Decoded(const Bytes& file) : Decoded(file.data(), file.size()) {}
    Decoded(const uint8_t* data, size_t size)
    {
        info.cbData = (DWORD)size;
        dib = Img_DecodePng(nullptr, data, &info);
    }
    ~Decoded()
    {
        if (dib)
            DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
        HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;

    const BITMAPINFOHEADER& Header() const { return info.pBitmapInfo->bmiHeader; }

    // The DIB's pixels as RGB through its colour table, top row first.
    Bytes Rgb() const
    {
        const BITMAPINFOHEADER& h = Header();
        const DWORD stride = Img_GetRowBytes(h.biWidth, h.biBitCount);
        const BYTE* bits = static_cast<const BYTE*>(info.pBits);
        Bytes out;
        for (LONG y = 0; y < h.biHeight; ++y) {
            const BYTE* row = bits + (size_t)(h.biHeight - 1 - y) * stride;
            for (LONG x = 0; x < h.biWidth; ++x) {
                if (h.biBitCount == 24) {
                    out.insert(out.end(), { row[3 * x + 2], row[3 * x + 1], row[3 * x] });
                    continue;
                }
                const int bpp = h.biBitCount, perByte = 8 / bpp;
                const int index = (row[x / perByte] >> (8 - bpp * (x % perByte + 1))) & ((1 << bpp) - 1);
                EXPECT_LT((DWORD)index, info.nColors) << "pixel " << x << "," << y << " outside the colour table";
                const RGBQUAD& q = info.pBitmapInfo->bmiColors[index];
                out.insert(out.end(), { q.rgbRed, q.rgbGreen, q.rgbBlue });
            }
        }
        return out;
    }
};

// Checks that a test released every heap block and GDI object it made.
class LeakCheck {
public:
    LeakCheck() : start_(NativeWin_Counts()) {}
    ~LeakCheck()
    {
        NativeWinCounts now = NativeWin_Counts();
        EXPECT_EQ(now.heapBlocks, start_.heapBlocks) << "heap blocks leaked";
        EXPECT_EQ(now.gdiObjects, start_.gdiObjects) << "GDI objects leaked";
    }

private:
    NativeWinCounts start_;
};

} // namespace pngtest
